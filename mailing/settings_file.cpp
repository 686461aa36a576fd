#include "mailing/settings_file.h"

#include "mailing/data_folder.h"
#include "mailing/file_io.h"
#include "mailing/list_file.h"

SettingsFile::SettingsFile(std::string dataFolder) : dataFolder_(std::move(dataFolder)) {}

std::string SettingsFile::Path() const { return DataFilePath(dataFolder_, kSettingsFileName); }

AccountSettings SettingsFile::LoadSettings() {
    CreateDataFolder(dataFolder_);
    return ReadSettings();
}

AccountSettings SettingsFile::ReadSettings() {
    reserved_ = {};
    const std::string path = Path();
    if (!PathExists(path)) return {};
    return DecodeSettingsFile(ReadWholeFile(path), reserved_);
}

void SettingsFile::SaveSettings(const AccountSettings& values) const {
    // Readable by the owner only: the file holds the mail password.
    WriteFileAtomic(Path(), EncodeSettingsFile(values, reserved_), 0600, /*forceMode=*/true);
}
