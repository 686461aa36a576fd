#pragma once
// The bottom of the mail transport: the process-wide socket layer (TIdStack), one TCP socket
// (TIdSocketHandle), and the socket adapter (TIdIOHandlerSocket) through which a connection creates,
// connects, waits on, reads, writes and closes its socket. A connect may run with a time limit: the
// blocking connect call then runs on a worker thread (TIdConnectThread) while the caller waits.
//
// Sockets are POSIX sockets over IPv4. Failures are exceptions from socket_errors.h.

#include <netdb.h>

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <initializer_list>
#include <memory>
#include <mutex>
#include <string>
#include <thread>

// Time limits in milliseconds; these two negative values have a meaning of their own.
inline constexpr int32_t UseReadTimeout = -1;  // the connection's own ReadTimeout
inline constexpr int32_t WaitForever = -2;     // no limit

// Stages of a connection reported to its status observer.
enum TIdStatus { hsResolving, hsConnecting, hsConnected, hsDisconnecting, hsDisconnected, hsStatusText };
using TIdStatusEvent = std::function<void(TIdStatus status, const std::string& text)>;

// Every transport component keeps the socket layer alive: the first one creates it, the last one
// destroys it. The count is changed only under a process-wide lock.
class TIdComponent {
public:
    TIdComponent();
    virtual ~TIdComponent();
    TIdComponent(const TIdComponent&) = delete;
    TIdComponent& operator=(const TIdComponent&) = delete;
};

class TIdStack {
public:
    // The name lookup the stack uses; getaddrinfo unless a test puts another in its place.
    using AddressLookup = int (*)(const char* node, const char* service, const addrinfo* hints,
                                  addrinfo** result);

    // The socket layer of the process; exists only while some TIdComponent exists.
    static TIdStack& Instance();
    // Whether the socket layer exists right now.
    static bool Exists();
    // Replaces the name lookup (nullptr restores getaddrinfo) and returns the one before.
    static AddressLookup SetAddressLookup(AddressLookup lookup);

    // Dotted IPv4 address of a host name or address.
    std::string ResolveAddress(const std::string& host);
    static bool IsDottedQuad(const std::string& text);
    // False for a result other than -1. For -1 the socket error code is fetched (from errno) and kept as
    // the last error; the answer is true when the code is tolerated, else EIdSocketError is raised.
    bool CheckSocketResult(int result, std::initializer_list<int> tolerated = {});
    [[noreturn]] void RaiseSocketError(int code);
    std::string LocalHostName();
    int LastError() const { return lastError_.load(std::memory_order_relaxed); }

private:
    friend class TIdComponent;
    TIdStack() = default;

    // Several connections on several threads may fail at once; the last error is only informative.
    std::atomic<int> lastError_{0};
};

// One TCP socket: its descriptor and the addresses at both ends.
class TIdSocketHandle {
public:
    static constexpr int kNoHandle = -1;

    TIdSocketHandle() = default;
    ~TIdSocketHandle();
    TIdSocketHandle(const TIdSocketHandle&) = delete;
    TIdSocketHandle& operator=(const TIdSocketHandle&) = delete;

    int Handle() const { return handle_; }
    bool Allocated() const { return allocated_; }
    const std::string& LocalIP() const { return localIP_; }
    int LocalPort() const { return localPort_; }
    const std::string& PeerIP() const { return peerIP_; }
    int PeerPort() const { return peerPort_; }

    // Back to no handle and no addresses, without closing anything.
    void Reset();
    // Creates an IPv4 stream socket; EIdInvalidSocket when that fails.
    void Allocate();
    void Bind(const std::string& ip, int port);
    // One blocking connect call; returns its result (0 or -1 with errno set).
    int Connect(const std::string& ip, int port);
    // Reads the local and peer addresses back from the socket.
    void UpdateBindingLocal();
    void UpdateBindingPeer();
    // Shuts down the sending side and closes the descriptor; results are ignored.
    void ShutdownAndClose();

private:
    int handle_ = kNoHandle;
    bool allocated_ = false;
    std::string localIP_;
    int localPort_ = 0;
    std::string peerIP_;
    int peerPort_ = 0;
};

