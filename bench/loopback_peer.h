#pragma once
// The far end of a benchmark's connection: accepts one connection on a free loopback port and runs a
// function for it on a thread of its own, over plain TCP or, given a server context, over TLS.

#include <arpa/inet.h>
#include <netinet/in.h>
#include <openssl/ssl.h>
#include <signal.h>
#include <sys/socket.h>
#include <unistd.h>

#include <functional>
#include <stdexcept>
#include <string>
#include <thread>

class LoopbackPeer {
public:
    // The accepted connection: reads and writes plain or through TLS.
    class Channel {
    public:
        // Some bytes into buffer; 0 at the end of input or on a failure.
        size_t Read(char* buffer, size_t size) {
            if (ssl_ != nullptr) {
                size_t count = 0;
                return SSL_read_ex(ssl_, buffer, size, &count) == 1 ? count : 0;
            }
            ssize_t count = recv(fd_, buffer, size, 0);
            return count > 0 ? static_cast<size_t>(count) : 0;
        }
        bool Write(const char* bytes, size_t size) {
            if (ssl_ != nullptr) {
                size_t written = 0;
                return SSL_write_ex(ssl_, bytes, size, &written) == 1;
            }
            for (size_t done = 0; done < size;) {
                ssize_t count = send(fd_, bytes + done, size - done, MSG_NOSIGNAL);
                if (count <= 0) return false;
                done += static_cast<size_t>(count);
            }
            return true;
        }

    private:
        friend class LoopbackPeer;
        int fd_ = -1;
        SSL* ssl_ = nullptr;
    };

    // With tls set, the peer shakes hands as TLS server before it runs serve.
    LoopbackPeer(std::function<void(Channel&)> serve, SSL_CTX* tls = nullptr) {
        listener_ = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        socklen_t size = sizeof address;
        if (bind(listener_, reinterpret_cast<sockaddr*>(&address), size) == -1 || listen(listener_, 1) == -1 ||
            getsockname(listener_, reinterpret_cast<sockaddr*>(&address), &size) == -1) {
            throw std::runtime_error("peer cannot listen");
        }
        port_ = ntohs(address.sin_port);
        thread_ = std::thread([this, serve = std::move(serve), tls] {
            // OpenSSL writes with write(): a client that has gone must not end the program with SIGPIPE.
            sigset_t pipe;
            sigemptyset(&pipe);
            sigaddset(&pipe, SIGPIPE);
            pthread_sigmask(SIG_BLOCK, &pipe, nullptr);
            Channel channel;
            channel.fd_ = accept(listener_, nullptr, nullptr);
            if (tls != nullptr) {
                channel.ssl_ = SSL_new(tls);
                SSL_set_fd(channel.ssl_, channel.fd_);
                if (SSL_accept(channel.ssl_) != 1) {
                    SSL_free(channel.ssl_);
                    channel.ssl_ = nullptr;
                    close(channel.fd_);
                    return;
                }
            }
            serve(channel);
            if (channel.ssl_ != nullptr) SSL_free(channel.ssl_);
            close(channel.fd_);
        });
    }
    ~LoopbackPeer() {
        thread_.join();
        close(listener_);
    }
    LoopbackPeer(const LoopbackPeer&) = delete;
    LoopbackPeer& operator=(const LoopbackPeer&) = delete;

    int Port() const { return port_; }

private:
    int listener_ = -1;
    int port_ = 0;
    std::thread thread_;
};

// Reads everything and answers "250 OK" after each line "." until the client closes: the server's side
// of sending mail data.
inline void AnswerEveryEndMark(LoopbackPeer::Channel& channel) {
    const std::string endMark = "\r\n.\r\n";
    std::string tail;
    char buffer[65536];
    for (size_t count = channel.Read(buffer, sizeof buffer); count > 0; count = channel.Read(buffer, sizeof buffer)) {
        tail.append(buffer, count);
        for (size_t at = tail.find(endMark); at != std::string::npos; at = tail.find(endMark)) {
            channel.Write("250 OK\r\n", 8);
            tail.erase(0, at + endMark.size());
        }
        if (tail.size() > endMark.size()) tail.erase(0, tail.size() - endMark.size());
    }
}
