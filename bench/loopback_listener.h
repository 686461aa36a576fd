#pragma once
// A listening TCP socket on a free loopback port, for the sinks the benchmarks send to.

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <stdexcept>

// Returns the socket and sets port; throws when no loopback port can be had.
inline int ListenOnLoopback(int& port) {
    int listener = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t size = sizeof address;
    if (listener == -1 || bind(listener, reinterpret_cast<sockaddr*>(&address), size) == -1 ||
        listen(listener, 1) == -1 || getsockname(listener, reinterpret_cast<sockaddr*>(&address), &size) == -1) {
        if (listener != -1) close(listener);
        throw std::runtime_error("sink cannot listen on loopback");
    }
    port = ntohs(address.sin_port);
    return listener;
}
