#include "transport/socket_errors.h"
#include "transport/tcp_connection.h"
#include "transport/tls_io_handler.h"

#include "tests/support/connection_checks.h"
#include "tests/support/test_certificates.h"
#include "tests/support/tls_test_server.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <functional>
#include <stdexcept>
#include <string>
#include <vector>

namespace {

using Peer = TlsTestServer::Peer;
using Clock = std::chrono::steady_clock;

constexpr int32_t kConnectLimitMs = 1000;
// Limits that keep a broken test from hanging; the tests of the limits themselves use short ones.
constexpr int32_t kReadLimitMs = 10000;

const TestCertificates& Certificates() { return GetTestCertificates(); }

// A client with a TLS adapter that trusts the test CA (unless told otherwise), connected to the server.
TIdIOHandlerTLS* Connect(TIdTCPClient& client, const TlsTestServer& server, const std::string& host = "localhost",
                         bool implicitTLS = false, bool trustTestCA = true) {
    auto* tls = new TIdIOHandlerTLS();
    tls->ImplicitTLS = implicitTLS;
    tls->HandshakeTimeout = kReadLimitMs;
    if (trustTestCA) tls->CAFile = Certificates().caFile;
    client.SetIOHandler(tls, true);
    client.Host = host;
    client.Port = server.Port();
    client.ReadTimeout = kReadLimitMs;
    client.OpenConnection(kConnectLimitMs);
    return tls;
}

// The server's side of the plain start: greeting, STARTTLS, go ahead (with whatever follows in the same
// packet).
void PlainStart(Peer& peer, const std::string& afterGoAhead = "") {
    peer.Send("220 ready\r\n");
    peer.ExpectLine("STARTTLS");
    peer.Send("220 go ahead\r\n" + afterGoAhead);
}

void ClientStart(TIdTCPClient& client) {
    client.ReadReply({220});
    client.SendCommand("STARTTLS", 220);
}

long long MillisecondsSince(Clock::time_point start) {
    return std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - start).count();
}

std::string NumberedLine(size_t i, size_t length) {
    std::string line = std::to_string(i) + ":";
    line.append(length - line.size(), static_cast<char>('a' + i % 26));
    return line;
}

}  // namespace

// ---------------------------------------------------------------------------------------------------------
// The encrypted channel

TEST(TlsChannel, StartTlsUpgradesThePlainConnection) {
    std::string serverName;
    TlsTestServer server(Certificates().localhost, [&](Peer& peer) {
        PlainStart(peer);
        if (!peer.AcceptTLS()) throw std::runtime_error(peer.HandshakeError());
        serverName = peer.ServerName();
        peer.ExpectLine("EHLO client");
        peer.Send("250-server\r\n250 AUTH LOGIN\r\n");
        peer.ExpectLine("QUIT");
        peer.Send("221 bye\r\n");
        peer.CloseNotify();
    });
    TIdTCPClient client;
    TIdIOHandlerTLS* tls = Connect(client, server);
    ClientStart(client);
    EXPECT_FALSE(tls->Encrypted());
    tls->StartTLS("localhost");
    EXPECT_TRUE(tls->Encrypted());
    EXPECT_EQ(tls->ProtocolVersion(), "TLSv1.3");
    EXPECT_EQ(client.SendCommand("EHLO client", 250), 250);
    EXPECT_EQ(client.LastReply().Lines, (std::vector<std::string>{"server", "AUTH LOGIN"}));
    EXPECT_EQ(client.SendCommand("QUIT", 221), 221);
    // The server's close_notify reads as a close.
    EXPECT_THROW(client.ReadLine(), EIdConnClosedGracefully);
    EXPECT_FALSE(client.IsConnected());
    EXPECT_TRUE(server.Finish());
    EXPECT_EQ(serverName, "localhost");
}

TEST(TlsChannel, MegabytesArriveWholeInBothDirections) {
    // Far more than the socket buffers hold, so that writes and reads wait for the socket in between.
    constexpr size_t kLines = 40000;
    constexpr size_t kLength = 150;
    std::string received;
    TlsTestServer server(Certificates().localhost, [&](Peer& peer) {
        if (!peer.AcceptTLS()) throw std::runtime_error(peer.HandshakeError());
        for (std::string line = peer.ReadLine(); line != "."; line = peer.ReadLine()) received += line + "\n";
        std::string answer;
        for (size_t i = 0; i < kLines; ++i) answer += NumberedLine(kLines - i, kLength) + "\r\n";
        peer.Send(answer + ".\r\n");
        peer.ReadRawUntilClosed();
    });
    TIdTCPClient client;
    Connect(client, server, "localhost", true);
    std::string expected;
    for (size_t i = 0; i < kLines; ++i) {
        client.WriteLine(NumberedLine(i, kLength));
        expected += NumberedLine(i, kLength) + "\n";
    }
    client.WriteLine(".");
    size_t i = 0;
    for (std::string line = client.ReadLine(); line != "."; line = client.ReadLine(), ++i) {
        ASSERT_EQ(line, NumberedLine(kLines - i, kLength));
    }
    EXPECT_EQ(i, kLines);
    client.CloseConnection();
    EXPECT_TRUE(server.Finish());
    EXPECT_EQ(received.size(), expected.size());
    EXPECT_TRUE(received == expected);
}

