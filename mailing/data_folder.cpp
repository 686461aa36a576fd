#include "mailing/data_folder.h"

#include "mailing/list_file.h"

#include <QStandardPaths>

#include <dirent.h>
#include <filesystem>
#include <sys/stat.h>
#include <strings.h>

std::string ComputeDataFolder() {
    std::string base = QStandardPaths::writableLocation(QStandardPaths::GenericDataLocation).toStdString();
    while (base.size() > 1 && base.back() == '/') base.pop_back();
    return base + "/" + kDataFolderName + "/";
}

std::string DataFilePath(const std::string& dataFolder, const std::string& canonicalName) {
    const std::string exact = dataFolder + canonicalName;
    std::error_code error;
    if (std::filesystem::exists(exact, error)) return exact;

    DIR* folder = ::opendir(dataFolder.c_str());
    if (folder == nullptr) return exact;
    std::string found;
    while (const dirent* entry = ::readdir(folder)) {
        if (::strcasecmp(entry->d_name, canonicalName.c_str()) == 0) {
            found = entry->d_name;
            break;
        }
    }
    ::closedir(folder);
    return found.empty() ? exact : dataFolder + found;
}

void CreateDataFolder(const std::string& dataFolder) {
    // Unlike a plain one-level mkdir, the parents are created too: on a fresh account the user's data
    // folder itself may not exist yet, and the settings could then never be saved. The folder itself is
    // the user's alone (it holds the settings and the list of customers); one that exists keeps its
    // permissions, which a folder shared on purpose needs.
    const std::filesystem::path folder = std::filesystem::path(dataFolder).lexically_normal();
    const std::filesystem::path own = folder.has_filename() ? folder : folder.parent_path();
    std::error_code ignored;
    std::filesystem::create_directories(own.parent_path(), ignored);
    ::mkdir(own.c_str(), 0700);
}
