#include "help/desktop_help_engine.h"

#include "help/guide_window.h"

#include "ui/services.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
#include <QUrl>

namespace {

const char* const kNoHelp =
    "Die Hilfe ist nicht vorhanden: weder die Hilfedatei noch die Anleitung im Ordner \"help\" neben dem "
    "Programm wurde gefunden.";
const char* const kGuideLooked = "Gesucht wurde die Anleitung in \"%1\".";

}  // namespace

QString GuideFolderFor(const QString& programFolder) {
    const QString beside = programFolder + QStringLiteral("/help");
    if (QFileInfo(beside + QStringLiteral("/index.html")).isFile()) return beside;
    return QDir::cleanPath(programFolder + QStringLiteral("/../share/postira/help"));
}

DesktopHelpEngine::DesktopHelpEngine(QString guideFolder) : guideFolder_(std::move(guideFolder)) {
    if (guideFolder_.isEmpty()) guideFolder_ = GuideFolderFor(QCoreApplication::applicationDirPath());
}

QString DesktopHelpEngine::GuidePage(int command, const QVariant& data, const QString& topic) {
    if (command == HH_HELP_CONTEXT && data.toInt() == kListEditorContext) return QStringLiteral("empfaengerliste.html");
    if (command == HH_DISPLAY_TOPIC && !topic.isEmpty()) return QFileInfo(topic).fileName();
    return QStringLiteral("index.html");
}

void DesktopHelpEngine::HtmlHelp(QWidget* owner, const QString& file, int command, const QVariant& data) {
    // Help windows of the desktop are programs of their own; there is nothing of ours to close.
    if (command == HH_CLOSE_ALL || command == HH_GET_LAST_ERROR) return;

    const qsizetype separator = file.indexOf(QStringLiteral("::/"));
    const QString helpFile = separator < 0 ? file : file.left(separator);
    const QString topic = separator < 0 ? QString() : file.mid(separator + 3);

    if (QFileInfo(helpFile).isFile() && services::Starter().OpenUrl(QUrl::fromLocalFile(helpFile))) return;

    QString page = guideFolder_ + QLatin1Char('/') + GuidePage(command, data, topic);
    if (!QFileInfo(page).isFile()) page = guideFolder_ + QStringLiteral("/index.html");
    if (QFileInfo(page).isFile()) {
        if (services::Starter().OpenUrl(QUrl::fromLocalFile(page))) return;
        // No browser could be started: the guide in the program's own window.
        GuideWindow(owner).ShowPage(page);
        return;
    }
    services::Messages().Warning(QString::fromUtf8(kNoHelp) + QLatin1Char(' ') +
                                 QString::fromUtf8(kGuideLooked).arg(QDir::toNativeSeparators(guideFolder_)));
}
