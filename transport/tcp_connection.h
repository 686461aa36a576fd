#pragma once
// The blocking, line-oriented TCP connection that the SMTP session reads and writes through.
//
// It writes text and CR LF-terminated lines, reads LF-terminated lines from an input buffer, collects
// numbered multi-line replies into a TIdRFCReply, notices when the server has closed, and raises an
// exception with a fixed German text for every failure. Text is bytes; nothing is converted.
//
// Writes are collected in a bounded output buffer and go to the socket when it is full, before every read
// and before the socket is closed: the bytes on the wire are the same as with one send per line, without a
// system call (and, with Nagle on, a possible wait for the peer's delayed acknowledgement) per line.

#include "transport/id_exception.h"
#include "transport/io_buffers.h"
#include "transport/rfc_reply.h"
#include "transport/socket_layer.h"

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

class EIdAlreadyConnected : public EIdException {
public:
    EIdAlreadyConnected();
};

class EIdNotConnected : public EIdException {
public:
    EIdNotConnected();
};

class EIdReadTimeout : public EIdException {
public:
    EIdReadTimeout();
};

class EIdReadLnMaxLineLengthExceeded : public EIdException {
public:
    EIdReadLnMaxLineLengthExceeded();
};

// A line to write that holds a CR or LF of its own: it could end the line early and smuggle in a
// command or data line, so it is refused before anything is written.
class EIdLineBreakInLine : public EIdException {
public:
    EIdLineBreakInLine();
};

// A reply code outside the expected ones; the text is the reply's lines, each followed by CR LF.
class EIdProtocolReplyError : public EIdException {
public:
    EIdProtocolReplyError(int32_t code, const std::string& message);
    int32_t ReplyErrorCode() const { return code_; }

private:
    int32_t code_;
};

enum TIdMaxLineAction { maException, maSplit };
enum TWorkMode { wmRead, wmWrite };

class TIdTCPConnection : public TIdComponent {
public:
    // The longest line a read accepts by default, in bytes before the LF (a CR before it counted).
    static constexpr int32_t kDefaultMaxLineLength = 16384;
    // Limits of one server reply, so that a server sending endless continuation lines cannot eat all
    // the memory: more lines or more bytes than this raise EIdReadLnMaxLineLengthExceeded.
    static constexpr size_t kMaxReplyLines = 1000;
    static constexpr size_t kMaxReplyBytes = 1024 * 1024;
    // Size of the output buffer; a full buffer is sent at once.
    static constexpr size_t kOutputBufferSize = 64 * 1024;

    TIdTCPConnection();
    ~TIdTCPConnection() override;

    // Settings.
    int32_t ReadTimeout = 0;  // ms; 0: no limit
    int32_t MaxLineLength = kDefaultMaxLineLength;  // 0: no limit
    TIdMaxLineAction MaxLineAction = maException;
    int32_t RecvBufferSize = 32768;  // most bytes asked for in one receive
    int32_t SendBufferSize = 32768;  // kept as a setting; the connection writes no whole streams

    // Notifications; none is required.
    TIdStatusEvent OnStatus;
    std::function<void()> OnConnected;
    std::function<void()> OnDisconnected;
    std::function<void(TWorkMode mode, int64_t count)> OnWork;

    virtual void ResetInput();
    virtual void CheckPeerClosed(bool raiseIfClosed, bool ignoreBuffer);
    virtual int16_t CheckReplyCode(int16_t code, const std::vector<int16_t>& expected);
    virtual bool IsConnected();
    virtual void CloseConnection();
    virtual void DropSocket();
    virtual int16_t ReadReply(const std::vector<int16_t>& expected);
    [[noreturn]] virtual void RaiseReplyError();
    // Waits for input and appends what arrives to PendingInput. Returns the count received, 0 when the
    // connection closed, -1 on a timeout that is not raised.
    virtual int32_t FillInputBuffer(bool raiseIfDisconnected, int32_t timeoutMs, bool raiseOnTimeout);
    virtual std::string ReadLine(const std::string& terminator = "\n", int32_t maxLength = -1);
    virtual int16_t SendCommand(const std::string& line, const std::vector<int16_t>& expected);
    virtual void WriteText(const std::string& text);
    // Writes the text and CR LF; a text holding a CR or LF raises EIdLineBreakInLine.
    virtual void WriteLine(const std::string& text);

    // -1 accepts every reply code; any other value is the one code expected.
    int16_t SendCommand(const std::string& line, int16_t expectedCode);
    std::string ReadNonEmptyLine(int32_t maxAttempts);
    void WriteBytes(const char* bytes, size_t count);
    void WriteLines(const std::vector<std::string>& lines);
    // Sends what the output buffer holds.
    void FlushOutput();
    // Bytes the output buffer collects before it is sent; 0 sends every write at once.
    void SetOutputBufferSize(size_t size);
    // While set, every byte written is appended to this string too (not owned); nullptr ends the copy.
    void SetWriteCapture(std::string* capture) { writeCapture_ = capture; }

    TIdManagedBuffer& PendingInput() { return pendingInput_; }
    // Whether input has arrived that no read has taken yet: in PendingInput, or still in the channel.
    // Answers at once. After a reply that must be the server's last word before a change of protocol
    // (STARTTLS), such input was injected by someone on the path.
    bool HasUnreadInput();
    const TIdRFCReply& LastReply() const { return lastReply_; }
    bool PeerClosed() const { return peerClosed_; }

    TIdIOHandler* IOHandler() const { return ioHandler_; }
    // Uses the given channel instead of a socket adapter of its own; owned says whether the connection
    // destroys it.
    void SetIOHandler(TIdIOHandler* handler, bool owned);

protected:
    void NotifyStatus(TIdStatus status, const std::string& text) const;
    // Gives the adapter the connection's status observer; creates an owned socket adapter when none is set.
    TIdIOHandler& EnsureIOHandler();

private:
    std::string TakeInput(size_t count);
    void SendAll(const char* bytes, size_t count);
    // One reply line (trimmed, not empty); raises when the reply has used up the bytes still allowed.
    std::string ReadReplyLine(size_t& bytesLeft);
    void ReleaseIOHandler();

    TIdIOHandler* ioHandler_ = nullptr;
    bool ownsIOHandler_ = false;
    TIdManagedBuffer pendingInput_;
    TIdSimpleBuffer receiveBuffer_;
    TIdSimpleBuffer outputBuffer_;
    size_t outputBufferSize_ = kOutputBufferSize;
    std::string* writeCapture_ = nullptr;
    bool peerClosed_ = false;
    uint64_t inputTaken_ = 0;  // bytes ever taken from PendingInput
    TIdRFCReply lastReply_;
};

class TIdTCPClient : public TIdTCPConnection {
public:
    std::string Host;
    int Port = 0;
    std::string BoundIP;
    int BoundPort = 0;

    // Connects to Host and Port; the connect runs with the time limit given (ms; -1 and 0: none).
    virtual void OpenConnection(int32_t timeoutMs);

protected:
    // A server that stops reading must not hold a send for ever: a send call that cannot hand over a
    // single byte within limitMs (ms; 0 and below: no limit) fails with a socket error.
    void LimitSendWaits(int32_t limitMs);
};