TEST(TlsChannel, ImplicitTlsShakesHandsRightAfterTheConnect) {
    // A name is checked as a name and sent with SNI; an address is checked against the certificate's
    // addresses and not sent.
    for (const auto& [host, sentName] : {std::pair{"localhost", "localhost"}, std::pair{"127.0.0.1", ""}}) {
        SCOPED_TRACE(host);
        std::string serverName = "not set";
        TlsTestServer server(Certificates().localhost, [&](Peer& peer) {
            if (!peer.AcceptTLS()) throw std::runtime_error(peer.HandshakeError());
            serverName = peer.ServerName();
            peer.Send("220 ready\r\n");
            peer.ExpectLine("QUIT");
        });
        TIdTCPClient client;
        TIdIOHandlerTLS* tls = Connect(client, server, host, true);
        EXPECT_TRUE(tls->Encrypted());
        EXPECT_EQ(client.ReadReply({220}), 220);
        client.WriteLine("QUIT");
        client.CloseConnection();
        EXPECT_TRUE(server.Finish());
        EXPECT_EQ(serverName, sentName);
    }
}

// ---------------------------------------------------------------------------------------------------------
// Refused handshakes

TEST(TlsRefused, CertificatesThatDoNotProveTheServerEndTheConnection) {
    struct Case {
        const char* name;
        CertificateFiles certificate;
        std::string host;
        bool trustTestCA;
        std::string reason;
    };
    const std::vector<Case> cases = {
        {"certificate for another host name", Certificates().otherHost, "localhost", true, "hostname mismatch"},
        {"address not in the certificate", Certificates().otherHost, "127.0.0.1", true, "IP address mismatch"},
        {"expired certificate", Certificates().expired, "localhost", true, "certificate has expired"},
        {"CA not trusted", Certificates().localhost, "localhost", false, "unable to get local issuer certificate"},
    };
    for (const Case& refused : cases) {
        SCOPED_TRACE(refused.name);
        std::string afterHandshake;
        TlsTestServer server(refused.certificate, [&](Peer& peer) {
            PlainStart(peer);
            if (peer.AcceptTLS()) throw std::runtime_error("the client accepted the certificate");
            afterHandshake = peer.ReadRawUntilClosed();
        });
        TIdTCPClient client;
        TIdIOHandlerTLS* tls = Connect(client, server, refused.host, false, refused.trustTestCA);
        ClientStart(client);
        try {
            tls->StartTLS(refused.host);
            FAIL() << "no error raised";
        } catch (const EIdTLSHandshakeError& error) {
            EXPECT_EQ(error.what(),
                      "TLS-Verbindung fehlgeschlagen: Zertifikat des Servers ungültig (" + refused.reason + ")");
            EXPECT_EQ(error.Reason(), refused.reason);
        }
        // No way back to plain text: nothing more goes out.
        EXPECT_FALSE(client.IsConnected());
        EXPECT_THROW(client.WriteLine("AUTH LOGIN"), EIdConnClosedGracefully);
        client.CloseConnection();
        EXPECT_TRUE(server.Finish());
        EXPECT_EQ(afterHandshake.find("AUTH"), std::string::npos);
    }
}

