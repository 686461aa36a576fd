#include "transport/smtp.h"

#include "tests/support/scripted_smtp_server.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <ostream>
#include <string>
#include <vector>

using namespace smtp_script;

namespace {

// Every mail of these runs: one recipient and one copy address.
const std::vector<std::string> kCommands = {"RSET", "MAIL FROM:<absender@example.org>", "RCPT TO:<to@example.net>",
                                            "RCPT TO:<cc@example.net>", "DATA"};
const std::vector<std::string> kAccepted = {"250 reset", "250 ok", "250 ok", "250 ok", "354 go", "250 queued"};

// How the server takes the commands: without PIPELINING in its EHLO reply; offering it and reading
// the whole group before it answers (a client that waits for a reply inside the group never gets one);
// offering it and reading one command at a time.
enum class Server { Plain, Batched, OneByOne };
// A server, and whether the client names the next mail, whose group then follows the "." of the one
// before: a batched server reads that group before it answers the ".".
struct Mode {
    Server server;
    bool ahead;
    const char* name;
};

bool Accepted(const std::string& reply, size_t command) {
    if (command == 0) return true;  // RSET: any code
    if (command == 4) return reply.compare(0, 3, "354") == 0;
    return reply[0] == '2';
}

// The script of one mail with the given replies (to the five commands, then to "."), and of what the
// client must do after a refusal. `groupRead`: the batched server read this mail's group behind the
// last "."; `nextFollows`: the next mail's group comes behind this one's. `connectionEnds` tells whether
// the next mail needs a new connection.
Script MailSteps(const std::vector<std::string>& replies, Server server, bool groupRead, bool nextFollows,
                 bool& connectionEnds) {
    const size_t none = kCommands.size();
    size_t refused = none;
    size_t answered = kCommands.size();
    bool recipientAccepted = false;
    bool closing = false;
    for (size_t i = 0; i < kCommands.size(); ++i) {
        const bool accepted = Accepted(replies[i], i);
        if (!accepted && refused == none) refused = i;
        if (accepted && (i == 2 || i == 3)) recipientAccepted = true;
        closing = replies[i].compare(0, 3, "421") == 0;
        if (closing) {
            answered = i + 1;
            break;
        }
    }
    // Without PIPELINING the client sends nothing after a refused command.
    if (server == Server::Plain && refused != none) answered = std::min(answered, refused + 1);
    Script steps;
    for (size_t i = 0; i < answered; ++i) {
        if (server != Server::Batched) steps.push_back(Expect(kCommands[i]));
        steps.push_back(Reply(replies[i]));
    }
    if (server == Server::Batched && !groupRead) {
        for (size_t i = kCommands.size(); i-- > 0;) steps.insert(steps.begin(), Expect(kCommands[i]));
    }
    connectionEnds = true;
    if (closing) {
        steps.push_back(Close());
        return steps;
    }
    if (refused == none) {
        steps.push_back(ReadUntil("."));
        // "": the server takes the end of the data and vanishes without a word.
        connectionEnds = replies[5].empty();
        if (!connectionEnds && nextFollows && server == Server::Batched) {
            for (const std::string& command : kCommands) steps.push_back(Expect(command));
        }
        steps.push_back(connectionEnds ? Close() : Reply(replies[5]));
        return steps;
    }
    const bool dataTaken = server != Server::Plain && Accepted(replies[4], 4);
    // The server waits for a message that must not reach the recipients it took: the client drops the
    // connection instead of sending ".".
    if (dataTaken && recipientAccepted) return steps;
    if (dataTaken) {
        steps.push_back(Expect("."));
        steps.push_back(Reply("554 5.5.1 no valid recipients"));
    }
    steps.push_back(Expect("QUIT"));
    return steps;
}

Script Greeting(Server server) {
    return {Reply("220 ready"), Expect("EHLO client.example"),
            Reply(server == Server::Plain ? "250-host\n250 HELP" : "250-host\n250-PIPELINING\n250 HELP")};
}

// A client for the server, and the mail of these tests. A client that waits inside a batched group
// fails in 3 s, not in minutes.
void Prepare(TIdSMTP& smtp, TIdMessage& message, const ScriptedSmtpServer& server) {
    smtp.Host = server.Host();
    smtp.Port = server.Port();
    smtp.HeloName = "client.example";
    smtp.ReplyTimeLimit = 3000;
    message.From.SetText("absender@example.org");
    message.Recipients.SetFromText("to@example.net");
    message.CCList.SetFromText("cc@example.net");
    message.Body = {"Hallo"};
}

struct Outcome {
    int code;  // 0: sent; the refusing reply's code; -1: another error
    bool dataEndSent;
    bool operator==(const Outcome&) const = default;
};

void PrintTo(const Outcome& outcome, std::ostream* out) {
    *out << "{" << outcome.code << (outcome.dataEndSent ? ", end sent}" : "}");
}

// Three mails, the second answered with `second`, sent the way the program sends: a session opened
// when there is none, closed after an error (dropped after a 421, which ends the connection).
std::vector<Outcome> SendThree(const std::vector<std::string>& second, const Mode& mode, int& dataEnds) {
    const Server kind = mode.server;
    const std::vector<std::vector<std::string>> replies = {kAccepted, second, kAccepted};
    std::vector<Script> scripts{Greeting(kind)};
    bool groupRead = false;
    for (size_t i = 0; i < replies.size(); ++i) {
        bool ends = false;
        const bool nextFollows = mode.ahead && i + 1 < replies.size();
        const Script steps = MailSteps(replies[i], kind, groupRead, nextFollows, ends);
        scripts.back().insert(scripts.back().end(), steps.begin(), steps.end());
        if (ends) scripts.push_back(Greeting(kind));
        groupRead = nextFollows && !ends;
    }
    scripts.back().push_back(Expect("QUIT"));

    ScriptedSmtpServer server(scripts[0]);
    for (size_t i = 1; i < scripts.size(); ++i) server.AddConnection(scripts[i]);
    TIdSMTP smtp;
    TIdMessage message;
    Prepare(smtp, message, server);
    std::vector<Outcome> outcomes;
    for (size_t i = 0; i < replies.size(); ++i) {
        try {
            if (!smtp.IsConnected()) smtp.OpenSession(1000);
            EXPECT_EQ(smtp.Pipelining(), kind != Server::Plain);
            smtp.SendMail(message, mode.ahead && i + 1 < replies.size() ? &message : nullptr);
            outcomes.push_back({0, smtp.DataEndSent()});
        } catch (const EIdProtocolReplyError& error) {
            outcomes.push_back({error.ReplyErrorCode(), smtp.DataEndSent()});
            if (error.ReplyErrorCode() == 421) smtp.CloseConnection();
        } catch (const EIdException&) {
            outcomes.push_back({-1, smtp.DataEndSent()});
        }
        if (outcomes.back().code != 0 && smtp.IsConnected()) smtp.CloseSession();
    }
    smtp.CloseSession();
    EXPECT_TRUE(server.Finish());
    dataEnds = 0;
    for (size_t c = 0; c < server.Connections(); ++c) {
        const std::string text = server.Received(c);
        for (size_t at = text.find("\r\n.\r\n"); at != std::string::npos; at = text.find("\r\n.\r\n", at + 1)) ++dataEnds;
    }
    return outcomes;
}

}  // namespace

