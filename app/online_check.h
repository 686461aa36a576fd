#pragma once
// Whether the machine can reach the network. Asks the system and sends no traffic at all.

class OnlineChecker {
public:
    virtual ~OnlineChecker() = default;
    virtual bool GoOnline() = 0;
};

// The system's view: Qt's network reachability where the platform reports it; otherwise whether some
// network interface other than loopback is up and has an address.
class SystemOnlineChecker : public OnlineChecker {
public:
    bool GoOnline() override;
};
