#include "transport/socket_errors.h"
#include "transport/socket_layer.h"

#include "tests/support/loopback_ports.h"
#include "tests/support/scripted_smtp_server.h"

#include <gtest/gtest.h>

#include <netdb.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <optional>
#include <string>
#include <thread>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;
using std::chrono::milliseconds;

// The connect limit the program uses.
constexpr int32_t kConnectLimitMs = 1000;

std::vector<std::string> gLookedUp;

// Stands in for the system's name lookup: no name exists, and no query leaves the machine.
int NoNameExists(const char* node, const char*, const addrinfo*, addrinfo**) {
    gLookedUp.push_back(node);
    return EAI_NONAME;
}

class FakeLookup {
public:
    FakeLookup() : previous_(TIdStack::SetAddressLookup(&NoNameExists)) { gLookedUp.clear(); }
    ~FakeLookup() { TIdStack::SetAddressLookup(previous_); }

private:
    TIdStack::AddressLookup previous_;
};

struct StatusLog {
    std::vector<TIdStatus> stages;
    TIdStatusEvent Observer() {
        return [this](TIdStatus status, const std::string&) { stages.push_back(status); };
    }
    bool Saw(TIdStatus status) const {
        return std::find(stages.begin(), stages.end(), status) != stages.end();
    }
};

long long MillisecondsSince(Clock::time_point start) {
    return std::chrono::duration_cast<milliseconds>(Clock::now() - start).count();
}

}  // namespace

TEST(SocketErrors, MessageIsCodeAndDescriptionFromTheTable) {
    EXPECT_EQ(EIdSocketError(10061).what(), std::string("Socket-Fehler # 10061\r\nVerbindung abgelehnt."));
    EXPECT_EQ(EIdSocketError(11001).what(), std::string("Socket-Fehler # 11001\r\nHost nicht gefunden."));
    EXPECT_EQ(SocketErrorDescription(10035), "Die Operation würde blockieren. ");
    EXPECT_EQ(SocketErrorDescription(10066), "Verzeichnis ist nicht leer");
    EXPECT_EQ(EIdSocketError(10061).Code(), 10061);
    // A code the table does not list keeps the format with an empty description.
    EXPECT_EQ(EIdSocketError(12345).what(), std::string("Socket-Fehler # 12345\r\n"));
    EXPECT_EQ(EIdSocketError(11002).what(), std::string("Socket-Fehler # 11002\r\n"));
}

TEST(SocketErrors, SystemErrorsMapOntoTheCodesOfTheMessages) {
    EXPECT_EQ(SocketCodeFromErrno(ECONNREFUSED), 10061);
    EXPECT_EQ(SocketCodeFromErrno(ETIMEDOUT), 10060);
    EXPECT_EQ(SocketCodeFromErrno(ECONNRESET), 10054);
    EXPECT_EQ(SocketCodeFromErrno(ECONNABORTED), 10053);
    EXPECT_EQ(SocketCodeFromErrno(EPIPE), 10058);
    EXPECT_EQ(SocketCodeFromErrno(EADDRINUSE), 10048);
    EXPECT_EQ(SocketCodeFromLookupResult(EAI_NONAME, 0), 11001);
    EXPECT_EQ(SocketCodeFromLookupResult(EAI_SYSTEM, ECONNREFUSED), 10061);
}

TEST(SocketStack, ExistsFromTheFirstToTheLastComponent) {
    ASSERT_FALSE(TIdStack::Exists());
    std::optional<TIdIOHandlerSocket> first(std::in_place);
    TIdStack* stack = &TIdStack::Instance();
    {
        TIdIOHandlerSocket second;
        first.reset();
        EXPECT_EQ(&TIdStack::Instance(), stack);
    }
    EXPECT_FALSE(TIdStack::Exists());
    EXPECT_THROW(TIdStack::Instance(), std::logic_error);
}

TEST(SocketStack, ComponentsComeAndGoOnManyThreads) {
    std::vector<std::thread> threads;
    for (int t = 0; t < 4; ++t) {
        threads.emplace_back([] {
            for (int i = 0; i < 500; ++i) {
                TIdIOHandlerSocket component;
                TIdStack::Instance().CheckSocketResult(0);
            }
        });
    }
    for (std::thread& thread : threads) thread.join();
    EXPECT_FALSE(TIdStack::Exists());
}

TEST(SocketStack, DottedQuadNeedsFourNumbersUpTo255) {
    for (const char* text : {"192.168.0.1", "0.0.0.0", "255.255.255.255", "010.001.000.9"}) {
        EXPECT_TRUE(TIdStack::IsDottedQuad(text)) << text;
    }
    for (const char* text : {"192.168.0", "192.168.0.1.5", "256.1.1.1", "1.2.3.", ".1.2.3", "1..2.3", "a.b.c.d",
                             "1.2.3.-4", " 1.2.3.4", "", "99999999999.1.1.1"}) {
        EXPECT_FALSE(TIdStack::IsDottedQuad(text)) << text;
    }
}

