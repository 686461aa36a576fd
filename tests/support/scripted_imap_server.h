#pragma once
// An IMAP server for tests that plays a script on one loopback connection (or one script on each of
// several connections, one after the other): expect a line, send lines, read a literal, check that the
// client keeps quiet, start TLS (after STARTTLS, or at once for implicit TLS), take an APPEND whatever its
// tag, size and date, wait for something outside. It records every byte it receives, decrypted where TLS
// runs, so that tests assert the exact text on the wire. After its last step it ends its side of the
// connection (the client reads end of input) and records what the client still sends until it closes.

#include "tests/support/tls_test_server.h"

#include <functional>
#include <mutex>
#include <string>
#include <vector>

struct ImapStep {
    enum class Kind { Expect, Send, Literal, Quiet, StartTLS, Silent, Append, WaitFor };
    Kind kind;
    std::string text;
    size_t count = 0;  // bytes of a literal, milliseconds of quiet
    std::function<bool()> condition = {};
};
using ImapScript = std::vector<ImapStep>;

namespace imap_script {
// The next line from the client, without its CR LF, must equal line.
ImapStep Expect(std::string line);
// Lines separated by "\n"; each goes out followed by CR LF.
ImapStep Send(const std::string& lines);
// The next count bytes from the client must equal bytes (the literal of an APPEND or a LOGIN).
ImapStep Literal(std::string bytes);
// Nothing may arrive from the client for this long: it must wait for the server.
ImapStep Quiet(int milliseconds);
// The TLS handshake as server.
ImapStep StartTLS();
// Answers nothing more and reads until the client closes.
ImapStep Silent();
// An APPEND of any mailbox, flags and date, with one message or several (MULTIAPPEND): a go-ahead for
// each synchronising literal, the literals, and the tagged answer with `status` ("OK", "NO [OVERQUOTA]
// full").
ImapStep AppendCopy(std::string status);
// Goes on only once the condition holds (polled, for at most 10 s).
ImapStep WaitFor(std::function<bool()> condition);
}  // namespace imap_script

// A message of an APPEND the server took: its command line as if it had come alone, the message of its
// literal, and which APPEND it came with (counted from 0 over all connections).
struct ImapAppend {
    std::string line;
    std::string message;
    size_t command = 0;
};

class ScriptedImapServer {
public:
    explicit ScriptedImapServer(ImapScript script);
    // One script for each connection, in the order the client connects.
    explicit ScriptedImapServer(std::vector<ImapScript> connections);
    int Port() const { return server_.Port(); }
    // Waits until the scripts have been played and the client has closed; tells what went wrong.
    ::testing::AssertionResult Finish() { return server_.Finish(); }
    // Every byte received on a connection; valid once Finish has returned.
    const std::string& Received(size_t connection = 0) const { return received_.at(connection); }
    // The APPENDs of all connections so far.
    std::vector<ImapAppend> Appends() const;

private:
    void Play(TlsTestServer::Peer& peer);

    std::vector<ImapScript> scripts_;
    size_t played_ = 0;
    std::vector<std::string> received_;
    mutable std::mutex mutex_;
    std::vector<ImapAppend> appends_;
    size_t commands_ = 0;
    TlsTestServer server_;
};
