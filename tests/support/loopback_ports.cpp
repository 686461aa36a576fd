#include "tests/support/loopback_ports.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <stdexcept>

int BindLoopback(int fd) {
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t size = sizeof address;
    if (bind(fd, reinterpret_cast<sockaddr*>(&address), size) == -1 ||
        getsockname(fd, reinterpret_cast<sockaddr*>(&address), &size) == -1) {
        close(fd);
        throw std::runtime_error("cannot bind a loopback socket");
    }
    return ntohs(address.sin_port);
}

namespace {

// Starts a connect without waiting and tells whether it completed within the time given.
bool ConnectsWithin(int fd, int port, int milliseconds) {
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    address.sin_port = htons(static_cast<uint16_t>(port));
    if (connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0) return true;
    pollfd watched{fd, POLLOUT, 0};
    if (poll(&watched, 1, milliseconds) != 1) return false;
    int error = 0;
    socklen_t size = sizeof error;
    getsockopt(fd, SOL_SOCKET, SO_ERROR, &error, &size);
    return error == 0;
}

// More connections than this means the system does not drop requests to a full listener.
constexpr int kMostFillers = 64;
// A filler connect that has not completed after this long is taken as dropped.
constexpr int kDroppedAfterMs = 300;

}  // namespace

ClosedLoopbackPort::ClosedLoopbackPort() {
    fd_ = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd_ == -1) throw std::runtime_error("no socket");
    port_ = BindLoopback(fd_);
}

ClosedLoopbackPort::~ClosedLoopbackPort() { close(fd_); }

FullBacklogListener::FullBacklogListener() {
    listener_ = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (listener_ == -1) throw std::runtime_error("no socket");
    port_ = BindLoopback(listener_);
    if (listen(listener_, 0) == -1) throw std::runtime_error("cannot listen");
    for (int i = 0; i < kMostFillers; ++i) {
        int filler = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
        if (filler == -1) throw std::runtime_error("no socket");
        fillers_.push_back(filler);
        if (!ConnectsWithin(filler, port_, kDroppedAfterMs)) return;
    }
    throw std::runtime_error("the backlog of a loopback listener does not fill up here");
}

FullBacklogListener::~FullBacklogListener() {
    for (int fd : fillers_) close(fd);
    close(listener_);
}
