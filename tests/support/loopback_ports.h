#pragma once
// Loopback endpoints for connect tests: a port where nothing listens, and a listener whose backlog is full
// so that a further connect is never answered.

#include <vector>

// Binds a socket to a free loopback port and returns the port; closes the socket and throws on failure.
int BindLoopback(int fd);

// A loopback port that is bound but not listening: a connect to it is refused. Holding the socket keeps
// any other program from taking the port meanwhile.
class ClosedLoopbackPort {
public:
    ClosedLoopbackPort();
    ~ClosedLoopbackPort();
    ClosedLoopbackPort(const ClosedLoopbackPort&) = delete;
    ClosedLoopbackPort& operator=(const ClosedLoopbackPort&) = delete;
    int Port() const { return port_; }

private:
    int fd_ = -1;
    int port_ = 0;
};

// A loopback listener that never accepts, with its backlog filled by connections of its own: the system
// drops further connection requests, so a connect to it neither succeeds nor fails until it gives up.
class FullBacklogListener {
public:
    FullBacklogListener();
    ~FullBacklogListener();
    FullBacklogListener(const FullBacklogListener&) = delete;
    FullBacklogListener& operator=(const FullBacklogListener&) = delete;
    int Port() const { return port_; }

private:
    int listener_ = -1;
    int port_ = 0;
    std::vector<int> fillers_;
};
