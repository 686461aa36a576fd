#pragma once
// A private temporary folder for one test, removed with everything in it when the object goes.

#include <string>

class TempDir {
public:
    TempDir();
    ~TempDir();
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;

    // The folder's path, without a trailing separator.
    const std::string& Path() const { return path_; }
    // Path of a name inside the folder.
    std::string File(const std::string& name) const { return path_ + "/" + name; }

    void Write(const std::string& name, const std::string& bytes) const;
    std::string Read(const std::string& name) const;

private:
    std::string path_;
};

// A private temporary folder that is the user's data home (XDG_DATA_HOME) while it lives; the earlier
// value comes back when it goes.
class DataHome : public TempDir {
public:
    DataHome();
    ~DataHome();

    // Writes the options file of the data folder, so that a window started now reads these options.
    // Tests of the run itself take "check-before-run=nein": the check before a run has tests of its own.
    void WriteOptions(const std::string& text) const;

private:
    std::string saved_;
    bool wasSet_ = false;
};
