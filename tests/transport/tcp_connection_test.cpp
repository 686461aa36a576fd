#include "transport/socket_errors.h"
#include "transport/tcp_connection.h"

#include "tests/support/connection_checks.h"
#include "tests/support/scripted_smtp_server.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

using namespace smtp_script;

namespace {

// The connect limit the program uses.
constexpr int32_t kConnectLimitMs = 1000;

void Connect(TIdTCPClient& client, const ScriptedSmtpServer& server) {
    client.Host = server.Host();
    client.Port = server.Port();
    client.OpenConnection(kConnectLimitMs);
}

struct ReplyCase {
    std::string name;
    int32_t code;
    std::string codeText;
    std::vector<std::string> lines;
};

}  // namespace

TEST(TcpConnectionReply, ReadsNumberedRepliesOneAfterAnother) {
    const std::vector<ReplyCase> cases = {
        {"empty line inside a reply", 250, "250", {"first", "second", "last"}},
        {"code alone", 220, "220", {""}},
        {"codes changing inside a reply", 250, "250", {"a", "b", "c"}},
        {"line end LF alone", 250, "250", {"OK"}},
        {"CR inside a line stays", 250, "250", {"O\rK"}},
        {"end mark compared without letter case", 0, "abc", {"x", "y"}},
        {"continuation ended by a short line", 354, "354", {"go", ""}},
        {"code that is not a number", 0, "2x0", {"odd"}},
    };
    ScriptedSmtpServer server({Send("250-first\r\n\r\n250-second\r\n250 last\r\n"
                                    "220\r\n"
                                    "250-a\r\n251-b\r\n250 c\r\n"
                                    "250 OK\n"
                                    "250 O\rK\r\n"
                                    "abc-x\r\nABC y\r\n"
                                    "354-go\r\n35\r\n"
                                    "  2x0 odd\r\n")});
    TIdTCPClient client;
    Connect(client, server);
    for (const ReplyCase& expected : cases) {
        SCOPED_TRACE(expected.name);
        EXPECT_EQ(client.ReadReply({}), expected.code);
        EXPECT_EQ(client.LastReply().Code, expected.code);
        EXPECT_EQ(client.LastReply().CodeText, expected.codeText);
        EXPECT_EQ(client.LastReply().Lines, expected.lines);
    }
    client.CloseConnection();
    EXPECT_TRUE(server.Finish());
}

TEST(TcpConnectionReply, UnexpectedCodeRaisesWithTheReplyText) {
    ScriptedSmtpServer server({Expect("NOOP"), Reply("550 any code"), Expect("MAIL FROM:<a@b.example>"),
                               Reply("550-no such\n550 user"), Expect("RCPT TO:<c@d.example>"), Reply("251 fwd"),
                               Expect("DATA"), Reply("354 go")});
    TIdTCPClient client;
    Connect(client, server);
    EXPECT_EQ(client.SendCommand("NOOP", -1), 550);
    try {
        client.SendCommand("MAIL FROM:<a@b.example>", 250);
        FAIL() << "no error raised";
    } catch (const EIdProtocolReplyError& error) {
        EXPECT_EQ(error.ReplyErrorCode(), 550);
        EXPECT_EQ(error.what(), std::string("no such\r\nuser\r\n"));
    }
    EXPECT_EQ(client.SendCommand("RCPT TO:<c@d.example>", {250, 251}), 251);
    EXPECT_EQ(client.SendCommand("DATA", std::vector<int16_t>{354}), 354);
    client.CloseConnection();
    EXPECT_TRUE(server.Finish());
    EXPECT_EQ(server.Received(), "NOOP\r\nMAIL FROM:<a@b.example>\r\nRCPT TO:<c@d.example>\r\nDATA\r\n");
}

