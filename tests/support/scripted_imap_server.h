#pragma once
// An IMAP server for tests that plays a script on one loopback connection: expect a line, send lines,
// read a literal, check that the client keeps quiet, start TLS (after STARTTLS, or at once for implicit
// TLS). It records every byte it receives, decrypted where TLS runs, so that tests assert the exact text
// on the wire. After its last step it ends its side of the connection (the client reads end of input)
// and records what the client still sends until it closes.

#include "tests/support/tls_test_server.h"

#include <string>
#include <vector>

struct ImapStep {
    enum class Kind { Expect, Send, Literal, Quiet, StartTLS, Silent };
    Kind kind;
    std::string text;
    size_t count = 0;  // bytes of a literal, milliseconds of quiet
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
}  // namespace imap_script

class ScriptedImapServer {
public:
    explicit ScriptedImapServer(ImapScript script);
    int Port() const { return server_.Port(); }
    // Waits until the script has been played and the client has closed; tells what went wrong.
    ::testing::AssertionResult Finish() { return server_.Finish(); }
    // Every byte received; valid once Finish has returned.
    const std::string& Received() const { return received_; }

private:
    void Play(TlsTestServer::Peer& peer);

    ImapScript script_;
    std::string received_;
    TlsTestServer server_;
};
