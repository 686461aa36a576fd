#include "tests/support/scripted_imap_server.h"

#include <stdexcept>

namespace imap_script {
ImapStep Expect(std::string line) { return {ImapStep::Kind::Expect, std::move(line)}; }
ImapStep Send(const std::string& lines) {
    std::string bytes;
    size_t start = 0;
    for (size_t end; (end = lines.find('\n', start)) != std::string::npos; start = end + 1) {
        bytes += lines.substr(start, end - start) + "\r\n";
    }
    return {ImapStep::Kind::Send, bytes + lines.substr(start) + "\r\n"};
}
ImapStep Literal(std::string bytes) { return {ImapStep::Kind::Literal, std::move(bytes)}; }
ImapStep Quiet(int milliseconds) { return {ImapStep::Kind::Quiet, {}, static_cast<size_t>(milliseconds)}; }
ImapStep StartTLS() { return {ImapStep::Kind::StartTLS, {}}; }
ImapStep Silent() { return {ImapStep::Kind::Silent, {}}; }
}  // namespace imap_script

ScriptedImapServer::ScriptedImapServer(ImapScript script)
    : script_(std::move(script)),
      server_(GetTestCertificates().localhost, [this](TlsTestServer::Peer& peer) { Play(peer); }) {}

void ScriptedImapServer::Play(TlsTestServer::Peer& peer) {
    using Kind = ImapStep::Kind;
    // Recorded however the script ends: a failed step throws to the server, which reports it.
    struct Record {
        TlsTestServer::Peer& peer;
        std::string& received;
        ~Record() { received = peer.Received(); }
    } record{peer, received_};
    for (size_t step = 0; step < script_.size(); ++step) {
        const ImapStep& current = script_[step];
        const std::string where = "step " + std::to_string(step + 1) + ": ";
        switch (current.kind) {
        case Kind::Expect:
            peer.ExpectLine(current.text);
            break;
        case Kind::Send:
            peer.Send(current.text);
            break;
        case Kind::Literal:
            if (peer.ReadBytes(current.text.size()) != current.text) throw std::runtime_error(where + "another literal");
            break;
        case Kind::Quiet:
            if (!peer.Quiet(static_cast<int>(current.count))) throw std::runtime_error(where + "the client did not wait");
            break;
        case Kind::StartTLS:
            if (!peer.AcceptTLS()) throw std::runtime_error(where + peer.HandshakeError());
            break;
        case Kind::Silent:
            peer.ReadUntilClosed();
            return;
        }
    }
    peer.CloseNotify();
    peer.ReadUntilClosed();
}
