#include "transport/socket_layer.h"

#include "transport/socket_errors.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstring>
#include <stdexcept>

namespace {

// The socket layer and the number of transport components that keep it alive.
std::mutex gComponentLock;
int gComponentCount = 0;
TIdStack* gStack = nullptr;

std::atomic<TIdStack::AddressLookup> gAddressLookup{&getaddrinfo};

// The longest host name LocalHostName reads.
constexpr size_t kHostNameBufferSize = 250;

// While a timed-out connect is being abandoned, the worker's connect is interrupted again after this many
// milliseconds until the worker has ended: the first interruption may come just before the worker has
// entered its connect call.
constexpr auto kAbandonRetry = std::chrono::milliseconds(10);

bool EqualsIgnoringCase(const std::string& a, const char* b) {
    return strcasecmp(a.c_str(), b) == 0 && a.size() == std::strlen(b);
}

// One part of a dotted quad: a non-empty run of decimal digits whose value is at most 255.
bool ParseQuadPart(const std::string& part, unsigned& value) {
    if (part.empty()) return false;
    value = 0;
    for (char c : part) {
        if (c < '0' || c > '9') return false;
        value = value * 10 + static_cast<unsigned>(c - '0');
        if (value > 255) return false;
    }
    return true;
}

// The four numbers of a dotted quad as an IPv4 address; false when the text is not a dotted quad.
// Parsed here rather than with inet_pton, which refuses leading zeros that a dotted quad may have.
bool ParseDottedQuad(const std::string& text, in_addr& address) {
    uint32_t host = 0;
    size_t start = 0;
    for (int i = 0; i < 4; ++i) {
        size_t end = i < 3 ? text.find('.', start) : text.size();
        if (end == std::string::npos) return false;
        unsigned value = 0;
        if (!ParseQuadPart(text.substr(start, end - start), value)) return false;
        host = (host << 8) | value;
        start = end + 1;
    }
    address.s_addr = htonl(host);
    return true;
}

std::string DottedText(const in_addr& address) {
    char text[INET_ADDRSTRLEN] = {};
    inet_ntop(AF_INET, &address, text, sizeof text);
    return text;
}

// An IPv4 socket address for a dotted quad and a port; false (errno set) when either is unusable.
bool MakeSocketAddress(const std::string& ip, int port, sockaddr_in& address) {
    address = {};
    address.sin_family = AF_INET;
    if (port < 0 || port > 65535 || !ParseDottedQuad(ip, address.sin_addr)) {
        errno = EADDRNOTAVAIL;
        return false;
    }
    address.sin_port = htons(static_cast<uint16_t>(port));
    return true;
}

// Reads one end's address of a socket (getsockname or getpeername); EIdSocketError when that fails.
void ReadAddress(int (*query)(int, sockaddr*, socklen_t*), int handle, std::string& ip, int& port) {
    sockaddr_in address{};
    socklen_t size = sizeof address;
    TIdStack::Instance().CheckSocketResult(query(handle, reinterpret_cast<sockaddr*>(&address), &size));
    ip = DottedText(address.sin_addr);
    port = ntohs(address.sin_port);
}

}  // namespace

// ---------------------------------------------------------------------------------------------------------
// TIdComponent and TIdStack

TIdComponent::TIdComponent() {
    std::lock_guard<std::mutex> lock(gComponentLock);
    if (gComponentCount++ == 0) gStack = new TIdStack();
}

TIdComponent::~TIdComponent() {
    std::lock_guard<std::mutex> lock(gComponentLock);
    if (--gComponentCount == 0) {
        delete gStack;
        gStack = nullptr;
    }
}

TIdStack& TIdStack::Instance() {
    std::lock_guard<std::mutex> lock(gComponentLock);
    if (gStack == nullptr) throw std::logic_error("the socket layer is used without a transport component");
    return *gStack;
}

bool TIdStack::Exists() {
    std::lock_guard<std::mutex> lock(gComponentLock);
    return gStack != nullptr;
}

TIdStack::AddressLookup TIdStack::SetAddressLookup(AddressLookup lookup) {
    return gAddressLookup.exchange(lookup != nullptr ? lookup : &getaddrinfo);
}

std::string TIdStack::ResolveAddress(const std::string& host) {
    if (EqualsIgnoringCase(host, "LOCALHOST")) return "127.0.0.1";
    if (IsDottedQuad(host)) return host;

    addrinfo hints{};
    hints.ai_family = AF_INET;
    hints.ai_socktype = SOCK_STREAM;
    addrinfo* answer = nullptr;
    int result = gAddressLookup.load()(host.c_str(), nullptr, &hints, &answer);
    if (result != 0) RaiseSocketError(SocketCodeFromLookupResult(result, errno));
    std::string address;
    for (const addrinfo* entry = answer; entry != nullptr; entry = entry->ai_next) {
        if (entry->ai_family == AF_INET && entry->ai_addr != nullptr) {
            address = DottedText(reinterpret_cast<const sockaddr_in*>(entry->ai_addr)->sin_addr);
            break;
        }
    }
    freeaddrinfo(answer);
    if (address.empty()) RaiseSocketError(socket_code::kNoData);
    return address;
}

