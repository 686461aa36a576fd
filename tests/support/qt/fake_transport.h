#pragma once
// A mail transport that records what would have gone out, and fails on request.

#include "mailing/send_one.h"

#include <functional>
#include <set>
#include <vector>

class FakeTransport : public MailTransport {
public:
    bool IsConnected() override { return connected; }
    bool Transmit(const OutgoingMail& mail) override {
        if (beforeSend) beforeSend(mail);
        ++attempts;
        if (failAttempt.count(attempts)) {
            connected = false;
            return false;
        }
        if (!connected) ++connects;
        connected = true;
        sent.push_back(mail);
        return true;
    }
    void CloseSession() override {
        connected = false;
        ++closes;
    }
    SendFailure LastFailure() const override { return failure; }

    bool connected = false;
    int attempts = 0;
    int connects = 0;
    int closes = 0;
    std::set<int> failAttempt;  // attempt numbers (from 1) that fail
    SendFailure failure = SendFailure::Permanent;  // how they fail
    std::vector<OutgoingMail> sent;
    std::function<void(const OutgoingMail&)> beforeSend;
};

// Hands a FakeTransport to an owner that wants a unique_ptr, keeping a pointer for the test.
struct SharedFakeTransport : public MailTransport {
    explicit SharedFakeTransport(FakeTransport& fake) : target(fake) {}
    bool IsConnected() override { return target.IsConnected(); }
    bool Transmit(const OutgoingMail& mail) override { return target.Transmit(mail); }
    void CloseSession() override { target.CloseSession(); }
    FakeTransport& target;
};
