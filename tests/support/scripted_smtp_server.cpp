#include "tests/support/scripted_smtp_server.h"

#include "tests/support/loopback_ports.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <stdexcept>

namespace {

using Clock = std::chrono::steady_clock;

// How long one step waits for the client before the script counts as failed: long enough for a loaded
// machine, short enough that a broken test ends.
constexpr auto kStepLimit = std::chrono::seconds(30);
// Waits are cut into slices of this length so that a stopping server is noticed.
constexpr int kSliceMs = 20;

std::string Shown(const std::string& text) {
    std::string shown;
    for (unsigned char c : text.substr(0, 200)) {
        if (c == '\r') {
            shown += "\\r";
        } else if (c == '\n') {
            shown += "\\n";
        } else if (c < 32 || c >= 127) {
            static const char kHex[] = "0123456789abcdef";
            shown += std::string("\\x") + kHex[c >> 4] + kHex[c & 15];
        } else {
            shown += static_cast<char>(c);
        }
    }
    return "\"" + shown + (text.size() > 200 ? "...\"" : "\"");
}

}  // namespace

namespace smtp_script {
ScriptStep Expect(std::string line) { return {ScriptStep::Kind::Expect, std::move(line)}; }
ScriptStep ExpectAny() { return {ScriptStep::Kind::ExpectAny, {}}; }
ScriptStep ReadUntil(std::string line) { return {ScriptStep::Kind::ReadUntil, std::move(line)}; }
ScriptStep Send(std::string bytes) { return {ScriptStep::Kind::Send, std::move(bytes)}; }
ScriptStep Reply(const std::string& lines) {
    std::string bytes;
    size_t start = 0;
    for (;;) {
        size_t end = lines.find('\n', start);
        bytes += lines.substr(start, end - start) + "\r\n";
        if (end == std::string::npos) break;
        start = end + 1;
    }
    return Send(bytes);
}
ScriptStep Wait(int milliseconds) { return {ScriptStep::Kind::Wait, {}, milliseconds}; }
ScriptStep Close() { return {ScriptStep::Kind::Close, {}}; }
ScriptStep Reset() { return {ScriptStep::Kind::Reset, {}}; }
ScriptStep Silent() { return {ScriptStep::Kind::Silent, {}}; }
ScriptStep SendForever(std::string bytes) { return {ScriptStep::Kind::SendForever, std::move(bytes)}; }
}  // namespace smtp_script

struct ScriptedSmtpServer::Connection {
    int fd = -1;
    std::string received;  // guarded by the server's mutex
    std::string unread;    // received bytes that no Expect step has consumed yet; player thread only
};

ScriptedSmtpServer::ScriptedSmtpServer(Script firstConnection) {
    scripts_.push_back(std::move(firstConnection));
    listener_ = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
    if (listener_ == -1) throw std::runtime_error("scripted server: no socket");
    port_ = BindLoopback(listener_);
    if (listen(listener_, 16) == -1) {
        close(listener_);
        throw std::runtime_error("scripted server: cannot listen on loopback");
    }
    acceptThread_ = std::thread(&ScriptedSmtpServer::AcceptLoop, this);
}

ScriptedSmtpServer::~ScriptedSmtpServer() {
    stopping_ = true;
    acceptThread_.join();
    for (std::thread& player : players_) player.join();
    close(listener_);
}

void ScriptedSmtpServer::AddConnection(Script script) {
    std::lock_guard<std::mutex> lock(mutex_);
    scripts_.push_back(std::move(script));
}

::testing::AssertionResult ScriptedSmtpServer::Finish(std::chrono::milliseconds limit) {
    std::unique_lock<std::mutex> lock(mutex_);
    bool done = changed_.wait_for(lock, limit, [this] { return scriptsDone_ >= scripts_.size(); });
    std::string report;
    for (const std::string& problem : problems_) report += problem + "\n";
    if (!done) report += "only " + std::to_string(scriptsDone_) + " of " + std::to_string(scripts_.size()) +
                         " scripts were played to their end\n";
    if (report.empty()) return ::testing::AssertionSuccess();
    return ::testing::AssertionFailure() << report;
}

std::string ScriptedSmtpServer::Received(size_t connection) const {
    std::lock_guard<std::mutex> lock(mutex_);
    return connection < connections_.size() ? connections_[connection]->received : std::string();
}

size_t ScriptedSmtpServer::Connections() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return connections_.size();
}

void ScriptedSmtpServer::Problem(size_t index, size_t step, const std::string& text) {
    std::lock_guard<std::mutex> lock(mutex_);
    problems_.push_back("connection " + std::to_string(index) + ", step " + std::to_string(step + 1) + ": " + text);
}

void ScriptedSmtpServer::AcceptLoop() {
    while (!stopping_) {
        pollfd watched{listener_, POLLIN, 0};
        if (poll(&watched, 1, kSliceMs) != 1) continue;
        int fd = accept4(listener_, nullptr, nullptr, SOCK_CLOEXEC | SOCK_NONBLOCK);
        if (fd == -1) continue;
        auto connection = std::make_shared<Connection>();
        connection->fd = fd;
        std::lock_guard<std::mutex> lock(mutex_);
        size_t index = connections_.size();
        connections_.push_back(connection);
        Script script;
        if (index < scripts_.size()) {
            script = scripts_[index];
        } else {
            problems_.push_back("connection " + std::to_string(index) + " was not expected");
        }
        players_.emplace_back(&ScriptedSmtpServer::Play, this, connection, std::move(script), index);
    }
}