bool TIdStack::IsDottedQuad(const std::string& text) {
    in_addr ignored{};
    return ParseDottedQuad(text, ignored);
}

bool TIdStack::CheckSocketResult(int result, std::initializer_list<int> tolerated) {
    if (result != -1) return false;
    int code = SocketCodeFromErrno(errno);
    for (int accepted : tolerated) {
        if (accepted == code) {
            lastError_.store(code, std::memory_order_relaxed);
            return true;
        }
    }
    RaiseSocketError(code);
}

void TIdStack::RaiseSocketError(int code) {
    lastError_.store(code, std::memory_order_relaxed);
    throw EIdSocketError(code);
}

std::string TIdStack::LocalHostName() {
    char name[kHostNameBufferSize] = {};
    CheckSocketResult(gethostname(name, sizeof name - 1));
    return std::string(name, strnlen(name, sizeof name));
}

// ---------------------------------------------------------------------------------------------------------
// TIdSocketHandle

TIdSocketHandle::~TIdSocketHandle() { ShutdownAndClose(); }

void TIdSocketHandle::Reset() {
    handle_ = kNoHandle;
    allocated_ = false;
    localIP_.clear();
    localPort_ = 0;
    peerIP_.clear();
    peerPort_ = 0;
}

void TIdSocketHandle::Allocate() {
    int handle = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (handle == -1) throw EIdInvalidSocket();
    handle_ = handle;
    allocated_ = true;
}

void TIdSocketHandle::Bind(const std::string& ip, int port) {
    sockaddr_in address{};
    bool usable = MakeSocketAddress(ip.empty() ? "0.0.0.0" : ip, port, address);
    if (!usable || bind(handle_, reinterpret_cast<const sockaddr*>(&address), sizeof address) == -1) {
        if (errno == EADDRINUSE) throw EIdCouldNotBindSocket();
        TIdStack::Instance().CheckSocketResult(-1);
    }
    UpdateBindingLocal();
}

int TIdSocketHandle::Connect(const std::string& ip, int port) {
    sockaddr_in address{};
    if (!MakeSocketAddress(ip, port, address)) return -1;
    return connect(handle_, reinterpret_cast<const sockaddr*>(&address), sizeof address);
}

void TIdSocketHandle::UpdateBindingLocal() { ReadAddress(&getsockname, handle_, localIP_, localPort_); }

void TIdSocketHandle::UpdateBindingPeer() { ReadAddress(&getpeername, handle_, peerIP_, peerPort_); }

void TIdSocketHandle::ShutdownAndClose() {
    if (!allocated_) return;
    allocated_ = false;
    shutdown(handle_, SHUT_WR);
    close(handle_);
    handle_ = kNoHandle;
}

// ---------------------------------------------------------------------------------------------------------
// TIdIOHandlerSocket

TIdIOHandlerSocket::~TIdIOHandlerSocket() = default;

void TIdIOHandlerSocket::PrepareHandle() {
    if (binding_ == nullptr) {
        binding_ = std::make_unique<TIdSocketHandle>();
    } else {
        binding_->Reset();
    }
}

void TIdIOHandlerSocket::ConnectTo(const std::string& host, int port, int32_t timeoutMs,
                                   const std::string& boundIP, int boundPort) {
    if (binding_ == nullptr) PrepareHandle();
    TIdStack& stack = TIdStack::Instance();
    binding_->Allocate();
    binding_->Bind(boundIP, boundPort);

    if (!TIdStack::IsDottedQuad(host)) NotifyStatus(hsResolving, host);
    const std::string peerIP = stack.ResolveAddress(host);

    if (!UseNagle) {
        int on = 1;
        stack.CheckSocketResult(setsockopt(binding_->Handle(), IPPROTO_TCP, TCP_NODELAY, &on, sizeof on));
    }
    NotifyStatus(hsConnecting, peerIP);

    if (timeoutMs != UseReadTimeout && timeoutMs != 0) {
        ConnectWithTimeLimit(peerIP, port, timeoutMs);
    } else {
        stack.CheckSocketResult(binding_->Connect(peerIP, port));
    }
    binding_->UpdateBindingLocal();
    binding_->UpdateBindingPeer();
}

