#include "transport/tcp_connection.h"

#include "transport/socket_errors.h"

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstring>
#include <exception>
#include <strings.h>
#include <sys/socket.h>
#include <sys/time.h>

EIdAlreadyConnected::EIdAlreadyConnected() : EIdException("Verbindung besteht bereits.") {}
EIdNotConnected::EIdNotConnected() : EIdException("Nicht verbunden") {}
EIdReadTimeout::EIdReadTimeout() : EIdException("Zeitüberschreitung beim Lesen") {}
EIdReadLnMaxLineLengthExceeded::EIdReadLnMaxLineLengthExceeded() : EIdException("Max. Zeilenlänge überschritten.") {}
EIdLineBreakInLine::EIdLineBreakInLine() : EIdException("Zeilenumbruch innerhalb einer Zeile.") {}
EIdProtocolReplyError::EIdProtocolReplyError(int32_t code, const std::string& message)
    : EIdException(message), code_(code) {}

namespace {

const std::string kLineFeed = "\n";
const std::string kLineEnd = "\r\n";

}  // namespace

TIdTCPConnection::TIdTCPConnection() = default;

// Destroying a connection closes its socket without notifications; what is still buffered for sending
// goes out first, as it would have with unbuffered writes.
TIdTCPConnection::~TIdTCPConnection() {
    if (ioHandler_ != nullptr && ioHandler_->IsOpen()) {
        try {
            FlushOutput();
        } catch (const std::exception&) {
            // The peer is gone; nothing is left to tell anyone.
        }
        ioHandler_->ShutdownAndClose();
    }
    ReleaseIOHandler();
}

void TIdTCPConnection::NotifyStatus(TIdStatus status, const std::string& text) const {
    if (OnStatus) OnStatus(status, text);
}

void TIdTCPConnection::SetIOHandler(TIdIOHandler* handler, bool owned) {
    if (handler == ioHandler_) {
        ownsIOHandler_ = owned;
        return;
    }
    ReleaseIOHandler();
    ioHandler_ = handler;
    ownsIOHandler_ = owned;
}

void TIdTCPConnection::ReleaseIOHandler() {
    if (ownsIOHandler_) delete ioHandler_;
    ioHandler_ = nullptr;
    ownsIOHandler_ = false;
}

TIdIOHandler& TIdTCPConnection::EnsureIOHandler() {
    if (ioHandler_ == nullptr) SetIOHandler(new TIdIOHandlerSocket(), true);
    ioHandler_->SetOnStatus([this](TIdStatus status, const std::string& text) { NotifyStatus(status, text); });
    return *ioHandler_;
}

void TIdTCPConnection::SetOutputBufferSize(size_t size) {
    FlushOutput();
    outputBufferSize_ = size;
}

// ---------------------------------------------------------------------------------------------------------
// State

void TIdTCPConnection::ResetInput() {
    pendingInput_.Clear();
    outputBuffer_.Clear();
    peerClosed_ = false;
}

void TIdTCPConnection::CheckPeerClosed(bool raiseIfClosed, bool ignoreBuffer) {
    bool closed = false;
    if (peerClosed_ && ioHandler_ != nullptr) {
        if (ioHandler_->IsOpen()) {
            DropSocket();
            NotifyStatus(hsDisconnected, "");
            if (OnDisconnected) OnDisconnected();
        }
        closed = true;
    } else if (ioHandler_ != nullptr && !ioHandler_->IsOpen()) {
        closed = true;
    }
    // Input that arrived before the close is still handed out; only a read that needs more fails.
    if (closed && raiseIfClosed && (pendingInput_.Size() == 0 || ignoreBuffer)) throw EIdConnClosedGracefully();
}

bool TIdTCPConnection::HasUnreadInput() {
    if (pendingInput_.Size() > 0) return true;
    return ioHandler_ != nullptr && ioHandler_->IsOpen() && ioHandler_->HasUnreadInput();
}

