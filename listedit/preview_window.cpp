#include "listedit/preview_window.h"

#include "listedit/mail_html_view.h"

#include <QFormLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QLocale>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTabBar>
#include <QTabWidget>
#include <QVBoxLayout>

namespace {

QLineEdit* ReadOnlyField(const char* name, QWidget* parent) {
    auto* field = new QLineEdit(parent);
    field->setObjectName(QString::fromLatin1(name));
    field->setReadOnly(true);
    return field;
}

QString Utf8(const std::string& text) { return QString::fromUtf8(text.data(), static_cast<int>(text.size())); }

}  // namespace

QString SizeText(long long bytes) {
    const QLocale german(QLocale::German, QLocale::Germany);
    if (bytes < 1000) return QStringLiteral("%1 Bytes").arg(bytes);
    if (bytes < 1000 * 1000) return german.toString(bytes / 1000.0, 'f', 1) + QStringLiteral(" KB");
    return german.toString(bytes / 1e6, 'f', 1) + QStringLiteral(" MB");
}

TFormPreview::TFormPreview(QWidget* parent) : QDialog(parent) {
    setObjectName(QStringLiteral("FormPreview"));
    setWindowTitle(QStringLiteral("Vorschau"));
    resize(620, 520);

    EditFrom = ReadOnlyField("EditFrom", this);
    EditTo = ReadOnlyField("EditTo", this);
    EditCc = ReadOnlyField("EditCc", this);
    EditSubject = ReadOnlyField("EditSubject", this);
    MemoBody = new QPlainTextEdit(this);
    MemoBody->setObjectName(QStringLiteral("MemoBody"));
    MemoBody->setReadOnly(true);
    BrowserHtml = new MailHtmlView(this);
    BrowserHtml->setObjectName(QStringLiteral("BrowserHtml"));
    TabsBody = new QTabWidget(this);
    TabsBody->setObjectName(QStringLiteral("TabsBody"));
    TabsBody->setDocumentMode(true);  // no frame of its own: a plain mail's text looks as without tabs
    TabsBody->addTab(BrowserHtml, QStringLiteral("HTML"));
    TabsBody->addTab(MemoBody, QStringLiteral("Text"));
    LabelRemote = new QLabel(this);
    LabelRemote->setObjectName(QStringLiteral("LabelRemote"));
    LabelRemote->setWordWrap(true);
    LabelAttachment = new QLabel(this);
    LabelAttachment->setObjectName(QStringLiteral("LabelAttachment"));
    LabelSize = new QLabel(this);
    LabelSize->setObjectName(QStringLiteral("LabelSize"));
    LabelProblem = new QLabel(this);
    LabelProblem->setObjectName(QStringLiteral("LabelProblem"));
    LabelProblem->setWordWrap(true);
    LabelProblem->setStyleSheet(QStringLiteral("color: #800000; font-weight: bold;"));
    ButtonClose = new QPushButton(QString::fromUtf8("Schließen"), this);
    ButtonClose->setObjectName(QStringLiteral("ButtonClose"));
    ButtonClose->setDefault(true);
    connect(ButtonClose, &QPushButton::clicked, this, &QDialog::accept);

    auto* fields = new QFormLayout;
    fields->addRow(QStringLiteral("Von:"), EditFrom);
    fields->addRow(QStringLiteral("An:"), EditTo);
    fields->addRow(QStringLiteral("Kopie:"), EditCc);
    fields->addRow(QStringLiteral("Betreff:"), EditSubject);
    auto* bottom = new QHBoxLayout;
    bottom->addWidget(LabelSize, 1);
    bottom->addWidget(ButtonClose);
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(LabelProblem);
    layout->addLayout(fields);
    layout->addWidget(TabsBody, 1);
    layout->addWidget(LabelRemote);
    layout->addWidget(LabelAttachment);
    layout->addLayout(bottom);
}

void TFormPreview::SetPreview(const MailPreview& preview, int number) {
    setWindowTitle(QStringLiteral("Vorschau – Zeile %1").arg(number));
    EditFrom->setText(Utf8(preview.from));
    EditTo->setText(Utf8(preview.to));
    EditCc->setText(Utf8(preview.cc));
    EditSubject->setText(Utf8(preview.subject));
    for (QLineEdit* field : {EditFrom, EditTo, EditCc, EditSubject}) field->setCursorPosition(0);
    MemoBody->setPlainText(Utf8(preview.body));
    const bool html = !preview.html.empty();
    BrowserHtml->ShowMail(preview.html, preview.pictures);
    TabsBody->setTabVisible(0, html);
    TabsBody->tabBar()->setVisible(html);
    TabsBody->setCurrentIndex(html ? 0 : 1);
    const int remote = static_cast<int>(preview.remotePictures.size());
    LabelRemote->setText(QString::fromUtf8("Die Vorschau lädt keine Bilder aus dem Netz (%1 in dieser Mail).").arg(remote));
    LabelRemote->setVisible(remote > 0);
    LabelAttachment->setText(preview.attachmentName.empty()
                                 ? QStringLiteral("Kein Anhang")
                                 : QStringLiteral("Anhang: %1 (%2)")
                                       .arg(Utf8(preview.attachmentName), SizeText(preview.attachmentBytes)));
    LabelSize->setText(preview.wireBytes > 0 ? QStringLiteral("Größe beim Versand: %1").arg(SizeText(preview.wireBytes))
                                             : QString());
    LabelProblem->setText(Utf8(preview.problem));
    LabelProblem->setVisible(!preview.problem.empty());
}

void TFormPreview::ShowPreview(const MailPreview& preview, int number) {
    SetPreview(preview, number);
    exec();
}