TEST(TcpConnectionLines, LineLimitCountsTheCarriageReturn) {
    const std::string accepted(16383, 'a');
    const std::string refused(16384, 'b');
    ScriptedSmtpServer server({Send(accepted + "\r\n" + refused + "\r\n")});
    TIdTCPClient client;
    Connect(client, server);
    EXPECT_EQ(client.ReadLine(), accepted);
    try {
        client.ReadLine();
        FAIL() << "no error raised";
    } catch (const EIdReadLnMaxLineLengthExceeded& error) {
        EXPECT_EQ(error.what(), std::string("Max. Zeilenlänge überschritten."));
    }
    client.CloseConnection();
    EXPECT_TRUE(server.Finish());
}

TEST(TcpConnectionLines, LongLineWithoutLineFeedIsRefusedWithBoundedMemory) {
    // A hostile server sends one line without end; the read must stop without collecting it all.
    ScriptedSmtpServer server({SendForever(std::string(65536, 'x'))});
    TIdTCPClient client;
    Connect(client, server);
    EXPECT_THROW(client.ReadLine(), EIdReadLnMaxLineLengthExceeded);
    EXPECT_LE(client.PendingInput().Size(), 16384u + 32768u);
    client.CloseConnection();
    EXPECT_TRUE(server.Finish());
}

TEST(TcpConnectionLines, SplitModeCutsLongLines) {
    ScriptedSmtpServer server({Send("abcdefghijklmno\r\nshort\r\n")});
    TIdTCPClient client;
    client.MaxLineLength = 10;
    client.MaxLineAction = maSplit;
    Connect(client, server);
    EXPECT_EQ(client.ReadLine(), "abcdefghij");
    EXPECT_EQ(client.ReadLine(), "klmno");
    EXPECT_EQ(client.ReadLine(), "short");
    client.CloseConnection();
    EXPECT_TRUE(server.Finish());
}

TEST(TcpConnectionLines, OtherTerminatorsAndLimitsPerCall) {
    ScriptedSmtpServer server({Send("one::two\r\n::three\r\n")});
    TIdTCPClient client;
    Connect(client, server);
    EXPECT_EQ(client.ReadLine("::"), "one");
    EXPECT_EQ(client.ReadLine("::"), "two\r\n");
    EXPECT_THROW(client.ReadLine("\n", 3), EIdReadLnMaxLineLengthExceeded);
    EXPECT_EQ(client.ReadLine("\n", 0), "three");
    client.CloseConnection();
    EXPECT_TRUE(server.Finish());
}

TEST(TcpConnectionClose, ReplyBeforeTheServersCloseIsStillRead) {
    ScriptedSmtpServer server({Reply("220-hello\n220 ready"), Close()});
    TIdTCPClient client;
    std::vector<TIdStatus> stages;
    int disconnected = 0;
    client.OnStatus = [&](TIdStatus status, const std::string&) { stages.push_back(status); };
    client.OnDisconnected = [&] { ++disconnected; };
    Connect(client, server);
    EXPECT_TRUE(server.Finish());  // the server has closed by now

    EXPECT_EQ(client.ReadReply({220}), 220);
    EXPECT_EQ(client.LastReply().Lines, (std::vector<std::string>{"hello", "ready"}));
    // The close is noticed only by a read that needs more input.
    EXPECT_TRUE(client.IsConnected());
    EXPECT_THROW(client.ReadLine(), EIdConnClosedGracefully);
    EXPECT_FALSE(client.IsConnected());
    EXPECT_EQ(disconnected, 1);
    EXPECT_THROW(client.ReadLine(), EIdConnClosedGracefully);
    EXPECT_THROW(client.WriteLine("QUIT"), EIdConnClosedGracefully);

    client.CloseConnection();
    EXPECT_EQ(disconnected, 2);
    EXPECT_THROW(client.WriteLine("QUIT"), EIdNotConnected);
    EXPECT_THROW(client.ReadLine(), EIdNotConnected);
    EXPECT_EQ(stages, (std::vector<TIdStatus>{hsConnecting, hsConnected, hsDisconnected, hsDisconnecting,
                                              hsDisconnected}));
    EXPECT_EQ(server.Received(), "");
}

