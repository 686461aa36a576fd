#include "app/main_window.h"

#include "app/about_box.h"
#include "app/file_drop.h"
#include "app/options_window.h"
#include "app/threaded_transport.h"
#include "app/updater.h"
#include "help/help_manager.h"
#include "listedit/form_grid.h"
#include "listedit/form_import.h"
#include "mailing/data_folder.h"
#include "mailing/file_io.h"
#include "mailing/list_file.h"
#include "mailing/mailing_run.h"
#include "mailing/standard_text.h"
#include "mailing/text_codec.h"
#include "ui/gradient.h"
#include "ui/icons.h"
#include "ui/services.h"

#include <QApplication>
#include <QFileInfo>
#include <QCloseEvent>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QToolBar>
#include <QToolButton>
#include <QVBoxLayout>

namespace {

constexpr int kClientWidth = 761;
constexpr int kClientHeight = 476;
constexpr int kFontPixelSize = 11;

const QColor kBackground(239, 239, 248);
const QColor kGradientTop(214, 228, 254);
const QColor kNavy(0, 0, 128);
const QColor kMaroon(128, 0, 0);
const QColor kSilver(192, 192, 192);
const QColor kPurple(128, 0, 128);

const char* const kStatusSaved = "Einstellungen gespeichert.";
const char* const kHelpFileName = "postira.chm";
const char* const kCreateStandardText = "defaultmail.txt nicht gefunden. Neuen Standardtext erstellen?";
const char* const kAllFiles = "Alle|*.*";
const char* const kNoRecipient = "Bitte eine Empfängeradresse angeben!";
const char* const kAttachQuestion = "Möchten Sie eine Datei anhängen?";
const char* const kTestSubject = "Testmail";
const char* const kTestText = "Testmail Text";
const char* const kMailSent = "Mail gesendet!";

// True when the text holds anything but characters with codes 0 to 32.
bool HasVisibleText(const QString& text) {
    for (QChar c : text)
        if (c.unicode() > 32) return true;
    return false;
}

QLabel* MakeLabel(const QString& text, QWidget* parent) {
    auto* label = new QLabel(text, parent);
    label->setObjectName(QStringLiteral("Label_") + text);
    return label;
}

QLineEdit* MakeEdit(const char* name, QWidget* parent) {
    auto* edit = new QLineEdit(parent);
    edit->setObjectName(QString::fromLatin1(name));
    return edit;
}

// A green tick when the mail server was reached, a red cross when not: the two states must be told apart
// at a glance, which the themes' two network pictures are not.
QPixmap ConnectionPicture(bool connected) {
    const QIcon icon = QApplication::style()->standardIcon(connected ? QStyle::SP_DialogApplyButton
                                                                     : QStyle::SP_DialogCancelButton);
    return icon.pixmap(20, 20);
}

}  // namespace

TFormNewMail::TFormNewMail(QWidget* parent) : QMainWindow(parent) {
    setObjectName(QStringLiteral("FormNewMail"));
    setWindowTitle(QStringLiteral("Korvex"));
    // Fixed border with system menu and minimise button, no maximise.
    setWindowFlags(Qt::Window | Qt::WindowTitleHint | Qt::WindowSystemMenuHint | Qt::WindowMinimizeButtonHint |
                   Qt::WindowCloseButtonHint | Qt::MSWindowsFixedSizeDialogHint);
    setFixedSize(kClientWidth, kClientHeight);

    QFont font = QApplication::font();
    font.setPixelSize(kFontPixelSize);
    setFont(font);

    QPalette palette = this->palette();
    palette.setColor(QPalette::Window, kBackground);
    setPalette(palette);

    BuildToolBar();
    BuildControls();
    // The window sees key presses before its controls (F1 in any field opens the help).
    qApp->installEventFilter(this);
    // Files dropped anywhere on the window, its fields included, go to the message field.
    new FileDropCatcher(*this, [this](const QStringList& paths) { WMDropFiles(paths); });
}

TFormNewMail::~TFormNewMail() { qApp->removeEventFilter(this); }