// Each case gives the same outcome for every mail whether the server offers PIPELINING or not,
// whichever way it reads a group, and whether the client names the next mail or not; the mails around a
// refused one go out.
TEST(SmtpPipelining, EveryReplyMeansWhatItMeansWithoutPipelining) {
    struct Case {
        std::string name;
        std::vector<std::string> second;  // replies to RSET, MAIL, RCPT, RCPT, DATA, "." ("": closed after ".")
        Outcome outcome;
        int dataEndsPipelined;  // lines "." the pipelining server receives over the whole run
    };
    const std::vector<Case> cases = {
        {"all accepted", kAccepted, {0, true}, 3},
        {"refused copy address", {"250 reset", "250 ok", "250 ok", "550 5.1.1 no such user", "354 go"}, {550, false}, 2},
        {"452 to one recipient", {"250 reset", "250 ok", "452 4.5.3 too many recipients", "250 ok", "354 go"},
         {452, false}, 2},
        // DATA taken without a recipient: a lone "." ends it (the third "." of the pipelined run).
        {"every recipient refused",
         {"250 reset", "250 ok", "550 5.1.1 unknown", "550 5.1.1 unknown", "354 go"}, {550, false}, 3},
        {"DATA refused", {"250 reset", "250 ok", "250 ok", "250 ok", "554 5.7.1 not now"}, {554, false}, 2},
        {"sender refused", {"500 what", "553 5.7.1 sender refused", "503 5.5.1 MAIL first", "503 5.5.1 MAIL first",
                            "503 5.5.1 no valid recipients"}, {553, false}, 2},
        {"421 in the middle of the group", {"250 reset", "250 ok", "421 4.3.2 shutting down"}, {421, false}, 2},
        // The end went out and no reply came: in doubt, and only this mail.
        {"closed after the end of data", {"250 reset", "250 ok", "250 ok", "250 ok", "354 go", ""}, {-1, true}, 3},
    };
    for (const Case& c : cases) {
        for (const Mode& mode : {Mode{Server::Plain, true, "plain"}, Mode{Server::Batched, false, "batched"},
                                 Mode{Server::OneByOne, false, "one by one"},
                                 Mode{Server::Batched, true, "batched, next mail named"},
                                 Mode{Server::OneByOne, true, "one by one, next mail named"}}) {
            SCOPED_TRACE(c.name + ", " + mode.name);
            int dataEnds = 0;
            const std::vector<Outcome> expected = {{0, true}, c.outcome, {0, true}};
            EXPECT_EQ(SendThree(c.second, mode, dataEnds), expected);
            const int plainDataEnds = 2 + (c.outcome.dataEndSent ? 1 : 0);
            EXPECT_EQ(dataEnds, mode.server == Server::Plain ? plainDataEnds : c.dataEndsPipelined);
        }
    }
}

