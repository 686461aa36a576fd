// For the integration tests: the list editor without a screen, as a user meets it. Shows the grid window
// on a data folder (which loads its list and any interrupted run's sends) and saves over that list with
// "Liste speichern". Prints every message box as "<caption>: <text>".
//   grid_tool DATAFOLDER        exit code 0 saved, 3 the save was refused, 1 another message
#include "listedit/form_grid.h"
#include "tests/support/qt/fake_services.h"

#include <QApplication>
#include <QToolButton>

#include <cstdio>

int main(int argc, char** argv) {
    if (argc != 2) return 2;
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    FakeServices services;
    TFormGrid grid;
    grid.SetDataFolder(std::string(argv[1]) + "/");
    grid.show();
    const size_t loaded = services.messages.shown.size();
    services.dialogs.results.push_back(QString::fromLocal8Bit(grid.ListFileName.c_str()));
    grid.findChild<QToolButton*>(QStringLiteral("ToolButton4"))->click();
    for (const ShownMessage& message : services.messages.shown)
        std::printf("%s: %s\n", message.kind.toUtf8().constData(), message.text.toUtf8().constData());
    if (services.messages.shown.size() == loaded) return 0;
    return services.messages.shown.back().kind == QStringLiteral("Warnung") ? 3 : 1;
}