void TFormNewMail::SetOtherWindows(const OtherWindows& windows) {
    windows_ = windows;
    auto contextHelp = [](int context) { RunGuarded([context] { HelpManager::Instance().ContextHelp(context); }); };
    if (windows_.grid != nullptr) connect(windows_.grid, &TFormGrid::HelpContextRequested, this, contextHelp);
    if (windows_.import != nullptr) connect(windows_.import, &TFormImport::HelpContextRequested, this, contextHelp);
    if (windows_.grid != nullptr) windows_.grid->previewInput = [this] { return CheckInputNow(); };
}

void TFormNewMail::SetTransport(std::unique_ptr<MailTransport> transport) {
    transport_ = std::make_unique<ThreadedTransport>(std::move(transport));
}

MailTransport& TFormNewMail::Transport() {
    if (!transport_) {
        if (!transportFactory_) throw std::logic_error("no mail transport configured");
        SetTransport(transportFactory_());
    }
    return *transport_;
}

void TFormNewMail::SetBusy(bool busy) {
    busy_ = busy;
    // While a run or a send lasts, nothing may change what it uses, and no command may open a window: a
    // modal window's event loop would hold the send that finished meanwhile (its journal record, and the
    // next mail's commands waiting at the server) until the window is closed. Only commands that open no
    // window stay: "Mailing stoppen", the online check, copying and clearing the message field.
    static const QStringList kStayEnabled = {QStringLiteral("ToolButton4"), QStringLiteral("ToolButtonCheck"),
                                             QStringLiteral("ToolButton6"), QStringLiteral("ToolButton14")};
    for (QToolButton* button : ToolBar1->findChildren<QToolButton*>()) {
        if (button->objectName().startsWith(QStringLiteral("ToolButton")) &&
            !kStayEnabled.contains(button->objectName()))
            button->setEnabled(!busy);
    }
    for (QLineEdit* field : {EditHost, EditPort, EditUser, MaskEdit, EditCC}) field->setReadOnly(busy);
}

MailFields TFormNewMail::CurrentFields() const {
    MailFields fields;
    fields.account = AccountFields();
    fields.options = sendOptions_;
    fields.recipients = ToLocal(EditMail->text());
    fields.cc = ToLocal(EditCC->text());
    fields.subject = ToLocal(EditSubject->text());
    fields.attachment = ToLocal(EditPatch->text());
    fields.body = ToLocal(Memo2->toPlainText());
    SetTextFile(fields, ToLocal(currentTextFile_));
    return fields;
}

void TFormNewMail::RunCommand(void (TFormNewMail::*handler)()) {
    // A close asked for during a run or a test mail takes effect once the command is over and the user
    // has seen its messages, the error display's included.
    RunGuarded([&] { (this->*handler)(); });
    if (closeAsked_ && !busy_) close();
}

// Marks the window busy for as long as it lives, on every path out.
class TFormNewMail::BusyScope {
public:
    explicit BusyScope(TFormNewMail& window) : window_(window) { window_.SetBusy(true); }
    ~BusyScope() { window_.SetBusy(false); }

private:
    TFormNewMail& window_;
};

void TFormNewMail::BtnMailClick() {
    if (busy_) return;  // one run at a time
    if (!CheckBeforeRun()) return;
    BusyScope busy(*this);
    const UserFieldsScope userFields(*this);
    MailingRun run(frontEnd_, Transport(), dataFolder_);
    run.SetImapClients(imapClients_);
    run.StartMailing();
}

void TFormNewMail::BitBtnStopClick() { stopRequested_ = true; }

void TFormNewMail::BitBtnOpenClick() {
    const auto chosen = services::Dialogs().OpenFile(this, QString::fromLatin1(kAllFiles), FromLocal(dataFolder_));
    if (chosen && !chosen->isEmpty()) EditPatch->setText(*chosen);
}