TEST(SocketStack, ResolvesLocalhostAndDottedQuadsWithoutLookup) {
    TIdIOHandlerSocket component;
    FakeLookup fake;
    TIdStack& stack = TIdStack::Instance();
    EXPECT_EQ(stack.ResolveAddress("LocalHost"), "127.0.0.1");
    EXPECT_EQ(stack.ResolveAddress("LOCALHOST"), "127.0.0.1");
    EXPECT_EQ(stack.ResolveAddress("10.1.2.3"), "10.1.2.3");
    EXPECT_TRUE(gLookedUp.empty());
    // Not dotted quads, so these are names for the lookup.
    EXPECT_THROW(stack.ResolveAddress("192.168.0"), EIdSocketError);
    EXPECT_THROW(stack.ResolveAddress("localhost.invalid"), EIdSocketError);
    EXPECT_EQ(gLookedUp, (std::vector<std::string>{"192.168.0", "localhost.invalid"}));
}

TEST(SocketStack, NumericNamesGoThroughTheSystemLookup) {
    // The system's resolver reads "127.1" as a number and answers without asking any server.
    TIdIOHandlerSocket component;
    EXPECT_EQ(TIdStack::Instance().ResolveAddress("127.1"), "127.0.0.1");
}

TEST(SocketStack, CheckSocketResultToleratesOnlyTheCodesGiven) {
    TIdIOHandlerSocket component;
    TIdStack& stack = TIdStack::Instance();
    EXPECT_FALSE(stack.CheckSocketResult(0));
    EXPECT_FALSE(stack.CheckSocketResult(17));
    errno = ECONNRESET;
    EXPECT_TRUE(stack.CheckSocketResult(-1, {10053, 10054}));
    EXPECT_EQ(stack.LastError(), 10054);
    errno = ECONNREFUSED;
    try {
        stack.CheckSocketResult(-1, {10054});
        FAIL() << "no error raised";
    } catch (const EIdSocketError& error) {
        EXPECT_EQ(error.Code(), 10061);
        EXPECT_EQ(stack.LastError(), 10061);
    }
}

TEST(SocketStack, LocalHostNameIsTheSystemsHostName) {
    TIdIOHandlerSocket component;
    char name[256] = {};
    gethostname(name, sizeof name - 1);
    EXPECT_EQ(TIdStack::Instance().LocalHostName(), name);
}

TEST(SocketConnect, UnknownHostFailsBeforeTheConnectStarts) {
    TIdIOHandlerSocket adapter;
    FakeLookup fake;
    StatusLog log;
    adapter.SetOnStatus(log.Observer());
    adapter.PrepareHandle();
    try {
        adapter.ConnectTo("nosuchhost.invalid", 25, kConnectLimitMs, "", 0);
        FAIL() << "no error raised";
    } catch (const EIdSocketError& error) {
        EXPECT_EQ(error.Code(), 11001);
        EXPECT_EQ(error.what(), std::string("Socket-Fehler # 11001\r\nHost nicht gefunden."));
    }
    EXPECT_TRUE(log.Saw(hsResolving));
    EXPECT_FALSE(log.Saw(hsConnecting));
}

TEST(SocketConnect, RefusedTimedConnectRaisesTheWorkersError) {
    ClosedLoopbackPort closed;
    TIdIOHandlerSocket adapter;
    adapter.PrepareHandle();
    auto start = Clock::now();
    try {
        adapter.ConnectTo("127.0.0.1", closed.Port(), kConnectLimitMs, "", 0);
        FAIL() << "no error raised";
    } catch (const EIdConnectException& error) {
        EXPECT_EQ(error.what(), std::string("Socket-Fehler # 10061\r\nVerbindung abgelehnt."));
    }
    // The caller learns of the refusal when it happens, not when the limit is over.
    EXPECT_LT(MillisecondsSince(start), kConnectLimitMs);
}

TEST(SocketConnect, RefusedDirectConnectRaisesTheSocketError) {
    ClosedLoopbackPort closed;
    TIdIOHandlerSocket adapter;
    adapter.PrepareHandle();
    try {
        adapter.ConnectTo("127.0.0.1", closed.Port(), 0, "", 0);
        FAIL() << "no error raised";
    } catch (const EIdSocketError& error) {
        EXPECT_EQ(error.Code(), 10061);
    }
}

TEST(SocketConnect, UnansweredConnectTimesOutAfterTheLimit) {
    FullBacklogListener listener;
    TIdIOHandlerSocket adapter;
    adapter.PrepareHandle();
    auto start = Clock::now();
    try {
        adapter.ConnectTo("127.0.0.1", listener.Port(), kConnectLimitMs, "", 0);
        FAIL() << "no error raised";
    } catch (const EIdConnectTimeout& error) {
        EXPECT_EQ(error.what(), std::string("Zeitüberschreitung der Verbindung."));
    }
    long long elapsed = MillisecondsSince(start);
    EXPECT_GE(elapsed, kConnectLimitMs);
    // The pending connect was ended, not waited out (the system would try for minutes).
    EXPECT_LT(elapsed, 20000);
    EXPECT_FALSE(adapter.IsOpen());
}

