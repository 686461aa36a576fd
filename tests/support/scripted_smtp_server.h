#pragma once
// A mail server for tests that plays a script: on a free loopback port it accepts connections and, for
// each, walks a list of steps (expect a line, send bytes, wait, close, reset, ...). It records every byte
// it receives so that tests can assert the exact text on the wire, and it reports where the client did
// not do what the script expected.
//
//     using namespace smtp_script;
//     ScriptedSmtpServer server({Reply("220 ready"), Expect("EHLO host"), Reply("250-host\n250 HELP"),
//                                Expect("QUIT"), Reply("221 bye")});
//     client.Host = server.Host(); client.Port = server.Port(); ...
//     EXPECT_TRUE(server.Finish());
//     EXPECT_EQ(server.Received(), "EHLO host\r\nQUIT\r\n");
//
// After its last step a connection half-closes (the client reads end of input) and keeps recording what
// the client still sends until the client closes.

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

struct ScriptStep {
    enum class Kind { Expect, ExpectAny, ReadUntil, Send, Wait, Close, Reset, Silent, SendForever };
    Kind kind;
    std::string text;
    int milliseconds = 0;
};
using Script = std::vector<ScriptStep>;

namespace smtp_script {
// The next line from the client, without its line end, must equal line. A lone LF ends a line here too;
// assert on Received() to see the exact line ends.
ScriptStep Expect(std::string line);
// Any one line.
ScriptStep ExpectAny();
// Lines up to and including the first that equals line (for example the "." that ends a message).
ScriptStep ReadUntil(std::string line);
// The bytes exactly as given.
ScriptStep Send(std::string bytes);
// Reply lines separated by "\n"; each goes out followed by CR LF.
ScriptStep Reply(const std::string& lines);
ScriptStep Wait(int milliseconds);
// Half-closes the connection (FIN) and ends the script; input is still recorded.
ScriptStep Close();
// Aborts the connection with a reset (RST) and ends the script.
ScriptStep Reset();
// Sends nothing more and reads until the client closes.
ScriptStep Silent();
// Sends the bytes again and again until the client closes or the server stops.
ScriptStep SendForever(std::string bytes);
}  // namespace smtp_script

class ScriptedSmtpServer {
public:
    // The first script plays on the first connection; AddConnection queues scripts for later ones.
    explicit ScriptedSmtpServer(Script firstConnection);
    ~ScriptedSmtpServer();
    ScriptedSmtpServer(const ScriptedSmtpServer&) = delete;
    ScriptedSmtpServer& operator=(const ScriptedSmtpServer&) = delete;

    void AddConnection(Script script);

    std::string Host() const { return "127.0.0.1"; }
    int Port() const { return port_; }

    // Waits until every queued script has been played to its end and tells what went wrong, if anything.
    ::testing::AssertionResult Finish(std::chrono::milliseconds limit = std::chrono::seconds(30));
    // Every byte received so far on a connection (counted from 0 in the order of acceptance).
    std::string Received(size_t connection = 0) const;
    // Connections accepted so far.
    size_t Connections() const;

private:
    struct Connection;

    void AcceptLoop();
    void Play(std::shared_ptr<Connection> connection, Script script, size_t index);
    void Problem(size_t index, size_t step, const std::string& text);

    int listener_ = -1;
    int port_ = 0;
    std::atomic<bool> stopping_{false};
    std::thread acceptThread_;

    mutable std::mutex mutex_;
    std::condition_variable changed_;
    std::vector<Script> scripts_;
    std::vector<std::shared_ptr<Connection>> connections_;
    std::vector<std::thread> players_;
    size_t scriptsDone_ = 0;
    std::vector<std::string> problems_;
};
