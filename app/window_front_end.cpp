#include "app/window_front_end.h"

#include "app/main_window.h"
#include "mailing/text_codec.h"
#include "ui/services.h"

#include <QCoreApplication>
#include <QEventLoop>
#include <QTimer>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QProgressBar>

AccountSettings WindowFrontEnd::Account() { return window_.AccountFields(); }
SendOptions WindowFrontEnd::Options() { return window_.Options(); }
std::shared_ptr<TIdAccessTokenSource> WindowFrontEnd::AccessTokens() { return window_.AccessTokens(); }

std::string WindowFrontEnd::CopyList() { return ToLocal(window_.EditCC->text()); }

void WindowFrontEnd::ProcessPendingInput() { QCoreApplication::processEvents(); }

bool WindowFrontEnd::StopRequested() { return window_.StopRequested(); }

void WindowFrontEnd::ClearStopRequest() { window_.SetStopRequested(false); }

bool WindowFrontEnd::Ask(const std::string& text) { return services::Messages().Question(FromLocal(text)); }

std::optional<std::string> WindowFrontEnd::PickListFile(const std::string& folder, const std::string& proposedName) {
    const auto chosen =
        services::Dialogs().OpenFile(&window_, QStringLiteral("Alle|*.*"), FromLocal(folder + proposedName));
    if (!chosen || chosen->isEmpty()) return std::nullopt;
    return ToLocal(*chosen);
}

void WindowFrontEnd::ShowError(const std::string& text) { services::Messages().Error(FromLocal(text)); }

void WindowFrontEnd::ShowInformation(const std::string& text) {
    services::Messages().Information(FromLocal(text));
}

void WindowFrontEnd::SetProgressMaximum(int maximum) {
    window_.Progressbar1->setMaximum(maximum);
    window_.Progressbar1->repaint();
}

void WindowFrontEnd::SetProgress(int value) {
    window_.Progressbar1->setValue(value);
    window_.Progressbar1->repaint();
}

void WindowFrontEnd::SetStatus(const std::string& text, bool aborted) { window_.SetStatus(FromLocal(text), aborted); }

void WindowFrontEnd::ShowLineFields(const std::string& address, const std::string& subject,
                                    const std::string& attachment) {
    window_.EditMail->setText(FromLocal(address));
    window_.EditSubject->setText(FromLocal(subject));
    window_.EditPatch->setText(FromLocal(attachment));
}

void WindowFrontEnd::ShowMessageText(const std::string& text, bool fileWasWindows1252) {
    // The text as it goes out; the field keeps the charset of the file it came from, so that "Text
    // speichern" writes it back alike.
    window_.Memo2->setPlainText(FileTextToField(text).text);
    window_.Memo2->document()->setModified(false);
    window_.SetCurrentTextLegacy(fileWasWindows1252);
}

void WindowFrontEnd::ShowMailNumber(int number) { window_.Edit1->setText(QString::number(number)); }

void WindowFrontEnd::SetCurrentTextFile(const std::string& path) { window_.SetCurrentTextFile(FromLocal(path)); }

namespace {

// The fixed sentence first, as ever; what the user can act on below it.
QString SendErrorText(const std::string& details) {
    QString text = QString::fromUtf8(kSendErrorText);
    if (!details.empty()) text += QStringLiteral("\n\n") + FromLocal(details);
    return text;
}

}  // namespace

void WindowFrontEnd::ShowSendError(const std::string& details) { services::Messages().Error(SendErrorText(details)); }

bool WindowFrontEnd::ShowRunSendError(const std::string& details) {
    return services::Messages().ErrorWithCheckBox(SendErrorText(details), QString::fromUtf8(kReportLaterCheck));
}

void WindowFrontEnd::ShowProgressText(const std::string& text) {
    window_.Progressbar1->setFormat(FromLocal(text));
    window_.Progressbar1->setTextVisible(true);
}

void WindowFrontEnd::Pause(std::chrono::milliseconds duration) {
    // The window keeps painting and handling input ("Mailing stoppen") while the run waits.
    QEventLoop loop;
    QTimer::singleShot(duration, &loop, &QEventLoop::quit);
    loop.exec();
}

void WindowFrontEnd::ShowConnected() { window_.ShowConnected(true); }
