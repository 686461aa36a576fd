#include "app/updater.h"

#include "ui/services.h"

#include <QFileInfo>

namespace {

const char* const kUpdateFailed = "Online Update konnte nicht gestartet werden oder vom Benutzer abgebrochen!";
// Without an updater beside the program, the program came as a package: updates come with the system's.
const char* const kUpdateByPackage =
    "Postira wird über die Paketverwaltung des Systems aktualisiert, mit den anderen Programmen: das Paket heißt "
    "\"postira\" (zum Beispiel: sudo apt install --only-upgrade postira).";

}  // namespace

UpdaterLaunch BuildUpdaterLaunch(const QString& programFolder, const QString& version, const QString& fileName) {
    const QString folder = programFolder + QLatin1Char('/');
    QString program = folder + QStringLiteral("Updater.exe");
    for (const char* candidate : {"Install.exe", "Install", "Updater.exe", "Updater"}) {
        if (QFileInfo(folder + QLatin1String(candidate)).isFile()) {
            program = folder + QLatin1String(candidate);
            break;
        }
    }
    return {program,
            {QStringLiteral("korvexD"), version, fileName, QStringLiteral("0"), QString::fromLatin1(kUpdaterChannel)}};
}

QString UpdaterParameterText(const UpdaterLaunch& launch) { return launch.arguments.join(QLatin1Char(' ')); }

void StartUpdater(const QString& programFolder, const QString& version, const QString& fileName) {
    const UpdaterLaunch launch = BuildUpdaterLaunch(programFolder, version, fileName);
    if (!QFileInfo(launch.program).isFile()) {
        services::Messages().Information(QString::fromUtf8(kUpdateByPackage));
        return;
    }
    if (!services::Starter().StartDetached(launch.program, launch.arguments)) {
        services::Messages().Error(QString::fromUtf8(kUpdateFailed));
    }
}