TEST(TlsTrust, TheSystemStoreIsOpenSSLsDefaultAndTheCAFileAddsToIt) {
    // SSL_CERT_FILE names the system's store for every OpenSSL program; here it holds the test CA.
    struct CertFileVariable {
        explicit CertFileVariable(const std::string& file) { setenv("SSL_CERT_FILE", file.c_str(), 1); }
        ~CertFileVariable() { unsetenv("SSL_CERT_FILE"); }
    };
    {
        CertFileVariable store(Certificates().caFile);
        TlsTestServer server(Certificates().localhost, [](Peer& peer) {
            if (!peer.AcceptTLS()) throw std::runtime_error(peer.HandshakeError());
            peer.Send("220 ready\r\n");
        });
        TIdTCPClient client;
        Connect(client, server, "localhost", true, false);
        EXPECT_EQ(client.ReadReply({220}), 220);
        client.CloseConnection();
        EXPECT_TRUE(server.Finish());
    }
    // A CA file that cannot be read stops the handshake before anything is sent.
    std::string received = "not set";
    TlsTestServer server(Certificates().localhost, [&](Peer& peer) { received = peer.ReadRawUntilClosed(); });
    TIdTCPClient client;
    auto* tls = new TIdIOHandlerTLS();
    tls->CAFile = Certificates().caFile + ".missing";
    client.SetIOHandler(tls, true);
    client.Host = "localhost";
    client.Port = server.Port();
    client.OpenConnection(kConnectLimitMs);
    try {
        tls->StartTLS("localhost");
        FAIL() << "no error raised";
    } catch (const EIdTLSHandshakeError& error) {
        EXPECT_EQ(std::string(error.what()).rfind("TLS-Verbindung fehlgeschlagen: die CA-Datei " + tls->CAFile +
                                                  " kann nicht gelesen werden (", 0),
                  0u)
            << error.what();
    }
    EXPECT_FALSE(client.IsConnected());
    EXPECT_TRUE(server.Finish());
    EXPECT_EQ(received, "");
}

TEST(TlsRefused, ImplicitTlsWithABadCertificateFailsTheOpen) {
    TlsTestServer server(Certificates().expired, [](Peer& peer) {
        if (peer.AcceptTLS()) throw std::runtime_error("the client accepted the certificate");
    });
    TIdTCPClient client;
    try {
        Connect(client, server, "localhost", true);
        FAIL() << "no error raised";
    } catch (const EIdTLSHandshakeError& error) {
        EXPECT_EQ(error.Reason(), "certificate has expired");
    }
    EXPECT_FALSE(client.IsConnected());
    EXPECT_TRUE(server.Finish());
}

TEST(TlsRefused, ServersThatDoNotShakeHandsFailWithTheirReason) {
    struct Case {
        const char* name;
        std::function<void(Peer&)> answer;  // after the "220 go ahead"
        std::string message;
    };
    const std::vector<Case> cases = {
        // Each answers the client's hello, so that the answer meets a client waiting for it.
        {"plain text instead of TLS",
         [](Peer& peer) {
             peer.ReadRawSome();
             peer.SendRaw("500 unknown command\r\n");
         },
         "TLS-Verbindung fehlgeschlagen: Aushandlung der Verschlüsselung gescheitert (wrong version number)"},
        {"close instead of TLS",
         [](Peer& peer) {
             peer.ReadRawSome();
             peer.Close();
         },
         "TLS-Verbindung fehlgeschlagen: der Server hat die Verbindung während der Aushandlung beendet (unexpected "
         "eof while reading)"},
        {"reset instead of TLS",
         [](Peer& peer) {
             peer.ReadRawSome();
             peer.Reset();
         },
         "TLS-Verbindung fehlgeschlagen: die Verbindung ist abgebrochen (Socket-Fehler # 10054: Die Verbindung "
         "wurde von Peer zurückgesetzt.)"},
    };
    for (const Case& failing : cases) {
        SCOPED_TRACE(failing.name);
        TlsTestServer server(Certificates().localhost, [&](Peer& peer) {
            PlainStart(peer);
            failing.answer(peer);
        });
        TIdTCPClient client;
        TIdIOHandlerTLS* tls = Connect(client, server);
        ClientStart(client);
        try {
            tls->StartTLS("localhost");
            FAIL() << "no error raised";
        } catch (const EIdTLSHandshakeError& error) {
            EXPECT_EQ(error.what(), failing.message);
        }
        EXPECT_FALSE(client.IsConnected());
        EXPECT_TRUE(server.Finish());
    }
}

TEST(TlsRefused, SilentServerEndsTheHandshakeAtItsTimeLimit) {
    TlsTestServer server(Certificates().localhost, [](Peer& peer) {
        PlainStart(peer);
        peer.ReadRawUntilClosed();
    });
    TIdTCPClient client;
    TIdIOHandlerTLS* tls = Connect(client, server);
    ClientStart(client);
    tls->HandshakeTimeout = 200;
    auto start = Clock::now();
    try {
        tls->StartTLS("localhost");
        FAIL() << "no error raised";
    } catch (const EIdTLSHandshakeError& error) {
        EXPECT_EQ(error.what(),
                  std::string("TLS-Verbindung fehlgeschlagen: Zeitüberschreitung, der Server antwortet nicht (200 ms)"));
    }
    EXPECT_GE(MillisecondsSince(start), 200);
    EXPECT_LT(MillisecondsSince(start), kReadLimitMs);
    EXPECT_FALSE(client.IsConnected());
    EXPECT_TRUE(server.Finish());
}

