#pragma once
// Runs every call of a mail transport on a worker thread while the window keeps handling its events, so
// that the window stays painted and "Mailing stoppen" reacts while a mail is on its way. The caller still
// waits for each call: the run itself stays one line after the other.

#include "mailing/send_one.h"

#include <functional>
#include <memory>

// Runs `work` on a worker thread and handles window events until it is done; an exception of the work
// is raised again here.
void RunAside(const std::function<void()>& work);

class ThreadedTransport : public MailTransport {
public:
    explicit ThreadedTransport(std::unique_ptr<MailTransport> inner) : inner_(std::move(inner)) {}

    bool IsConnected() override;
    bool Transmit(const OutgoingMail& mail) override;
    // Only kept by the inner transport until its next Transmit, which runs aside.
    void AnnounceNext(const std::optional<OutgoingMail>& next) override { inner_->AnnounceNext(next); }
    void CloseSession() override;
    std::string LastErrorText() const override { return inner_->LastErrorText(); }
    SendFailure LastFailure() const override { return inner_->LastFailure(); }
    void KeepSentMessages(bool keep) override { inner_->KeepSentMessages(keep); }
    std::string TakeSentMessage() override { return inner_->TakeSentMessage(); }

    MailTransport& Inner() { return *inner_; }

private:
    std::unique_ptr<MailTransport> inner_;
};