TEST(TcpConnectionClose, CloseInTheMiddleOfALineEndsTheReply) {
    ScriptedSmtpServer server({Send("250-first\r\n250 unfinis"), Close()});
    TIdTCPClient client;
    Connect(client, server);
    EXPECT_THROW(client.ReadReply({}), EIdConnClosedGracefully);
    // The incomplete bytes stay in the input buffer.
    EXPECT_EQ(client.PendingInput().View(), "250 unfinis");
    client.CloseConnection();
    EXPECT_TRUE(server.Finish());
}

TEST(TcpConnectionClose, ResetInTheMiddleOfAReplyRaisesAndTheClientCanReconnect) {
    ScriptedSmtpServer server({Send("250-first\r\n"), Wait(100), Reset()});
    server.AddConnection({Reply("220 again"), Expect("QUIT")});
    TIdTCPClient client;
    Connect(client, server);
    try {
        client.ReadReply({});
        FAIL() << "no error raised";
    } catch (const EIdSocketError& error) {
        EXPECT_EQ(error.Code(), 10054);
    }
    client.CloseConnection();
    client.OpenConnection(kConnectLimitMs);
    EXPECT_EQ(client.ReadReply({220}), 220);
    client.WriteLine("QUIT");
    client.CloseConnection();
    EXPECT_TRUE(server.Finish());
    EXPECT_EQ(server.Received(1), "QUIT\r\n");
}

TEST(TcpConnectionClose, WritingToAResetConnectionIsASocketErrorNotASignal) {
    ScriptedSmtpServer server({Expect("HELO x"), Reset()});
    TIdTCPClient client;
    Connect(client, server);
    client.WriteLine("HELO x");
    client.FlushOutput();
    EXPECT_TRUE(server.Finish());
    const int code = WriteUntilSocketError(client);
    EXPECT_TRUE(code == 10054 || code == 10058) << code;
    // A reset ends the connection.
    EXPECT_FALSE(client.IsConnected());
    EXPECT_THROW(client.WriteLine("x"), EIdConnClosedGracefully);
}

TEST(TcpConnectionOpen, OpeningAnOpenConnectionFailsAndKeepsIt) {
    ScriptedSmtpServer server({Reply("220 ready"), Expect("NOOP"), Reply("250 OK")});
    TIdTCPClient client;
    EXPECT_THROW(client.WriteLine("NOOP"), EIdNotConnected);
    Connect(client, server);
    try {
        client.OpenConnection(kConnectLimitMs);
        FAIL() << "no error raised";
    } catch (const EIdAlreadyConnected& error) {
        EXPECT_EQ(error.what(), std::string("Verbindung besteht bereits."));
    }
    EXPECT_TRUE(client.IsConnected());
    EXPECT_EQ(client.ReadReply({220}), 220);
    EXPECT_EQ(client.SendCommand("NOOP", 250), 250);
    client.CloseConnection();
    EXPECT_TRUE(server.Finish());
    EXPECT_EQ(server.Connections(), 1u);
}

TEST(TcpConnectionOpen, FailedOpenLeavesTheConnectionClosed) {
    TIdTCPClient client;
    client.Host = "127.0.0.1";
    client.Port = 70000;  // no such port
    EXPECT_THROW(client.OpenConnection(kConnectLimitMs), EIdConnectException);
    EXPECT_FALSE(client.IsConnected());
    EXPECT_THROW(client.WriteLine("x"), EIdConnClosedGracefully);
}

TEST(TcpConnectionRead, ReadTimeoutLimitsTheWait) {
    ScriptedSmtpServer server({Silent()});
    TIdTCPClient client;
    client.ReadTimeout = 200;
    Connect(client, server);
    try {
        client.ReadLine();
        FAIL() << "no error raised";
    } catch (const EIdReadTimeout& error) {
        EXPECT_EQ(error.what(), std::string("Zeitüberschreitung beim Lesen"));
    }
    EXPECT_TRUE(client.IsConnected());
    EXPECT_EQ(client.FillInputBuffer(false, 50, false), -1);
    client.CloseConnection();
    EXPECT_TRUE(server.Finish());
}

