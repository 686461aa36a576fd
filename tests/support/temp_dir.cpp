#include "tests/support/temp_dir.h"

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <stdexcept>

TempDir::TempDir() {
    std::string pattern = (std::filesystem::temp_directory_path() / "postira-XXXXXX").string();
    if (mkdtemp(pattern.data()) == nullptr) throw std::runtime_error("mkdtemp failed");
    path_ = pattern;
}

TempDir::~TempDir() {
    std::error_code ignored;
    std::filesystem::remove_all(path_, ignored);
}

void TempDir::Write(const std::string& name, const std::string& bytes) const {
    std::ofstream out(File(name), std::ios::binary | std::ios::trunc);
    out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    if (!out) throw std::runtime_error("cannot write " + File(name));
}

std::string TempDir::Read(const std::string& name) const {
    std::ifstream in(File(name), std::ios::binary);
    if (!in) throw std::runtime_error("cannot read " + File(name));
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

DataHome::DataHome() {
    if (const char* old = getenv("XDG_DATA_HOME")) {
        saved_ = old;
        wasSet_ = true;
    }
    setenv("XDG_DATA_HOME", Path().c_str(), 1);
}

void DataHome::WriteOptions(const std::string& text) const {
    std::filesystem::create_directories(File("ptdata"));
    Write("ptdata/postira-optionen.ini", text);
}

DataHome::~DataHome() {
    if (wasSet_) {
        setenv("XDG_DATA_HOME", saved_.c_str(), 1);
    } else {
        unsetenv("XDG_DATA_HOME");
    }
}