void TFormNewMail::BitBtnTestmailClick() {
    if (busy_) return;
    if (!HasVisibleText(EditMail->text())) {
        services::Messages().Warning(QString::fromUtf8(kNoRecipient));
        return;
    }
    if (!ConfirmTestRecipient()) return;
    if (services::Messages().Question(QString::fromUtf8(kAttachQuestion))) BitBtnOpenClick();
    QCoreApplication::processEvents();
    PanelMessage->clear();
    PanelMessage->repaint();
    BusyCursor busyCursor;
    BusyScope busy(*this);
    if (!HasVisibleText(EditSubject->text())) EditSubject->setText(QString::fromUtf8(kTestSubject));
    if (!HasVisibleText(Memo2->toPlainText())) {
        Memo2->setPlainText(QString::fromUtf8(kTestText));
        Memo2->document()->setModified(false);
        Memo2->repaint();
    }
    if (SendOneMessage()) PanelMessage->setText(QString::fromUtf8(kMailSent));
}

void TFormNewMail::BitBtnCheckClick() {
    if (!onlineChecker_) onlineChecker_ = std::make_unique<SystemOnlineChecker>();
    const bool online = onlineChecker_->GoOnline();
    ShowConnected(online);
    LabelStatus->setText(online ? QStringLiteral("Online") : QStringLiteral("Offline"));
    LabelStatus->show();
}

void TFormNewMail::BuildControls() {
    auto* central = new GradientWidget(kGradientTop, this);
    central->setObjectName(QStringLiteral("ClientArea"));
    setCentralWidget(central);

    EditHost = MakeEdit("EditHost", central);
    EditPort = MakeEdit("EditPort", central);
    EditUser = MakeEdit("EditUser", central);
    MaskEdit = MakeEdit("MaskEdit", central);
    MaskEdit->setEchoMode(QLineEdit::Password);
    MaskEdit->setStyleSheet(QStringLiteral("lineedit-password-character: 42"));  // "*"
    EditMail = MakeEdit("EditMail", central);
    Edit1 = MakeEdit("Edit1", central);
    EditCC = MakeEdit("EditCC", central);
    EditSubject = MakeEdit("EditSubject", central);
    EditPatch = MakeEdit("EditPatch", central);

    auto* account = new QGridLayout;
    account->addWidget(MakeLabel(QStringLiteral("SMTP Host"), central), 0, 0);
    account->addWidget(EditHost, 0, 1);
    account->addWidget(MakeLabel(QStringLiteral("Port"), central), 1, 0);
    account->addWidget(EditPort, 1, 1);
    account->addWidget(MakeLabel(QStringLiteral("Mailadresse"), central), 2, 0);
    account->addWidget(EditUser, 2, 1);
    account->addWidget(MakeLabel(QStringLiteral("Passwort"), central), 3, 0);
    account->addWidget(MaskEdit, 3, 1);

    ImageDisconnect = new QLabel(central);
    ImageDisconnect->setObjectName(QStringLiteral("ImageDisconnect"));
    ImageDisconnect->setPixmap(ConnectionPicture(false));
    ImageConnect = new QLabel(central);
    ImageConnect->setObjectName(QStringLiteral("ImageConnect"));
    ImageConnect->setPixmap(ConnectionPicture(true));
    LabelStatus = new QLabel(QStringLiteral("Offline"), central);
    LabelStatus->setObjectName(QStringLiteral("LabelStatus"));
    QFont bold = font();
    bold.setBold(true);
    LabelStatus->setFont(bold);
    QPalette navyText = LabelStatus->palette();
    navyText.setColor(QPalette::WindowText, kNavy);
    LabelStatus->setPalette(navyText);
    LabelStatus->hide();
    auto* connection = new QHBoxLayout;
    connection->addWidget(MakeLabel(QStringLiteral("Verbindungsstatus:"), central));
    connection->addWidget(ImageDisconnect);
    connection->addWidget(ImageConnect);
    connection->addWidget(LabelStatus);
    connection->addStretch();
    account->addLayout(connection, 4, 0, 1, 2);

    auto* mail = new QGridLayout;
    mail->addWidget(MakeLabel(QStringLiteral("Senden an ..."), central), 0, 0);
    auto* toRow = new QHBoxLayout;
    toRow->addWidget(EditMail, 1);
    toRow->addWidget(MakeLabel(QStringLiteral("MailNr.:"), central));
    Edit1->setFixedWidth(60);
    toRow->addWidget(Edit1);
    mail->addLayout(toRow, 0, 1);
    mail->addWidget(MakeLabel(QStringLiteral("CC Liste"), central), 1, 0);
    mail->addWidget(EditCC, 1, 1);
    mail->addWidget(MakeLabel(QStringLiteral("Subject"), central), 2, 0);
    mail->addWidget(EditSubject, 2, 1);
    mail->addWidget(MakeLabel(QStringLiteral("Attachment"), central), 3, 0);
    mail->addWidget(EditPatch, 3, 1);
    mail->setRowStretch(4, 1);

    auto* top = new QHBoxLayout;
    top->addLayout(account, 2);
    top->addSpacing(16);
    top->addLayout(mail, 3);

    Memo2 = new QPlainTextEdit(central);
    Memo2->setObjectName(QStringLiteral("Memo2"));
    Memo2->setLineWrapMode(QPlainTextEdit::NoWrap);  // both scroll bars
    Memo2->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    Memo2->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOn);

    // The run's line buffer: never shown, no length limit.
    MemoIni = new QPlainTextEdit(central);
    MemoIni->setObjectName(QStringLiteral("MemoIni"));
    MemoIni->hide();

    Progressbar1 = new QProgressBar(central);
    Progressbar1->setObjectName(QStringLiteral("Progressbar1"));
    Progressbar1->setTextVisible(false);
    Progressbar1->setFixedHeight(14);
    Progressbar1->setRange(0, 100);
    Progressbar1->setValue(0);
    // The run's text ("Mail 3 von 8") lies over white and over purple: navy and bold reads on both.
    Progressbar1->setStyleSheet(QStringLiteral("QProgressBar { border: 1px solid grey; background: white;"
                                               " color: rgb(0, 0, 128); font-weight: bold; text-align: center; }"
                                               "QProgressBar::chunk { background: rgb(190, 120, 190); }"));

    PanelMessage = new QLabel(central);
    PanelMessage->setObjectName(QStringLiteral("PanelMessage"));
    PanelMessage->setAutoFillBackground(true);
    PanelMessage->setFrameShape(QFrame::Panel);
    PanelMessage->setFrameShadow(QFrame::Sunken);
    PanelMessage->setFont(bold);
    PanelMessage->setMinimumHeight(22);
    QPalette panelPalette = PanelMessage->palette();
    panelPalette.setColor(QPalette::Window, kSilver);
    panelPalette.setColor(QPalette::WindowText, kNavy);
    PanelMessage->setPalette(panelPalette);
    auto* info = new QHBoxLayout;
    info->addWidget(MakeLabel(QStringLiteral("Info"), central));
    info->addWidget(PanelMessage, 1);

    auto* column = new QVBoxLayout(central);
    column->setContentsMargins(10, 8, 10, 8);
    column->addLayout(top);
    column->addSpacing(4);
    column->addWidget(MakeLabel(QStringLiteral("Message"), central));
    column->addWidget(Memo2, 1);
    column->addWidget(Progressbar1);
    column->addLayout(info);

    ShowConnected(false);
}

