#include "tests/support/scripted_imap_server.h"

#include <chrono>
#include <stdexcept>
#include <thread>

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
ImapStep AppendCopy(std::string status) { return {ImapStep::Kind::Append, std::move(status)}; }
ImapStep WaitFor(std::function<bool()> condition) { return {ImapStep::Kind::WaitFor, {}, 0, std::move(condition)}; }
}  // namespace imap_script

namespace {

// Reads an APPEND: its line, then for each message the go-ahead where its literal synchronises, the
// literal, and what follows it (the next message's flags and date, or the end of the line).
std::vector<ImapAppend> TakeAppend(TlsTestServer::Peer& peer, std::string& tag) {
    std::string line = peer.ReadLine();
    tag = line.substr(0, line.find(' '));
    const size_t command = line.find(" APPEND ");
    const size_t options = line.find(" (", command == std::string::npos ? 0 : command);
    if (command == std::string::npos || options == std::string::npos)
        throw std::runtime_error("expected an APPEND, got \"" + line + "\"");
    const std::string start = line.substr(0, options);  // tag, APPEND and the mailbox
    std::vector<ImapAppend> appends;
    for (std::string rest = line.substr(options); !rest.empty(); rest = peer.ReadLine()) {
        const size_t open = rest.rfind('{');
        if (open == std::string::npos || rest.back() != '}') throw std::runtime_error("no literal in \"" + rest + "\"");
        if (rest[rest.size() - 2] != '+') peer.Send("+ go ahead\r\n");
        ImapAppend append{start + rest, peer.ReadBytes(std::stoul(rest.substr(open + 1)))};
        appends.push_back(std::move(append));
    }
    return appends;
}

}  // namespace

ScriptedImapServer::ScriptedImapServer(ImapScript script) : ScriptedImapServer(std::vector<ImapScript>{std::move(script)}) {}

ScriptedImapServer::ScriptedImapServer(std::vector<ImapScript> connections)
    : scripts_(std::move(connections)),
      received_(scripts_.size()),
      server_(GetTestCertificates().localhost, [this](TlsTestServer::Peer& peer) { Play(peer); }, scripts_.size()) {}

std::vector<ImapAppend> ScriptedImapServer::Appends() const {
    std::lock_guard lock(mutex_);
    return appends_;
}

void ScriptedImapServer::Play(TlsTestServer::Peer& peer) {
    using Kind = ImapStep::Kind;
    const size_t connection = played_++;
    const ImapScript& script = scripts_[connection];
    // Recorded however the script ends: a failed step throws to the server, which reports it.
    struct Record {
        TlsTestServer::Peer& peer;
        std::string& received;
        ~Record() { received = peer.Received(); }
    } record{peer, received_[connection]};
    for (size_t step = 0; step < script.size(); ++step) {
        const ImapStep& current = script[step];
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
        case Kind::Append: {
            std::string tag;
            std::vector<ImapAppend> appends = TakeAppend(peer, tag);
            {
                std::lock_guard lock(mutex_);
                for (ImapAppend& append : appends) {
                    append.command = commands_;
                    appends_.push_back(std::move(append));
                }
                ++commands_;
            }
            peer.Send(tag + " " + current.text + "\r\n");
            break;
        }
        case Kind::WaitFor: {
            const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(10);
            while (!current.condition()) {
                if (std::chrono::steady_clock::now() > end) throw std::runtime_error(where + "waited in vain");
                std::this_thread::sleep_for(std::chrono::milliseconds(10));
            }
            break;
        }
        }
    }
    peer.CloseNotify();
    peer.ReadUntilClosed();
}
