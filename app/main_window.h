#pragma once
// The main window "Korvex": the account fields, the fields of the current mail, the message text, the
// progress bar, the status panel and the toolbar with every command.

#include "app/online_check.h"
#include "app/window_front_end.h"
#include "mailing/mailing_check.h"
#include "mailing/send_one.h"
#include "mailing/options_file.h"
#include "mailing/sent_folder.h"
#include "mailing/settings_file.h"

#include <QMainWindow>

#include <functional>
#include <memory>
#include <string>

class QLabel;
class QLineEdit;
class QPlainTextEdit;
class QProgressBar;
class QToolBar;
class QToolButton;
class TAboutBox;
class TFormGrid;
class TFormImport;
class TFormLoeschen;
class AccountSecrets;
class OAuthTokenSource;
class SecretStore;
class TFormCheck;
class TFormOptions;
class ThreadedTransport;

// The windows the program creates at start, besides the main window. They live as long as it does.
struct OtherWindows {
    TAboutBox* about = nullptr;
    TFormGrid* grid = nullptr;
    TFormLoeschen* deleteRows = nullptr;
    TFormImport* import = nullptr;
};

class TFormNewMail : public QMainWindow {
    Q_OBJECT
public:
    explicit TFormNewMail(QWidget* parent = nullptr);
    ~TFormNewMail() override;

    // Takes the other windows; their help requests (context 100) go to the application's help manager.
    void SetOtherWindows(const OtherWindows& windows);

    // Runs once before the window is first shown: computes the data folder, accepts dropped files and
    // loads the settings into the account fields. Throws when the settings file cannot be read; the
    // program then reports the error and ends.
    void FormShow();

    // Toolbar commands. Each runs through the general error display.
    void BtnMailClick();        // "Mailing starten"
    void BitBtnStopClick();     // "Mailing stoppen"
    void BitBtnTestmailClick(); // "Testmail senden"
    void BitBtnCheckClick();    // "Prüfe Onlineverbindung"
    void BitBtnOpenClick();     // the attachment picker of the test mail
    void BitBtnListClick();
    void BitBtnSaveSenderClick();
    void BitBtnOptionsClick();  // "Versandoptionen"
    void BitBtnCheckMailingClick();  // "Mailing prüfen"
    void BitBtnHelpClick();
    void BitBtnAboutClick();
    void ToolButton13Click();
    void ToolButton18Click();
    // Message text tools.
    void BitBtn1Click();        // open a text file into the message field
    void BitBtn2Click();        // save the message text
    void BitBtn5Click();        // copy the message text
    void BitBtn4Click();        // clear the message field
    void BitBtnDefaultClick();  // the standard text
    void LoadStandardText();

    // Sends the mail the window's fields describe; false (SendFailed) when it did not go out. With the
    // option "Kopie in den Ordner „Gesendet“" the mail's copy goes there; a failed copy is a warning.
    bool SendOneMessage();
    bool SendFailed() const { return sendFailed_; }

    // The mail transport behind every send (the SMTP client); tests put in their own.
    void SetTransport(std::unique_ptr<MailTransport> transport);
    // How the window makes its transport when it first needs one (the program: the SMTP client).
    void SetTransportFactory(std::function<std::unique_ptr<MailTransport>()> factory) {
        transportFactory_ = std::move(factory);
    }
    MailTransport& Transport();
    void SetOnlineChecker(std::unique_ptr<OnlineChecker> checker) { onlineChecker_ = std::move(checker); }
    // How the copies in the Sent folder get their IMAP client; tests give one that trusts their certificate.
    void SetImapClients(ImapClientFactory clients) { imapClients_ = std::move(clients); }

    bool StopRequested() const { return stopRequested_; }
    void SetStopRequested(bool stop) { stopRequested_ = stop; }
    // True while a run or a test mail is in progress.
    bool Busy() const { return busy_; }

    void ShowConnected(bool connected);
    void SetCurrentTextFile(const QString& path) { currentTextFile_ = path; }
    // Whether the message field's text was read as Windows-1252, so that saving writes it back alike.
    void SetCurrentTextLegacy(bool legacy) { currentTextLegacy_ = legacy; }

    // The status panel: one line, navy for normal states, maroon for an aborted run.
    void SetStatus(const QString& text, bool aborted = false);
    QString StatusText() const;

    // Loads a text file into the message field and remembers it as the current text file.
    void LoadMessageFile(const QString& path);

    const std::string& DataFolder() const { return dataFolder_; }
    const std::string& StandardTextPath() const { return standardTextPath_; }
    const QString& CurrentTextFile() const { return currentTextFile_; }
    const QString& HelpFile() const { return helpFile_; }
    // The folder the updater is looked for in: the program's own, unless a test says otherwise.
    void SetProgramFolder(const QString& folder) { programFolder_ = folder; }

