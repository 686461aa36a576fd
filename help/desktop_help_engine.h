#pragma once
// The help engine on Linux desktops. A compiled help file is opened with whatever viewer the desktop has
// for it; without one (no program for ".chm" files is common, and Postira ships none), the HTML user
// guide beside the program is opened in the browser instead: its contents page for the table of contents,
// the list editor's page for the list editor's context. When neither is there, the user is told so.

#include "help/help_viewer.h"

// Where the guide lies for a program in `programFolder`: a "help" folder beside it (the build tree), else
// the installed program's data folder "../share/postira/help".
QString GuideFolderFor(const QString& programFolder);

class DesktopHelpEngine : public HtmlHelpEngine {
public:
    // The context number of the list editor windows.
    static constexpr int kListEditorContext = 100;

    // `guideFolder`: where the HTML guide lies; by default GuideFolderFor the program's folder.
    explicit DesktopHelpEngine(QString guideFolder = {});

    void HtmlHelp(QWidget* owner, const QString& file, int command, const QVariant& data) override;

    // The guide page that stands for a request.
    static QString GuidePage(int command, const QVariant& data, const QString& topic);

private:
    QString guideFolder_;
};
