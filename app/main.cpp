// Program start: creates the main window and the four other windows in order, loads the settings and
// runs the message loop until the main window is closed.

#include "app/about_box.h"
#include "app/main_window.h"
#include "help/desktop_help_engine.h"
#include "help/help_viewer.h"
#include "listedit/form_grid.h"
#include "listedit/form_import.h"
#include "listedit/form_loeschen.h"
#include "mailing/core_dumps.h"
#include "mailing/smtp_transport.h"
#include "ui/icons.h"
#include "ui/services.h"

#include <QApplication>
#include <QLibraryInfo>
#include <QLocale>
#include <QTranslator>

#include <csignal>
#include <exception>
#include <memory>

int main(int argc, char** argv) {
    TurnOffCoreDumps();
    // A server that closes the connection while we write must give an error, not end the program.
    std::signal(SIGPIPE, SIG_IGN);

    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("Postira"));
    QApplication::setApplicationVersion(QStringLiteral(POSTIRA_VERSION));
    QApplication::setWindowIcon(ProgramIcon());
    EnsureIconTheme();

    // Qt's own texts (dialog buttons, context menus) in German, like the rest of the program.
    QTranslator qtTranslator;
    if (qtTranslator.load(QLocale(QLocale::German), QStringLiteral("qtbase"), QStringLiteral("_"),
                          QLibraryInfo::path(QLibraryInfo::TranslationsPath))) {
        QApplication::installTranslator(&qtTranslator);
    }

    // Help requests of every window go through the help manager to this viewer; the WinHelp tester
    // declines everything, so that no other viewer claims a request.
    TVelHtmlHelpViewer helpViewer(std::make_unique<DesktopHelpEngine>());
    helpViewer.Register(HelpManager::Instance());
    TVelWinHelpTester winHelpTester;
    HelpManager::Instance().SetWinHelpTester(&winHelpTester);

    TFormNewMail mainWindow;
    mainWindow.SetTransportFactory([] { return CreateSmtpTransport(); });
    TAboutBox about(&mainWindow);
    TFormGrid grid(&mainWindow);
    TFormLoeschen deleteRows(&mainWindow);
    TFormImport import(&mainWindow);
    grid.SetDeleteDialog(&deleteRows);
    grid.SetImportWindow(&import);
    mainWindow.SetOtherWindows({&about, &grid, &deleteRows, &import});

    // An error while the main window is first shown ends the program after its message.
    try {
        mainWindow.FormShow();
    } catch (const std::exception& error) {
        services::Messages().ErrorWithCaption(ApplicationTitle(), QString::fromUtf8(error.what()));
        return 1;
    }
    mainWindow.show();
    const int result = QApplication::exec();
    helpViewer.Unregister();
    HelpManager::Instance().SetWinHelpTester(nullptr);
    return result;
}