bool TIdTCPConnection::IsConnected() {
    CheckPeerClosed(false, false);
    return ioHandler_ != nullptr && ioHandler_->IsOpen();
}

void TIdTCPConnection::DropSocket() {
    if (ioHandler_ == nullptr) return;
    // Only reached when the connection is closing or has failed: bytes not yet sent cannot be
    // delivered any more.
    outputBuffer_.Clear();
    peerClosed_ = true;
    ioHandler_->ShutdownAndClose();
}

void TIdTCPConnection::CloseConnection() {
    NotifyStatus(hsDisconnecting, "");
    std::exception_ptr flushError;
    try {
        if (ioHandler_ != nullptr && ioHandler_->IsOpen()) FlushOutput();
    } catch (...) {
        // The close still completes; the error is reported after it.
        flushError = std::current_exception();
    }
    DropSocket();
    if (ownsIOHandler_) ReleaseIOHandler();
    if (OnDisconnected) OnDisconnected();
    NotifyStatus(hsDisconnected, "");
    if (flushError) std::rethrow_exception(flushError);
}

// ---------------------------------------------------------------------------------------------------------
// Reading

std::string TIdTCPConnection::TakeInput(size_t count) {
    std::string bytes = pendingInput_.Extract(count);
    inputTaken_ += count;
    if (OnWork) OnWork(wmRead, static_cast<int64_t>(count));
    return bytes;
}

int32_t TIdTCPConnection::FillInputBuffer(bool raiseIfDisconnected, int32_t timeoutMs, bool raiseOnTimeout) {
    if (timeoutMs == UseReadTimeout) timeoutMs = ReadTimeout == 0 ? WaitForever : ReadTimeout;
    CheckPeerClosed(raiseIfDisconnected, false);
    if (!IsConnected()) {
        if (raiseIfDisconnected) throw EIdNotConnected();
        return 0;
    }
    // The peer cannot answer what it has not received yet.
    FlushOutput();

    int32_t count = 0;
    do {
        if (!ioHandler_->WaitReadable(timeoutMs)) {
            if (raiseOnTimeout) throw EIdReadTimeout();
            return -1;
        }
        // The buffer keeps its size between reads: sizing it anew for every reply cleared 32 KiB each time.
        const size_t size = static_cast<size_t>(std::max<int32_t>(RecvBufferSize, 1));
        if (receiveBuffer_.Size() != size) receiveBuffer_.SetSize(size);
        count = ioHandler_->ReceiveSome(receiveBuffer_.Data(), static_cast<int32_t>(size));
        peerClosed_ = count == 0;
        if (count < 0) {
            const int code = SocketCodeFromErrno(errno);
            // A connection shut down or aborted on this side ends like a close; any other error is raised
            // with the socket left open.
            TIdStack::Instance().CheckSocketResult(count, {socket_code::kShutDown, socket_code::kConnectionAborted});
            count = 0;
            DropSocket();
            if (pendingInput_.Size() == 0) throw EIdSocketError(code);
        }
        if (count > 0) pendingInput_.Append(receiveBuffer_.Data(), static_cast<size_t>(count));
        CheckPeerClosed(raiseIfDisconnected, false);
    } while (count == 0 && IsConnected());
    return count;
}