namespace {

enum class Input { Data, Closed, Nothing };

// Waits up to the deadline for input and appends it to both buffers.
Input ReceiveMore(int fd, std::string& unread, std::string& received, std::mutex& mutex,
                  const std::atomic<bool>& stopping, Clock::time_point deadline) {
    while (!stopping && Clock::now() < deadline) {
        pollfd watched{fd, POLLIN, 0};
        if (poll(&watched, 1, kSliceMs) != 1) continue;
        char buffer[65536];
        ssize_t count = recv(fd, buffer, sizeof buffer, 0);
        if (count == -1 && (errno == EAGAIN || errno == EINTR)) continue;
        if (count <= 0) return Input::Closed;
        unread.append(buffer, static_cast<size_t>(count));
        std::lock_guard<std::mutex> lock(mutex);
        received.append(buffer, static_cast<size_t>(count));
        return Input::Data;
    }
    return Input::Nothing;
}

// Sends all bytes, waiting while the client does not read; false when the connection is gone.
bool SendAllBytes(int fd, const std::string& bytes, const std::atomic<bool>& stopping) {
    size_t position = 0;
    while (position < bytes.size()) {
        if (stopping) return false;
        ssize_t sent = send(fd, bytes.data() + position, bytes.size() - position, MSG_NOSIGNAL);
        if (sent >= 0) {
            position += static_cast<size_t>(sent);
            continue;
        }
        if (errno != EAGAIN && errno != EINTR) return false;
        pollfd watched{fd, POLLOUT, 0};
        poll(&watched, 1, kSliceMs);
    }
    return true;
}

void SleepUnlessStopping(int milliseconds, const std::atomic<bool>& stopping) {
    auto end = Clock::now() + std::chrono::milliseconds(milliseconds);
    while (!stopping && Clock::now() < end) std::this_thread::sleep_for(std::chrono::milliseconds(1));
}

}  // namespace

void ScriptedSmtpServer::Play(std::shared_ptr<Connection> connection, Script script, size_t index) {
    using Kind = ScriptStep::Kind;
    const int fd = connection->fd;
    auto receiveMore = [&](Clock::time_point deadline) {
        return ReceiveMore(fd, connection->unread, connection->received, mutex_, stopping_, deadline);
    };
    // The next line from the client without its line end; false (and a problem noted) when none came.
    auto nextLine = [&](size_t step, std::string& line) {
        const auto deadline = Clock::now() + kStepLimit;
        for (;;) {
            size_t end = connection->unread.find('\n');
            if (end != std::string::npos) {
                line = connection->unread.substr(0, end);
                if (!line.empty() && line.back() == '\r') line.pop_back();
                connection->unread.erase(0, end + 1);
                return true;
            }
            Input input = receiveMore(deadline);
            if (input == Input::Data) continue;
            Problem(index, step, input == Input::Closed ? "the client closed instead of sending a line"
                                                        : "no line from the client in time");
            return false;
        }
    };
    auto markDone = [&] {
        std::lock_guard<std::mutex> lock(mutex_);
        ++scriptsDone_;
        changed_.notify_all();
    };
    auto drainUntilClientCloses = [&] {
        while (!stopping_ && receiveMore(Clock::time_point::max()) == Input::Data) {}
    };

    bool halfClose = true;
    for (size_t step = 0; step < script.size(); ++step) {
        const ScriptStep& current = script[step];
        std::string line;
        bool stop = false;
        switch (current.kind) {
        case Kind::Expect:
            if (!nextLine(step, line)) {
                stop = true;
            } else if (line != current.text) {
                Problem(index, step, "expected " + Shown(current.text) + ", received " + Shown(line));
                stop = true;
            }
            break;
        case Kind::ExpectAny:
            stop = !nextLine(step, line);
            break;
        case Kind::ReadUntil:
            do {
                stop = !nextLine(step, line);
            } while (!stop && line != current.text);
            break;
        case Kind::Send:
            if (!SendAllBytes(fd, current.text, stopping_)) {
                Problem(index, step, "the client was gone before " + Shown(current.text) + " was sent");
                stop = true;
            }
            break;
        case Kind::Wait:
            SleepUnlessStopping(current.milliseconds, stopping_);
            break;
        case Kind::Close:
            stop = true;
            break;
        case Kind::Reset: {
            linger abort{1, 0};
            setsockopt(fd, SOL_SOCKET, SO_LINGER, &abort, sizeof abort);
            close(fd);
            markDone();
            return;
        }
        case Kind::Silent:
            drainUntilClientCloses();
            halfClose = false;
            stop = true;
            break;
        case Kind::SendForever:
            while (SendAllBytes(fd, current.text, stopping_)) {}
            halfClose = false;
            stop = true;
            break;
        }
        if (stop) break;
    }
    if (halfClose) shutdown(fd, SHUT_WR);
    markDone();
    drainUntilClientCloses();
    close(fd);
}