// ---------------------------------------------------------------------------------------------------------
// Reading: time limits, the peer's close, broken channels

TEST(TlsReading, ReadTimeoutHoldsOnTheEncryptedChannel) {
    TlsTestServer server(Certificates().localhost, [](Peer& peer) {
        if (!peer.AcceptTLS()) throw std::runtime_error(peer.HandshakeError());
        // Silent at first (TLS 1.3 has sent its session tickets, records without data).
        peer.ExpectLine("GO ON");
        peer.Send("250 still here\r\n");
        // Half a record, and then nothing.
        peer.ExpectLine("HALF");
        peer.SendRaw(std::string("\x17\x03\x03", 3));
        peer.ReadRawUntilClosed();
    });
    TIdTCPClient client;
    Connect(client, server, "localhost", true);
    client.ReadTimeout = 200;
    auto start = Clock::now();
    EXPECT_THROW(client.ReadLine(), EIdReadTimeout);
    EXPECT_LT(MillisecondsSince(start), kReadLimitMs);
    // The connection stays usable after a timeout.
    client.ReadTimeout = kReadLimitMs;
    EXPECT_EQ(client.SendCommand("GO ON", 250), 250);
    client.ReadTimeout = 200;
    client.WriteLine("HALF");
    start = Clock::now();
    EXPECT_THROW(client.ReadLine(), EIdReadTimeout);
    EXPECT_LT(MillisecondsSince(start), kReadLimitMs);
    EXPECT_EQ(client.FillInputBuffer(false, 0, false), -1);
    client.CloseConnection();
    EXPECT_TRUE(server.Finish());
}

TEST(TlsReading, ThePeersCloseReadsAsClosed) {
    struct Case {
        const char* name;
        void (Peer::*close)();
    };
    for (const Case& closing : {Case{"close_notify", &Peer::CloseNotify}, Case{"end without close_notify", &Peer::Close}}) {
        SCOPED_TRACE(closing.name);
        TlsTestServer server(Certificates().localhost, [&](Peer& peer) {
            if (!peer.AcceptTLS()) throw std::runtime_error(peer.HandshakeError());
            peer.Send("221 last words\r\n");
            (peer.*closing.close)();
        });
        TIdTCPClient client;
        Connect(client, server, "localhost", true);
        // What arrived before the close is still read.
        EXPECT_EQ(client.ReadLine(), "221 last words");
        EXPECT_THROW(client.ReadLine(), EIdConnClosedGracefully);
        EXPECT_FALSE(client.IsConnected());
        EXPECT_TRUE(server.Finish());
    }
}

TEST(TlsReading, BrokenChannelsRaiseSocketErrors) {
    struct Case {
        const char* name;
        std::function<void(Peer&)> breakIt;
        int code;
    };
    const std::vector<Case> cases = {
        {"reset", [](Peer& peer) { peer.Reset(); }, socket_code::kConnectionReset},
        {"plain text on the encrypted channel", [](Peer& peer) { peer.SendRaw("250 forged reply\r\n"); },
         socket_code::kConnectionAborted},
    };
    for (const Case& broken : cases) {
        SCOPED_TRACE(broken.name);
        TlsTestServer server(Certificates().localhost, [&](Peer& peer) {
            if (!peer.AcceptTLS()) throw std::runtime_error(peer.HandshakeError());
            peer.ExpectLine("NOOP");
            broken.breakIt(peer);
        });
        TIdTCPClient client;
        TIdIOHandlerTLS* tls = Connect(client, server, "localhost", true);
        client.WriteLine("NOOP");
        try {
            client.ReadLine();
            FAIL() << "no error raised";
        } catch (const EIdSocketError& error) {
            EXPECT_EQ(error.Code(), broken.code);
        }
        // A broken TLS channel is dropped with OpenSSL's reason kept; a reset, as on a plain socket, raises
        // again on the next read.
        if (broken.code == socket_code::kConnectionAborted) {
            EXPECT_FALSE(tls->LastTLSError().empty());
            EXPECT_FALSE(client.IsConnected());
        } else {
            EXPECT_THROW(client.ReadLine(), EIdSocketError);
        }
        EXPECT_TRUE(server.Finish());
    }
}