void TFormNewMail::ShowConnected(bool connected) {
    ImageConnect->setVisible(connected);
    ImageDisconnect->setVisible(!connected);
}

void TFormNewMail::FormShow() {
    EditHost->clear();
    EditUser->clear();
    MaskEdit->clear();
    EditPort->clear();
    MemoIni->setMaximumBlockCount(0);  // no length limit
    Progressbar1->setValue(0);

    helpFile_ = QCoreApplication::applicationDirPath() + QLatin1Char('/') + QLatin1String(kHelpFileName);
    HelpManager::Instance().SetHelpFile(helpFile_);
    HelpManager::Instance().SetHandle(this);

    dataFolder_ = ComputeDataFolder();
    standardTextPath_ = dataFolder_ + kStandardTextName;
    currentTextFile_.clear();

    setAcceptDrops(true);

    LoadAccount();

    ShowConnected(false);
    Progressbar1->setValue(0);
}

void TFormNewMail::SetStatus(const QString& text, bool aborted) {
    QPalette palette = PanelMessage->palette();
    palette.setColor(QPalette::WindowText, aborted ? kMaroon : kNavy);
    PanelMessage->setPalette(palette);
    PanelMessage->setText(text);
}

QString TFormNewMail::StatusText() const { return PanelMessage->text(); }