TEST(TcpConnectionHostileReplies, EndlessRepliesAreCutOff) {
    struct Case {
        const char* name;
        std::string repeated;
        int64_t mostBytesRead;  // taken from the input before the reply is refused
    };
    const int64_t lines = TIdTCPConnection::kMaxReplyLines;
    const int64_t bytes = TIdTCPConnection::kMaxReplyBytes;
    const std::vector<Case> cases = {
        {"endless continuation lines", "250-more\r\n", (lines + 1) * 10},
        {"continuation lines of 1000 bytes", "250-" + std::string(996, 'y') + "\r\n", bytes + 1000},
        {"endless empty lines", "\r\n  \r\n", bytes + 4},
    };
    for (const Case& hostile : cases) {
        SCOPED_TRACE(hostile.name);
        ScriptedSmtpServer server({Reply("250-start"), SendForever(hostile.repeated)});
        server.AddConnection({Reply("220 fine")});
        TIdTCPClient client;
        int64_t read = 0;
        client.OnWork = [&](TWorkMode mode, int64_t count) {
            if (mode == wmRead) read += count;
        };
        Connect(client, server);
        EXPECT_THROW(client.ReadReply({}), EIdReadLnMaxLineLengthExceeded);
        EXPECT_LE(read, hostile.mostBytesRead);
        // The connection can be closed and opened again.
        client.CloseConnection();
        client.OpenConnection(kConnectLimitMs);
        EXPECT_EQ(client.ReadReply({220}), 220);
        client.CloseConnection();
        EXPECT_TRUE(server.Finish());
    }
}

TEST(TcpConnectionHostileReplies, LongestAllowedReplyIsRead) {
    std::string reply;
    for (size_t i = 1; i < TIdTCPConnection::kMaxReplyLines; ++i) reply += "250-line\r\n";
    reply += "250 end\r\n";
    ScriptedSmtpServer server({Send(reply)});
    TIdTCPClient client;
    Connect(client, server);
    EXPECT_EQ(client.ReadReply({250}), 250);
    EXPECT_EQ(client.LastReply().Lines.size(), TIdTCPConnection::kMaxReplyLines);
    client.CloseConnection();
    EXPECT_TRUE(server.Finish());
}

TEST(TcpConnectionWrite, BufferedAndUnbufferedWritesPutTheSameBytesOnTheWire) {
    std::vector<std::string> lines;
    std::string expected = "MAIL FROM:<a@b.example>\r\n";
    for (int i = 0; i < 2000; ++i) {
        lines.push_back(std::to_string(i) + std::string(70, 'Q'));
        expected += lines.back() + "\r\n";
    }
    expected += "\r\n.\r\n";
    for (size_t bufferSize : {TIdTCPConnection::kOutputBufferSize, size_t{0}, size_t{7}}) {
        SCOPED_TRACE(bufferSize);
        ScriptedSmtpServer server({Expect("MAIL FROM:<a@b.example>"), ReadUntil("."), Reply("250 queued"),
                                   Expect("QUIT")});
        TIdTCPClient client;
        client.SetOutputBufferSize(bufferSize);
        int64_t written = 0;
        client.OnWork = [&](TWorkMode mode, int64_t count) {
            if (mode == wmWrite) written += count;
        };
        Connect(client, server);
        client.WriteText("MAIL FROM:<a@b.example>\r\n");
        client.WriteLines(lines);
        client.WriteLine("");
        EXPECT_EQ(client.SendCommand(".", 250), 250);
        // What is still buffered goes out before the socket closes.
        client.WriteLine("QUIT");
        client.CloseConnection();
        EXPECT_TRUE(server.Finish());
        EXPECT_EQ(server.Received(), expected + "QUIT\r\n");
        EXPECT_EQ(written, static_cast<int64_t>(expected.size() + 6));
    }
}
