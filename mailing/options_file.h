#pragma once
// The options file "postira-optionen.ini" in the data folder, beside the settings file.

#include "mailing/send_options.h"

#include <string>
#include <vector>

inline constexpr const char* kOptionsFileName = "postira-optionen.ini";

class OptionsFile {
public:
    explicit OptionsFile(std::string dataFolder);

    // Reads the file; never throws. A missing file gives the defaults; a file that cannot be read or
    // is damaged gives the defaults too, and Note() says so.
    SendOptions Load();
    // Why the last Load fell back to the defaults; empty when it did not, or the file was missing.
    const std::string& Note() const { return note_; }
    // Writes the options, with the unknown lines of the last Load, replacing the file atomically,
    // readable by the owner only. Throws EFileError.
    void Save(const SendOptions& options) const;
    std::string Path() const;

private:
    std::string dataFolder_;
    std::vector<std::string> unknownLines_;
    std::string note_;
};