// The first mail of a connection logs in before its group: AUTH waits for its replies, and the group
// that follows starts with MAIL FROM; the next mail's group starts with RSET again.
TEST(SmtpPipelining, LoginGoesAloneBeforeTheFirstGroup) {
    Script script = {Reply("220 ready"), Expect("EHLO client.example"),
                     Reply("250-host\n250-PIPELINING\n250 AUTH LOGIN"), Expect("RSET"), Reply("250 reset"),
                     Expect("AUTH LOGIN"), Reply("334 x"), ExpectAny(), Reply("334 y"), ExpectAny(), Reply("235 ok")};
    for (size_t i = 1; i < kCommands.size(); ++i) script.push_back(Expect(kCommands[i]));
    for (size_t i = 1; i < kCommands.size(); ++i) script.push_back(Reply(kAccepted[i]));
    script.insert(script.end(), {ReadUntil("."), Reply("250 queued")});
    for (const std::string& command : kCommands) script.push_back(Expect(command));
    for (size_t i = 0; i < kCommands.size(); ++i) script.push_back(Reply(kAccepted[i]));
    script.insert(script.end(), {ReadUntil("."), Reply("250 queued"), Expect("QUIT")});
    ScriptedSmtpServer server(script);
    TIdSMTP smtp;
    TIdMessage message;
    Prepare(smtp, message, server);
    smtp.Username = "absender@example.org";
    smtp.Password = "geheim";
    smtp.SetAuthenticationType(atLogin);
    smtp.OpenSession(1000);
    smtp.SendMail(message);
    smtp.SendMail(message);
    smtp.CloseSession();
    EXPECT_TRUE(server.Finish());
}

// A group sent ahead for a mail that does not come (the run stopped, or the caller sends another mail)
// has the server waiting for that mail's data: no "." and no QUIT may follow, only the end of the
// connection, after which the server delivers nothing.
TEST(SmtpPipelining, AGroupSentAheadForAMailThatDoesNotComeEndsTheConnection) {
    for (const bool anotherMail : {false, true}) {
        SCOPED_TRACE(anotherMail ? "another mail" : "session closed");
        Script script = Greeting(Server::Batched);
        for (const std::string& command : kCommands) script.push_back(Expect(command));
        for (size_t i = 0; i < kCommands.size(); ++i) script.push_back(Reply(kAccepted[i]));
        script.push_back(ReadUntil("."));
        for (const std::string& command : kCommands) script.push_back(Expect(command));
        // The reply to the "."; the client leaves before it reads those to the group.
        script.push_back(Reply(kAccepted[5]));
        script.push_back(Silent());
        ScriptedSmtpServer server(script);
        TIdSMTP smtp;
        TIdMessage message;
        Prepare(smtp, message, server);
        smtp.OpenSession(1000);
        smtp.SendMail(message, &message);
        if (anotherMail) {
            message.CCList.SetFromText("");
            EXPECT_THROW(smtp.SendMail(message), EIdNotConnected);
            EXPECT_FALSE(smtp.IsConnected());
        }
        smtp.CloseSession();
        EXPECT_TRUE(server.Finish());
        const std::string received = server.Received();
        EXPECT_TRUE(received.ends_with("\r\n.\r\nRSET\r\nMAIL FROM:<absender@example.org>\r\nRCPT TO:<to@example.net>\r\n"
                                       "RCPT TO:<cc@example.net>\r\nDATA\r\n"))
            << received;
    }
}