TEST(SocketConnect, TimedConnectReturnsWhenConnectedAndReadsBothAddresses) {
    ScriptedSmtpServer server({smtp_script::Silent()});
    for (int32_t limit : {60000, WaitForever}) {
        TIdIOHandlerSocket adapter;
        StatusLog log;
        adapter.SetOnStatus(log.Observer());
        adapter.PrepareHandle();
        auto start = Clock::now();
        adapter.ConnectTo("localhost", server.Port(), limit, "", 0);
        EXPECT_LT(MillisecondsSince(start), 20000);
        ASSERT_TRUE(adapter.IsOpen());
        EXPECT_EQ(adapter.Binding()->PeerIP(), "127.0.0.1");
        EXPECT_EQ(adapter.Binding()->PeerPort(), server.Port());
        EXPECT_EQ(adapter.Binding()->LocalIP(), "127.0.0.1");
        EXPECT_NE(adapter.Binding()->LocalPort(), 0);
        EXPECT_EQ(log.stages, (std::vector<TIdStatus>{hsResolving, hsConnecting}));
        if (limit == WaitForever) break;
        server.AddConnection({smtp_script::Silent()});
    }
}

TEST(SocketConnect, BindingToAPortInUseRaisesCouldNotBind) {
    ClosedLoopbackPort taken;
    TIdIOHandlerSocket adapter;
    adapter.PrepareHandle();
    try {
        adapter.ConnectTo("127.0.0.1", taken.Port(), kConnectLimitMs, "127.0.0.1", taken.Port());
        FAIL() << "no error raised";
    } catch (const EIdCouldNotBindSocket& error) {
        EXPECT_EQ(error.what(),
                  std::string("Socket konnte nicht gebunden werden. Adresse und Port werden bereits benutzt."));
    }
}

TEST(SocketAdapter, ClosedHandleRefusesEveryCall) {
    ScriptedSmtpServer server({smtp_script::Silent()});
    TIdIOHandlerSocket adapter;
    adapter.PrepareHandle();
    char byte = 0;
    EXPECT_THROW(adapter.ReceiveSome(&byte, 1), EIdClosedSocket);
    adapter.ConnectTo("127.0.0.1", server.Port(), kConnectLimitMs, "", 0);
    EXPECT_EQ(adapter.SendSome("x", 1), 1);
    adapter.ShutdownAndClose();
    adapter.ShutdownAndClose();  // a second close leaves the closed handle alone
    EXPECT_FALSE(adapter.IsOpen());
    EXPECT_THROW(adapter.ReceiveSome(&byte, 1), EIdClosedSocket);
    EXPECT_THROW(adapter.SendSome("x", 1), EIdClosedSocket);
    try {
        adapter.WaitReadable(10);
        FAIL() << "no error raised";
    } catch (const EIdConnClosedGracefully& error) {
        EXPECT_EQ(error.what(), std::string("Die Verbindung wurde erfolgreich geschlossen."));
    }
    EXPECT_TRUE(server.Finish());
    EXPECT_EQ(server.Received(), "x");
}

TEST(SocketAdapter, WaitReadableSeesInputAndTimesOut) {
    ScriptedSmtpServer server({smtp_script::Wait(300), smtp_script::Send("220 ready\r\n"), smtp_script::Silent()});
    TIdIOHandlerSocket adapter;
    adapter.PrepareHandle();
    adapter.ConnectTo("127.0.0.1", server.Port(), kConnectLimitMs, "", 0);
    EXPECT_FALSE(adapter.WaitReadable(0));
    EXPECT_TRUE(adapter.WaitReadable(WaitForever));
    char buffer[64];
    EXPECT_EQ(adapter.ReceiveSome(buffer, sizeof buffer), 11);
    adapter.ShutdownAndClose();
    EXPECT_TRUE(server.Finish());
}

TEST(SocketAdapter, NagleStaysOnUnlessSwitchedOff) {
    ScriptedSmtpServer server({smtp_script::Silent()});
    server.AddConnection({smtp_script::Silent()});
    for (bool useNagle : {true, false}) {
        TIdIOHandlerSocket adapter;
        adapter.UseNagle = useNagle;
        adapter.PrepareHandle();
        adapter.ConnectTo("127.0.0.1", server.Port(), kConnectLimitMs, "", 0);
        int noDelay = -1;
        socklen_t size = sizeof noDelay;
        getsockopt(adapter.Binding()->Handle(), IPPROTO_TCP, TCP_NODELAY, &noDelay, &size);
        EXPECT_EQ(noDelay != 0, !useNagle);
        adapter.ShutdownAndClose();
    }
    EXPECT_TRUE(server.Finish());
}
