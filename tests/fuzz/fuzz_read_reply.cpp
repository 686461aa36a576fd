// Feeds random server bytes through ReadReply: every input must end in a transport error or in replies
// that keep the limits, never in a crash, a hang or unbounded memory.
//
// The bytes come from an in-memory channel in place of a socket, handed out in chunks whose size the
// first input byte chooses, so that lines and replies are split at every possible place. The second byte
// chooses the line settings.

#include "transport/socket_errors.h"
#include "transport/tcp_connection.h"

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <cstring>

namespace {

class MemoryChannel : public TIdIOHandler {
public:
    MemoryChannel(const uint8_t* data, size_t size, size_t chunk) : data_(data), size_(size), chunk_(chunk) {}

    void PrepareHandle() override {}
    void ConnectTo(const std::string&, int, int32_t, const std::string&, int) override { open_ = true; }
    bool IsOpen() const override { return open_; }
    // There is always something to read: more bytes, or the end of input (the peer's close).
    bool WaitReadable(int32_t) override {
        if (!open_) throw EIdConnClosedGracefully();
        return true;
    }
    int32_t ReceiveSome(char* buffer, int32_t size) override {
        if (!open_) throw EIdClosedSocket();
        size_t count = std::min({static_cast<size_t>(size), size_ - position_, chunk_});
        std::memcpy(buffer, data_ + position_, count);
        position_ += count;
        return static_cast<int32_t>(count);
    }
    int32_t SendSome(const char*, int32_t size) override { return size; }
    void ShutdownAndClose() override { open_ = false; }
    bool HasUnreadInput() override { return open_ && position_ < size_; }

private:
    const uint8_t* data_;
    size_t size_;
    size_t chunk_;
    size_t position_ = 0;
    bool open_ = false;
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 2) return 0;
    const size_t chunk = static_cast<size_t>(data[0]) * 17 + 1;
    const uint8_t settings = data[1];
    MemoryChannel channel(data + 2, size - 2, chunk);
    TIdTCPClient client;
    if (settings & 1) {
        client.MaxLineAction = maSplit;
        client.MaxLineLength = 1 + settings / 2;
    }
    client.SetIOHandler(&channel, false);
    client.OpenConnection(0);
    try {
        for (;;) {
            client.ReadReply({});
            const TIdRFCReply& reply = client.LastReply();
            if (reply.Lines.empty() || reply.Lines.size() > TIdTCPConnection::kMaxReplyLines) std::abort();
            if (reply.CodeText.size() > 4) std::abort();
            if (client.PendingInput().Size() > size) std::abort();
        }
    } catch (const EIdException&) {
        // Every hostile input ends here.
    }
    // Whatever happened, the connection closes without an error of its own.
    try {
        client.WriteLine("QUIT");
    } catch (const EIdConnClosedGracefully&) {
    }
    client.CloseConnection();
    return 0;
}