void TIdIOHandlerSocket::ConnectWithTimeLimit(const std::string& ip, int port, int32_t limitMs) {
    // Name resolution is done by now: the limit covers the connect alone.
    TIdConnectThread worker(*binding_, ip, port);
    worker.Start();
    if (!worker.WaitFinished(limitMs)) {
        // The caller waits for the worker's end before it raises, so no thread outlives the attempt.
        worker.EndWorker();
        binding_->ShutdownAndClose();
        throw EIdConnectTimeout();
    }
    worker.EndWorker();
    if (std::string message = worker.ErrorMessage(); !message.empty()) throw EIdConnectException(message);
}

bool TIdIOHandlerSocket::IsOpen() const { return binding_ != nullptr && binding_->Allocated(); }

bool TIdIOHandlerSocket::WaitReadable(int32_t timeoutMs) {
    if (!IsOpen()) throw EIdConnClosedGracefully();
    using Clock = std::chrono::steady_clock;
    const bool forever = timeoutMs == WaitForever;
    const auto deadline = Clock::now() + std::chrono::milliseconds(timeoutMs > 0 ? timeoutMs : 0);
    // poll rather than select: select cannot watch a descriptor numbered 1024 or higher.
    pollfd watched{binding_->Handle(), POLLIN, 0};
    for (;;) {
        int waitMs = -1;
        if (!forever) {
            auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
            waitMs = left > 0 ? static_cast<int>(left) : 0;
        }
        int ready = poll(&watched, 1, waitMs);
        // A signal that interrupts the wait is not a timeout: wait for the rest of the time.
        if (ready == -1 && errno == EINTR) continue;
        return ready == 1;
    }
}

int32_t TIdIOHandlerSocket::ReceiveSome(char* buffer, int32_t size) {
    if (!IsOpen()) throw EIdClosedSocket();
    ssize_t count;
    do {
        count = recv(binding_->Handle(), buffer, static_cast<size_t>(size), 0);
    } while (count == -1 && errno == EINTR);
    return static_cast<int32_t>(count);
}

int32_t TIdIOHandlerSocket::SendSome(const char* buffer, int32_t size) {
    if (!IsOpen()) throw EIdClosedSocket();
    ssize_t count;
    do {
        // MSG_NOSIGNAL: a send to a connection the peer has closed must fail with an error the caller
        // reports, not kill the process with SIGPIPE.
        count = send(binding_->Handle(), buffer, static_cast<size_t>(size), MSG_NOSIGNAL);
    } while (count == -1 && errno == EINTR);
    return static_cast<int32_t>(count);
}

void TIdIOHandlerSocket::ShutdownAndClose() {
    if (binding_ != nullptr) binding_->ShutdownAndClose();
}

bool TIdIOHandlerSocket::HasUnreadInput() {
    if (!IsOpen()) return false;
    char probe = 0;
    ssize_t count;
    do {
        count = recv(binding_->Handle(), &probe, 1, MSG_PEEK | MSG_DONTWAIT);
    } while (count == -1 && errno == EINTR);
    return count > 0;
}

// ---------------------------------------------------------------------------------------------------------
// TIdConnectThread

TIdConnectThread::TIdConnectThread(TIdSocketHandle& binding, std::string ip, int port)
    : binding_(binding), ip_(std::move(ip)), port_(port) {}

TIdConnectThread::~TIdConnectThread() { EndWorker(); }

void TIdConnectThread::Start() { thread_ = std::thread(&TIdConnectThread::Execute, this); }

void TIdConnectThread::Execute() {
    std::string message;
    try {
        // The socket may be shut down under the pending connect; those codes are not the connect's fault.
        TIdStack::Instance().CheckSocketResult(binding_.Connect(ip_, port_),
                                               {socket_code::kBadFile, socket_code::kNotSocket});
    } catch (const std::exception& error) {
        message = error.what();
    }
    std::lock_guard<std::mutex> lock(mutex_);
    errorMessage_ = std::move(message);
    finished_ = true;
    finishedChanged_.notify_all();
}

bool TIdConnectThread::WaitFinished(int32_t limitMs) {
    std::unique_lock<std::mutex> lock(mutex_);
    if (limitMs == WaitForever) {
        finishedChanged_.wait(lock, [this] { return finished_; });
        return true;
    }
    auto limit = std::chrono::milliseconds(limitMs > 0 ? limitMs : 0);
    return finishedChanged_.wait_for(lock, limit, [this] { return finished_; });
}

void TIdConnectThread::EndWorker() {
    if (!thread_.joinable()) return;
    // Linux does not end a blocking connect when another thread closes its descriptor, but a shutdown of
    // a socket that is still connecting does. The descriptor stays open until the worker has ended, so
    // that its number cannot be reused under the worker's connect.
    std::unique_lock<std::mutex> lock(mutex_);
    while (!finished_) {
        shutdown(binding_.Handle(), SHUT_RDWR);
        finishedChanged_.wait_for(lock, kAbandonRetry, [this] { return finished_; });
    }
    lock.unlock();
    thread_.join();
}

std::string TIdConnectThread::ErrorMessage() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return errorMessage_;
}
