#pragma once
// The settings file "postira.ini" in the data folder.

#include "mailing/settings_text.h"

#include <string>

class SettingsFile {
public:
    explicit SettingsFile(std::string dataFolder);

    // Creates the data folder, then reads the file. A missing file gives empty values. A file that cannot
    // be read throws EFileError. Any content is accepted: missing lines give empty values.
    AccountSettings LoadSettings();
    // The same without creating the data folder: for the check, which changes nothing on disk.
    AccountSettings ReadSettings();
    // Writes the values and the reserved lines as last read, enciphered, replacing the file atomically,
    // readable by the owner only (it holds the password). Throws EFileError.
    void SaveSettings(const AccountSettings& values) const;

    const ReservedLines& Reserved() const { return reserved_; }
    std::string Path() const;

private:
    std::string dataFolder_;
    ReservedLines reserved_;
};