    // The account values as the fields hold them, as bytes for the settings file.
    AccountSettings AccountFields() const;
    // The sending options in force: as loaded at start, or as last confirmed in "Versandoptionen".
    const SendOptions& Options() const { return sendOptions_; }
    // The window "Versandoptionen", made when first asked for.
    TFormOptions& OptionsWindow();
    // The window "Mailing prüfen", made when first asked for.
    TFormCheck& CheckWindow();
    // What a check or a preview reads now: the list, the account fields, the options, the copy list.
    CheckInput CheckInputNow() const;
    // The keyring behind the sign-in and behind a password kept there (the program's: the desktop's
    // keyring, or a file in the data folder); tests hand in their own.
    void SetSecretStore(std::shared_ptr<SecretStore> store);
    // The access tokens of the OAuth2 sign-in in force, for every send; nothing for the password.
    std::shared_ptr<TIdAccessTokenSource> AccessTokens();

signals:
    // The help contents were asked for ("Hilfe" or F1).
    void HelpContentsRequested();

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;
    void closeEvent(QCloseEvent* event) override;

private:
    void BuildControls();
    void BuildToolBar();
    void FormKeyDown(int key);
    void WMDropFiles(const QStringList& paths);
    // Runs a toolbar command through the general error display, then closes the window if that was asked
    // for while the command kept it busy.
    void RunCommand(void (TFormNewMail::*handler)());
    // Disables what a run or a send uses, and enables it again.
    void SetBusy(bool busy);
    class BusyScope;
    MailFields CurrentFields() const;
    // Loads the options and the settings into the account fields (at start).
    void LoadAccount();
    // Writes the settings and then the sending options ("Einstellungen speichern", "Beenden").
    void SaveAccount();
    AccountSecrets& Secrets();
    // With the option "Vor jedem Mailing prüfen": checks the mailing and, when anything is found, asks
    // whether to send anyway. True when the run may start.
    bool CheckBeforeRun();
    // The copy of the test mail in the Sent folder (main_window_sent_copy); a failure is a warning.
    void CopyTestMail(const std::string& message);
    // "Mailing prüfen" with the copy on: whether the Sent folder is found, into the report.
    void CheckSentFolderInto(CheckReport& report);

    // The recipient, subject, attachment and text the user had, put back after a run (main_window_guards).
    struct UserFields {
        QString mail, subject, attachment, message, textFile;
        bool legacy = false, modified = false;
    };
    UserFields TakeUserFields() const;
    void PutBackUserFields(const UserFields& fields);
    // Takes the user's fields when made and puts them back when it goes, on every path out of a run.
    struct UserFieldsScope {
        explicit UserFieldsScope(TFormNewMail& window) : window(window), fields(window.TakeUserFields()) {}
        ~UserFieldsScope() { window.PutBackUserFields(fields); }
        TFormNewMail& window;
        const UserFields fields;
    };
    // A test mail to one of the list's recipients asks first; true to send.
    bool ConfirmTestRecipient();
    // The account fields and options as last loaded or saved; closing with others asks first.
    void RememberSavedAccount();
    bool MayCloseWithAccount();
    // An unsaved text in the message field asks first before it is replaced; true to go on.
    bool MayReplaceMessageText();

    OtherWindows windows_;
    WindowFrontEnd frontEnd_{*this};
    std::unique_ptr<ThreadedTransport> transport_;
    std::function<std::unique_ptr<MailTransport>()> transportFactory_;
    std::unique_ptr<OnlineChecker> onlineChecker_;
    ImapClientFactory imapClients_ = DefaultImapClients();
    bool stopRequested_ = false;
    bool sendFailed_ = false;
    bool busy_ = false;
    bool closeAsked_ = false;  // the window was asked to close while busy
    std::unique_ptr<SettingsFile> settings_;
    bool settingsLegacy_ = false;  // the settings file held Windows-1252 text
    std::unique_ptr<OptionsFile> optionsFile_;
    SendOptions sendOptions_;
    AccountSettings savedAccount_;
    SendOptions savedOptions_;
    TFormOptions* optionsWindow_ = nullptr;
    TFormCheck* checkWindow_ = nullptr;
    bool passwordInKeyringSaved_ = false;  // the settings file as last read or written left the password out
    std::shared_ptr<AccountSecrets> secrets_;
    std::shared_ptr<OAuthTokenSource> tokenSource_;
    SendOptions tokenOptions_;  // what tokenSource_ was made for
    std::string tokenUser_;
    std::string dataFolder_;
    std::string standardTextPath_;
    QString currentTextFile_;
    bool currentTextLegacy_ = false;
    QString helpFile_;
    QString programFolder_;

public:
    // Controls, named as users and tests know them.
    QToolBar* ToolBar1 = nullptr;
    QLineEdit* EditHost = nullptr;
    QLineEdit* EditPort = nullptr;
    QLineEdit* EditUser = nullptr;
    QLineEdit* MaskEdit = nullptr;
    QLineEdit* EditMail = nullptr;
    QLineEdit* Edit1 = nullptr;
    QLineEdit* EditCC = nullptr;
    QLineEdit* EditSubject = nullptr;
    QLineEdit* EditPatch = nullptr;
    QPlainTextEdit* Memo2 = nullptr;
    QLabel* ImageDisconnect = nullptr;
    QLabel* ImageConnect = nullptr;
    QLabel* LabelStatus = nullptr;
    QProgressBar* Progressbar1 = nullptr;
    QLabel* PanelMessage = nullptr;
    QPlainTextEdit* MemoIni = nullptr;
};