std::string TIdTCPConnection::ReadLine(const std::string& terminator, int32_t maxLength) {
    const std::string& mark = terminator.empty() ? kLineFeed : terminator;
    const size_t limit = static_cast<size_t>(std::max<int32_t>(maxLength == -1 ? MaxLineLength : maxLength, 0));
    if (outputBuffer_.Size() > 0 && IsConnected()) FlushOutput();

    // Only the bytes that arrived since the last search are searched again (less a terminator's length
    // but one, in case a terminator of several bytes arrived in two parts).
    size_t searchFrom = 0;
    size_t found = std::string::npos;
    for (;;) {
        if (pendingInput_.Size() > 0) {
            found = pendingInput_.Find(mark, searchFrom);
            searchFrom = pendingInput_.Size() - std::min(pendingInput_.Size(), mark.size() - 1);
        }
        bool tooLong = limit > 0 && (found != std::string::npos ? found > limit : pendingInput_.Size() > limit);
        if (tooLong) {
            if (MaxLineAction == maException) throw EIdReadLnMaxLineLengthExceeded();
            return TakeInput(limit);
        }
        if (found != std::string::npos) break;
        CheckPeerClosed(true, true);
        // The server closed in the middle of a line: the incomplete bytes stay, and the next read fails.
        if (FillInputBuffer(true, UseReadTimeout, true) == 0) return {};
    }
    std::string line = TakeInput(found + mark.size());
    line.resize(found);
    if (mark == kLineFeed && !line.empty() && line.back() == '\r') line.pop_back();
    return line;
}

std::string TIdTCPConnection::ReadNonEmptyLine(int32_t maxAttempts) {
    std::string line;
    int32_t attempts = 0;
    do {
        line = TrimLine(ReadLine());
        ++attempts;
    } while (line.empty() && attempts < maxAttempts);
    return line;
}

std::string TIdTCPConnection::ReadReplyLine(size_t& bytesLeft) {
    for (;;) {
        uint64_t takenBefore = inputTaken_;
        std::string line = ReadLine();
        uint64_t taken = inputTaken_ - takenBefore;
        if (taken > bytesLeft) throw EIdReadLnMaxLineLengthExceeded();
        bytesLeft -= static_cast<size_t>(taken);
        line = TrimLine(line);
        if (!line.empty()) return line;
    }
}

int16_t TIdTCPConnection::ReadReply(const std::vector<int16_t>& expected) {
    size_t bytesLeft = kMaxReplyBytes;
    std::vector<std::string> lines{ReadReplyLine(bytesLeft)};
    const std::string& first = lines.front();
    if (first.size() > 3 && first[3] == '-') {
        // A continuation line with another code does not end the reply; only the first line's code
        // followed by a blank (or a line too short to carry a code) does.
        const std::string endMark = first.substr(0, 3) + " ";
        for (;;) {
            if (lines.size() >= kMaxReplyLines) throw EIdReadLnMaxLineLengthExceeded();
            lines.push_back(ReadReplyLine(bytesLeft));
            const std::string& line = lines.back();
            if (line.size() < 4 || strncasecmp(line.c_str(), endMark.c_str(), 4) == 0) break;
        }
    }
    lastReply_.ParseReply(lines);
    return CheckReplyCode(static_cast<int16_t>(lastReply_.Code), expected);
}

int16_t TIdTCPConnection::CheckReplyCode(int16_t code, const std::vector<int16_t>& expected) {
    if (!expected.empty() && std::find(expected.begin(), expected.end(), code) == expected.end()) RaiseReplyError();
    return code;
}

void TIdTCPConnection::RaiseReplyError() { throw EIdProtocolReplyError(lastReply_.Code, lastReply_.Text()); }

int16_t TIdTCPConnection::SendCommand(const std::string& line, const std::vector<int16_t>& expected) {
    WriteLine(line);
    return ReadReply(expected);
}

int16_t TIdTCPConnection::SendCommand(const std::string& line, int16_t expectedCode) {
    if (expectedCode == -1) return SendCommand(line, std::vector<int16_t>{});
    return SendCommand(line, std::vector<int16_t>{expectedCode});
}

// ---------------------------------------------------------------------------------------------------------
// Writing

