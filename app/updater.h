#pragma once
// The external updater: a program beside Postira that is only started, with the product code, the
// version and the program's file name.

#include <QString>
#include <QStringList>

struct UpdaterLaunch {
    QString program;
    QStringList arguments;
};

// The updater's fifth word: it tells the updater which product line asks.
inline constexpr const char* kUpdaterChannel = "postira";

// `programFolder` without a trailing separator. "Install.exe" wins over "Updater.exe"; on Linux the same
// names without ".exe" are accepted too. When none exists, "Updater.exe" is named anyway and the start
// reports the failure.
UpdaterLaunch BuildUpdaterLaunch(const QString& programFolder, const QString& version, const QString& fileName);

// The parameter text as one line, as the updater receives it.
QString UpdaterParameterText(const UpdaterLaunch& launch);

// Starts the updater without waiting; shows the error message when it could not be started.
void StartUpdater(const QString& programFolder, const QString& version, const QString& fileName);