void TFormNewMail::BitBtnListClick() {
    if (windows_.grid == nullptr) return;
    windows_.grid->SetDataFolder(dataFolder_);
    windows_.grid->exec();
}

void TFormNewMail::BitBtnSaveSenderClick() {
    SaveAccount();
    // Only the text changes; the panel keeps its colour.
    PanelMessage->setText(QString::fromUtf8(kStatusSaved));
}

void TFormNewMail::BitBtnHelpClick() {
    emit HelpContentsRequested();
    HelpManager::Instance().ShowTableOfContents();
}

void TFormNewMail::BitBtnAboutClick() {
    if (windows_.about == nullptr) return;
    windows_.about->ShowWithVersion(FileVersionText());
}

void TFormNewMail::ToolButton13Click() {
    const QString folder = programFolder_.isEmpty() ? QCoreApplication::applicationDirPath() : programFolder_;
    StartUpdater(folder, FileVersionText(), QFileInfo(QCoreApplication::applicationFilePath()).fileName());
}

void TFormNewMail::BitBtn5Click() {
    const QString text = Memo2->toPlainText();
    if (!HasVisibleText(text)) return;
    services::Clip().SetText(text);
}

void TFormNewMail::BitBtn4Click() {
    Memo2->clear();
    currentTextFile_.clear();
    currentTextLegacy_ = false;
}

void TFormNewMail::BitBtnDefaultClick() {
    if (MayReplaceMessageText()) LoadStandardText();
}

void TFormNewMail::LoadStandardText() {
    const std::string path = DataFilePath(dataFolder_, kStandardTextName);
    if (FileExists(path)) {
        Memo2->clear();
        LoadMessageFile(FromLocal(path));
        return;
    }
    if (!services::Messages().Question(QString::fromUtf8(kCreateStandardText))) return;
    QStringList lines;
    for (std::string_view line : kStandardTextLines) lines << QString::fromUtf8(line.data(), line.size());
    Memo2->setPlainText(lines.join(QLatin1Char('\n')));
    currentTextLegacy_ = false;
    WriteFileAtomic(path, FieldTextToFile(Memo2->toPlainText()));
    Memo2->document()->setModified(false);
    currentTextFile_ = FromLocal(path);
}

void TFormNewMail::ToolButton18Click() {
    SaveAccount();  // a failure leaves the window open
    close();
}

void TFormNewMail::FormKeyDown(int key) {
    // Help may open a message box, which must not hold a send (see SetBusy).
    if (key == Qt::Key_F1 && !busy_) RunGuarded([this] { BitBtnHelpClick(); });
}

bool TFormNewMail::eventFilter(QObject* watched, QEvent* event) {
    if (event->type() == QEvent::KeyPress && watched->isWidgetType() &&
        static_cast<QWidget*>(watched)->window() == this) {
        const auto* key = static_cast<QKeyEvent*>(event);
        if (key->key() == Qt::Key_F1) {
            FormKeyDown(key->key());
            return true;
        }
    }
    return QMainWindow::eventFilter(watched, event);
}

void TFormNewMail::closeEvent(QCloseEvent* event) {
    // A run or a send in progress is asked to stop; the window closes once it has (RunCommand).
    closeAsked_ = busy_;
    if (busy_) {
        stopRequested_ = true;
        event->ignore();
        return;
    }
    if (!MayCloseWithAccount()) {
        event->ignore();
        return;
    }
    QMainWindow::closeEvent(event);
}

void TFormNewMail::WMDropFiles(const QStringList& paths) {
    // Only the first file of a drop counts; the others are ignored, and so is a drop during a send.
    if (paths.isEmpty() || busy_) return;
    const QString first = paths.first();
    RunGuarded([&] { LoadMessageFile(first); });
}

void TFormNewMail::LoadMessageFile(const QString& path) {
    const DecodedText decoded = FileTextToField(ReadWholeFile(ToLocal(path)));
    Memo2->setPlainText(decoded.text);
    Memo2->document()->setModified(false);
    currentTextFile_ = path;
    currentTextLegacy_ = decoded.legacy;
}