void TIdTCPConnection::WriteBytes(const char* bytes, size_t count) {
    if (count == 0 || bytes == nullptr) return;
    // A write after the server's close was noticed, or after DropSocket, raises EIdConnClosedGracefully;
    // a write without an adapter raises EIdNotConnected.
    CheckPeerClosed(true, true);
    if (!IsConnected()) throw EIdNotConnected();
    if (writeCapture_ != nullptr) writeCapture_->append(bytes, count);
    if (outputBufferSize_ == 0) {
        SendAll(bytes, count);
        return;
    }
    while (count > 0) {
        size_t part = std::min(count, outputBufferSize_ - outputBuffer_.Size());
        outputBuffer_.Append(bytes, part);
        bytes += part;
        count -= part;
        if (outputBuffer_.Size() >= outputBufferSize_) FlushOutput();
    }
}

void TIdTCPConnection::FlushOutput() {
    if (outputBuffer_.Size() == 0) return;
    // Emptied whatever happens: after a failed send its bytes are not sent a second time.
    struct EmptyOnExit {
        TIdSimpleBuffer& buffer;
        ~EmptyOnExit() { buffer.Clear(); }
    } emptyOnExit{outputBuffer_};
    SendAll(outputBuffer_.Data(), outputBuffer_.Size());
}

void TIdTCPConnection::SendAll(const char* bytes, size_t count) {
    size_t position = 0;
    while (position < count) {
        if (ioHandler_ == nullptr) throw EIdNotConnected();
        size_t part = std::min<size_t>(count - position, INT32_MAX);
        int32_t sent = ioHandler_->SendSome(bytes + position, static_cast<int32_t>(part));
        if (sent < 0) {
            const int code = SocketCodeFromErrno(errno);
            // Shut down, aborted or reset by the peer: the connection is over. Other errors leave it open.
            TIdStack::Instance().CheckSocketResult(sent, {socket_code::kShutDown, socket_code::kConnectionAborted,
                                                          socket_code::kConnectionReset});
            DropSocket();
            throw EIdSocketError(code);
        }
        peerClosed_ = sent == 0;
        CheckPeerClosed(true, false);
        if (OnWork) OnWork(wmWrite, sent);
        position += static_cast<size_t>(sent);
    }
}

void TIdTCPConnection::WriteText(const std::string& text) {
    if (!text.empty()) WriteBytes(text.data(), text.size());
}

void TIdTCPConnection::WriteLine(const std::string& text) {
    if (std::memchr(text.data(), '\r', text.size()) != nullptr || std::memchr(text.data(), '\n', text.size()) != nullptr) {
        throw EIdLineBreakInLine();
    }
    if (outputBufferSize_ == 0) {
        WriteText(text + kLineEnd);  // one send for the line and its end
        return;
    }
    // Into the output buffer in two pieces: no copy of the line for its end.
    WriteText(text);
    WriteBytes(kLineEnd.data(), kLineEnd.size());
}

void TIdTCPConnection::WriteLines(const std::vector<std::string>& lines) {
    for (const std::string& line : lines) WriteLine(line);
}

// ---------------------------------------------------------------------------------------------------------
// TIdTCPClient

void TIdTCPClient::OpenConnection(int32_t timeoutMs) {
    if (IOHandler() != nullptr && IOHandler()->IsOpen()) throw EIdAlreadyConnected();
    TIdIOHandler& handler = EnsureIOHandler();
    try {
        handler.PrepareHandle();
        ResetInput();
        handler.ConnectTo(Host, Port, timeoutMs, BoundIP, BoundPort);
        NotifyStatus(hsConnected, Host);
        if (OnConnected) OnConnected();
    } catch (...) {
        DropSocket();
        throw;
    }
}

void TIdTCPClient::LimitSendWaits(int32_t limitMs) {
    auto* socket = dynamic_cast<TIdIOHandlerSocket*>(IOHandler());
    if (socket == nullptr || socket->Binding() == nullptr || limitMs <= 0) return;
    timeval limit{limitMs / 1000, static_cast<suseconds_t>((limitMs % 1000) * 1000)};
    setsockopt(socket->Binding()->Handle(), SOL_SOCKET, SO_SNDTIMEO, &limit, sizeof limit);
}
