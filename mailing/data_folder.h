#pragma once
// Where the program keeps its files: one data folder with the recipient list, the standard text and
// the settings.

#include <string>

// The user's data folder (XDG_DATA_HOME, usually ~/.local/share) followed by "ptdata/". Always ends in
// a separator, so that file names can simply be appended.
std::string ComputeDataFolder();

// The path of one of the data folder's files. Names are matched without regard to letter case, so a
// "Sendlist.csv" copied from another system is found; when no file matches, the canonical name is used.
std::string DataFilePath(const std::string& dataFolder, const std::string& canonicalName);

// Creates the data folder, with any missing parents. Failure is ignored: the following read or write
// reports it with the file's name.
void CreateDataFolder(const std::string& dataFolder);