TEST(TlsReading, WritingToAServerThatHasGoneRaisesInsteadOfEndingTheProgram) {
    TlsTestServer server(Certificates().localhost, [](Peer& peer) {
        if (!peer.AcceptTLS()) throw std::runtime_error(peer.HandshakeError());
        peer.ExpectLine("NOOP");
        peer.Reset();
    });
    TIdTCPClient client;
    Connect(client, server, "localhost", true);
    client.WriteLine("NOOP");
    client.FlushOutput();
    EXPECT_TRUE(server.Finish());
    const int code = WriteUntilSocketError(client);
    EXPECT_TRUE(code == socket_code::kConnectionReset || code == socket_code::kShutDown) << code;
    EXPECT_FALSE(client.IsConnected());
}

// ---------------------------------------------------------------------------------------------------------
// Input that arrived but was not read

TEST(TlsUnreadInput, InputAfterTheGoAheadIsSeenWhereverItWaits) {
    const std::string injected = "250-INJECTED\r\n";
    struct Case {
        const char* name;
        std::string afterGoAhead;
        int32_t receiveSize;  // 14 takes "220 go ahead\r\n" alone, leaving the rest in the socket
        bool unread;
        bool buffered;
    };
    const std::vector<Case> cases = {
        {"nothing after the reply", "", 32768, false, false},
        {"injected, in the connection's buffer", injected, 32768, true, true},
        {"injected, still in the socket", injected, 14, true, false},
    };
    for (const Case& input : cases) {
        SCOPED_TRACE(input.name);
        TlsTestServer server(Certificates().localhost, [&](Peer& peer) {
            PlainStart(peer, input.afterGoAhead);
            peer.ReadRawUntilClosed();
        });
        TIdTCPClient client;
        Connect(client, server);
        client.RecvBufferSize = input.receiveSize;
        ClientStart(client);
        EXPECT_EQ(client.PendingInput().Size() > 0, input.buffered);
        EXPECT_EQ(client.HasUnreadInput(), input.unread);
        if (input.unread && !input.buffered) {
            // The adapter refuses to shake hands over input of its socket by itself too.
            try {
                dynamic_cast<TIdIOHandlerTLS&>(*client.IOHandler()).StartTLS("localhost");
                FAIL() << "no error raised";
            } catch (const EIdTLSHandshakeError& error) {
                EXPECT_EQ(error.what(), std::string("TLS-Verbindung fehlgeschlagen: vor der Aushandlung sind "
                                                    "unerwartete Daten eingetroffen"));
            }
        }
        client.CloseConnection();
        EXPECT_TRUE(server.Finish());
    }
}

TEST(TlsUnreadInput, TheServersCloseIsNotInput) {
    TlsTestServer server(Certificates().localhost, [](Peer& peer) { PlainStart(peer), peer.Close(); });
    TIdTCPClient client;
    TIdIOHandlerTLS* tls = Connect(client, server);
    ClientStart(client);
    EXPECT_TRUE(server.Finish());
    EXPECT_TRUE(tls->WaitReadable(kReadLimitMs));  // the close has arrived
    EXPECT_FALSE(client.HasUnreadInput());
}

TEST(TlsUnreadInput, DecryptedInputCountsAsUnread) {
    TlsTestServer server(Certificates().localhost, [](Peer& peer) {
        if (!peer.AcceptTLS()) throw std::runtime_error(peer.HandshakeError());
        peer.ExpectLine("SEND");
        peer.Send("250 here\r\n");
        peer.ReadRawUntilClosed();
    });
    TIdTCPClient client;
    TIdIOHandlerTLS* tls = Connect(client, server, "localhost", true);
    // Session tickets arrive on the socket, but no data.
    EXPECT_FALSE(client.HasUnreadInput());
    EXPECT_FALSE(tls->WaitReadable(100));
    EXPECT_FALSE(client.HasUnreadInput());
    client.WriteLine("SEND");
    client.FlushOutput();
    // Readable means the data is decrypted and held by OpenSSL, not on the socket any more.
    ASSERT_TRUE(tls->WaitReadable(kReadLimitMs));
    EXPECT_TRUE(client.HasUnreadInput());
    EXPECT_EQ(client.PendingInput().Size(), 0u);
    // Taken three bytes at a time, the rest of the line waits in OpenSSL while the socket has nothing:
    // readable all the same, within a short limit.
    client.RecvBufferSize = 3;
    client.ReadTimeout = 200;
    EXPECT_EQ(client.ReadLine(), "250 here");
    EXPECT_FALSE(client.HasUnreadInput());
    client.CloseConnection();
    EXPECT_TRUE(server.Finish());
}