// The byte channel a connection reads and writes through. The socket adapter below is the one the
// program uses; tests and fuzz harnesses may put an in-memory channel in its place.
class TIdIOHandler : public TIdComponent {
public:
    // Gives the adapter a fresh handle, or resets the existing one (without closing anything).
    virtual void PrepareHandle() = 0;
    virtual void ConnectTo(const std::string& host, int port, int32_t timeoutMs, const std::string& boundIP,
                           int boundPort) = 0;
    virtual bool IsOpen() const = 0;
    // True when input (or the peer's close) is waiting; false on timeout or a failed wait.
    virtual bool WaitReadable(int32_t timeoutMs) = 0;
    // One receive or send call: the count, 0 when the peer has closed (receive), -1 with errno set.
    virtual int32_t ReceiveSome(char* buffer, int32_t size) = 0;
    virtual int32_t SendSome(const char* buffer, int32_t size) = 0;
    virtual void ShutdownAndClose() = 0;
    // Whether input has arrived that no receive has taken yet; answers at once, without waiting. The
    // peer's close is not input.
    virtual bool HasUnreadInput() = 0;

    void SetOnStatus(TIdStatusEvent observer) { onStatus_ = std::move(observer); }

protected:
    void NotifyStatus(TIdStatus status, const std::string& text) const {
        if (onStatus_) onStatus_(status, text);
    }

private:
    TIdStatusEvent onStatus_;
};

class TIdIOHandlerSocket : public TIdIOHandler {
public:
    TIdIOHandlerSocket() = default;
    ~TIdIOHandlerSocket() override;

    void PrepareHandle() override;
    void ConnectTo(const std::string& host, int port, int32_t timeoutMs, const std::string& boundIP,
                   int boundPort) override;
    bool IsOpen() const override;
    bool WaitReadable(int32_t timeoutMs) override;
    int32_t ReceiveSome(char* buffer, int32_t size) override;
    int32_t SendSome(const char* buffer, int32_t size) override;
    void ShutdownAndClose() override;
    bool HasUnreadInput() override;

    // The Nagle algorithm stays on unless this is set to false before the connect.
    bool UseNagle = true;

    // The socket, or nullptr before the first PrepareHandle.
    const TIdSocketHandle* Binding() const { return binding_.get(); }

private:
    // Runs the connect on a worker thread and waits for it at most limitMs (or without limit for
    // WaitForever).
    void ConnectWithTimeLimit(const std::string& ip, int port, int32_t limitMs);

    std::unique_ptr<TIdSocketHandle> binding_;
};

// Runs one blocking connect on its own thread. Created idle, started once; whoever owns it waits for its
// end (the destructor does so too, after interrupting a connect that is still pending).
class TIdConnectThread {
public:
    explicit TIdConnectThread(TIdSocketHandle& binding, std::string ip, int port);
    ~TIdConnectThread();
    TIdConnectThread(const TIdConnectThread&) = delete;
    TIdConnectThread& operator=(const TIdConnectThread&) = delete;

    void Start();
    // Waits until the worker has finished or the limit (ms, or WaitForever) has passed; true when finished.
    bool WaitFinished(int32_t limitMs);
    // Interrupts a connect that is still pending and waits for the worker's end.
    void EndWorker();
    // The worker's error text; empty when the connect succeeded. Valid once it has finished.
    std::string ErrorMessage() const;

private:
    void Execute();

    TIdSocketHandle& binding_;
    const std::string ip_;
    const int port_;
    std::thread thread_;
    mutable std::mutex mutex_;
    std::condition_variable finishedChanged_;
    bool finished_ = false;
    std::string errorMessage_;
};
