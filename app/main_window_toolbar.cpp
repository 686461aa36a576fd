// The toolbar of the main window: every command, left to right, in groups.

#include "app/main_window.h"
#include "ui/tool_bar.h"

#include <QSize>
#include <QToolBar>
#include <QToolButton>

namespace {

constexpr int kButtonSize = 30;

}  // namespace

void TFormNewMail::BuildToolBar() {
    ToolBar1 = new QToolBar(this);
    ToolBar1->setObjectName(QStringLiteral("ToolBar1"));
    ToolBar1->setMovable(false);
    ToolBar1->setFloatable(false);
    ToolBar1->setContextMenuPolicy(Qt::PreventContextMenu);
    ToolBar1->toggleViewAction()->setVisible(false);
    addToolBar(Qt::TopToolBarArea, ToolBar1);

    // Every button is 30 x 30 with a picture, its hint as tooltip, and runs its command through the general
    // error display.
    auto add = [this](const char* name, const char* hint, const char* themeIcon, QStyle::StandardPixmap fallback,
                      void (TFormNewMail::*handler)()) {
        QToolButton* button = AddCommandButton(ToolBar1, name, QString::fromUtf8(hint), themeIcon, fallback,
                                               [this, handler] { RunCommand(handler); });
        button->setIconSize(QSize(22, 22));
        button->setFixedSize(kButtonSize, kButtonSize);
    };

    add("ToolButton1", "Empfängerliste", "x-office-address-book", QStyle::SP_FileDialogDetailedView,
        &TFormNewMail::BitBtnListClick);
    add("ToolButton2", "Einstellungen speichern", "document-save", QStyle::SP_DialogSaveButton,
        &TFormNewMail::BitBtnSaveSenderClick);
    // Not one of the classic buttons: it edits the options kept beside the settings.
    add("ToolButtonOptions", "Versandoptionen", "preferences-system", QStyle::SP_FileDialogInfoView,
        &TFormNewMail::BitBtnOptionsClick);
    add("ToolButtonCheckMailing", "Mailing prüfen", "tools-check-spelling", QStyle::SP_FileDialogContentsView,
        &TFormNewMail::BitBtnCheckMailingClick);
    add("ToolButton3", "Mailing starten", "mail-send", QStyle::SP_MediaPlay, &TFormNewMail::BtnMailClick);
    add("ToolButton4", "Mailing stoppen", "process-stop", QStyle::SP_MediaStop, &TFormNewMail::BitBtnStopClick);
    ToolBar1->addSeparator();
    add("ToolButtonCheck", "Prüfe Onlineverbindung", "network-wired", QStyle::SP_DriveNetIcon,
        &TFormNewMail::BitBtnCheckClick);
    add("ToolButton8", "Testmail senden", "mail-message-new", QStyle::SP_CommandLink,
        &TFormNewMail::BitBtnTestmailClick);
    ToolBar1->addSeparator();
    add("ToolButton14", "Messagefeld löschen", "edit-clear", QStyle::SP_DialogResetButton,
        &TFormNewMail::BitBtn4Click);
    add("ToolButton6", "Messagetext kopieren", "edit-copy", QStyle::SP_FileDialogContentsView,
        &TFormNewMail::BitBtn5Click);
    add("ToolButton19", "Textdatei im Messagefeld öffnen", "document-open", QStyle::SP_DialogOpenButton,
        &TFormNewMail::BitBtn1Click);
    add("ToolButton11", "Standard Mailtext öffnen", "text-x-generic", QStyle::SP_FileIcon,
        &TFormNewMail::BitBtnDefaultClick);
    add("ToolButton12", "Text speichern", "document-save-as", QStyle::SP_DriveFDIcon, &TFormNewMail::BitBtn2Click);
    ToolBar1->addSeparator();
    add("ToolButton15", "Über Postira", "help-about", QStyle::SP_MessageBoxInformation,
        &TFormNewMail::BitBtnAboutClick);
    add("ToolButton16", "Hilfe", "help-contents", QStyle::SP_DialogHelpButton, &TFormNewMail::BitBtnHelpClick);
    add("ToolButton13", "Online Update", "system-software-update", QStyle::SP_BrowserReload,
        &TFormNewMail::ToolButton13Click);
    ToolBar1->addSeparator();
    add("ToolButton18", "Beenden", "application-exit", QStyle::SP_DialogCloseButton,
        &TFormNewMail::ToolButton18Click);
    ToolBar1->addSeparator();
}
