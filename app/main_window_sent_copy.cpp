// The main window's single send and the copies in the Sent folder outside a run: the test mail's copy,
// and the check whether the folder is found.

#include "app/main_window.h"

#include "app/threaded_transport.h"
#include "mailing/text_codec.h"
#include "ui/services.h"

#include <ctime>

namespace {

const char* const kCopyMissing = "Die Mail ist gesendet, ihre Kopie fehlt aber im Ordner „Gesendet“:\n\n%1";

}  // namespace

bool TFormNewMail::SendOneMessage() {
    // An error that leaves the send (a wrong port, an address that cannot be parsed) counts as failed too.
    sendFailed_ = true;
    MailFields fields = CurrentFields();
    fields.accessTokens = AccessTokens();
    if (const std::optional<std::string> refusal = SignInRefusal(fields.account, fields.accessTokens.get())) {
        services::Messages().Error(FromLocal(*refusal));
        return false;
    }
    Transport().KeepSentMessages(sendOptions_.sentCopy);
    sendFailed_ = !::SendOneMessage(fields, Transport(), frontEnd_);
    // Taken whatever happened, so that no mail's bytes stay behind in the transport.
    const std::string sent = Transport().TakeSentMessage();
    if (!sendFailed_ && sendOptions_.sentCopy) CopyTestMail(sent);
    return !sendFailed_;
}

void TFormNewMail::CopyTestMail(const std::string& message) {
    const std::time_t sentAt = std::time(nullptr);
    const SentCopyAccount account = SentCopyAccountFor(AccountFields(), sendOptions_, AccessTokens());
    std::optional<std::string> failure;
    // The window stays painted while the IMAP server is asked; its commands are disabled meanwhile.
    RunAside([&] {
        failure = message.empty() ? std::optional<std::string>("Die Mail wurde nicht mitgeschrieben.")
                                  : CopyToSentFolder(account, imapClients_, message, sentAt);
    });
    if (failure) services::Messages().Warning(QString::fromUtf8(kCopyMissing).arg(QString::fromUtf8(failure->c_str())));
}

void TFormNewMail::CheckSentFolderInto(CheckReport& report) {
    const SentCopyAccount account = SentCopyAccountFor(AccountFields(), sendOptions_, AccessTokens());
    SentFolderCheck check;
    // The window stays painted while the IMAP server is asked, its commands disabled as during a send.
    struct Busy {
        TFormNewMail& window;
        explicit Busy(TFormNewMail& w) : window(w) { window.SetBusy(true); }
        ~Busy() { window.SetBusy(false); }
    } busy(*this);
    RunAside([&] { check = CheckSentFolder(account, imapClients_); });
    AddSentFolderCheck(report, check);
}
