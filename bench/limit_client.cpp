// The smallest SMTP client that can send a mailing: one connection, HELO once, then for every mail
// MAIL FROM, RCPT TO for the recipient and the copy address, DATA, and the message with its end mark.
// Every command, and every message with its end mark, goes out in one write; then the client waits for
// the reply. Nothing is built per mail: the messages are read into memory before the first is sent.
// What it takes is the cost of the protocol on this machine, the yardstick for postira-run.
//
//     limit_client PORT FROM CC MANIFEST     MANIFEST: lines "address<TAB>file of the message"
//     limit_client PORT FROM CC MANIFEST --rset
//                                            the same with "RSET" before every mail, the command
//                                            sequence of postira-run's SMTP client: the limit of that
//                                            sequence, one more request and reply per mail
//     limit_client PORT FROM CC MANIFEST --pipelining
//                                            EHLO instead of HELO, and with the server's PIPELINING
//                                            (RFC 2920) one write and one wait a mail: each message with
//                                            its end mark goes out together with the next mail's MAIL,
//                                            RCPT and DATA, and their replies come back together. The
//                                            limit of one round trip per mail, for links with a delay
//     limit_client PORT FROM TO --stdin      one mail whose body is standard input (line feeds become
//                                            CR LF), streamed in 64 KiB pieces: "base64 FILE | ..."
//
// Built by bench/run_all with the system compiler; it is no part of the program.

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iostream>
#include <sstream>
#include <string>
#include <vector>

namespace {

int g_fd = -1;
std::string g_pending;

[[noreturn]] void Fail(const std::string& what) {
    std::fprintf(stderr, "limit_client: %s\n", what.c_str());
    std::exit(1);
}

void WriteAll(const char* bytes, size_t size) {
    while (size > 0) {
        const ssize_t count = send(g_fd, bytes, size, MSG_NOSIGNAL);
        if (count <= 0) Fail("send failed");
        bytes += count;
        size -= static_cast<size_t>(count);
    }
}

void WriteAll(const std::string& bytes) { WriteAll(bytes.data(), bytes.size()); }

// Reads one whole reply (the last line has a blank after the code) and checks its first digit.
void ExpectReply(char digit) {
    for (int reads = 0; reads < 100000; ++reads) {
        size_t lineEnd;
        while ((lineEnd = g_pending.find("\r\n")) != std::string::npos) {
            const std::string line = g_pending.substr(0, lineEnd);
            g_pending.erase(0, lineEnd + 2);
            if (line.size() >= 4 && line[3] == '-') continue;
            if (line.empty() || line[0] != digit) Fail("unexpected reply: " + line);
            return;
        }
        char buffer[4096];
        const ssize_t count = recv(g_fd, buffer, sizeof buffer, 0);
        if (count <= 0) Fail("connection closed");
        g_pending.append(buffer, static_cast<size_t>(count));
    }
    Fail("no reply");
}

void Command(const std::string& line, char digit) {
    WriteAll(line + "\r\n");
    ExpectReply(digit);
}

std::string DotStuffed(const std::string& message) {
    std::string out;
    out.reserve(message.size() + 16);
    bool lineStart = true;
    for (char c : message) {
        if (lineStart && c == '.') out += '.';
        out += c;
        lineStart = c == '\n';
    }
    if (out.size() < 2 || out.compare(out.size() - 2, 2, "\r\n") != 0) out += "\r\n";
    out += ".\r\n";
    return out;
}

std::string Group(const std::string& from, const std::string& to, const std::string& cc) {
    return "MAIL FROM:<" + from + ">\r\nRCPT TO:<" + to + ">\r\nRCPT TO:<" + cc + ">\r\nDATA\r\n";
}

void Connect(int port, bool ehlo) {
    g_fd = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(static_cast<uint16_t>(port));
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (connect(g_fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) Fail("cannot connect");
    ExpectReply('2');
    Command(ehlo ? "EHLO bench" : "HELO bench", '2');
}

int SendList(const std::string& from, const std::string& cc, const std::string& manifest, bool reset,
             bool pipelining) {
    struct Mail {
        std::string to;
        std::string data;
    };
    std::vector<Mail> mails;
    std::ifstream list(manifest);
    std::string line;
    while (std::getline(list, line)) {
        const size_t tab = line.find('\t');
        if (tab == std::string::npos) continue;
        std::ifstream file(line.substr(tab + 1), std::ios::binary);
        if (!file) Fail("cannot read " + line.substr(tab + 1));
        std::ostringstream bytes;
        bytes << file.rdbuf();
        mails.push_back({line.substr(0, tab), DotStuffed(bytes.str())});
    }
    const size_t count = mails.size();
    if (pipelining && !mails.empty()) {
        WriteAll(Group(from, mails[0].to, cc));
        for (size_t i = 0; i < mails.size(); ++i) {
            for (const char digit : {'2', '2', '2', '3'}) ExpectReply(digit);
            WriteAll(mails[i].data + (i + 1 < mails.size() ? Group(from, mails[i + 1].to, cc) : std::string()));
            ExpectReply('2');
        }
        mails.clear();
    }
    for (const Mail& mail : mails) {
        if (reset) Command("RSET", '2');
        Command("MAIL FROM:<" + from + ">", '2');
        Command("RCPT TO:<" + mail.to + ">", '2');
        Command("RCPT TO:<" + cc + ">", '2');
        Command("DATA", '3');
        WriteAll(mail.data);
        ExpectReply('2');
    }
    Command("QUIT", '2');
    std::printf("%zu mails\n", count);
    return 0;
}

int SendStandardInput(const std::string& from, const std::string& to) {
    Command("MAIL FROM:<" + from + ">", '2');
    Command("RCPT TO:<" + to + ">", '2');
    Command("DATA", '3');
    std::string out = "From: <" + from + ">\r\nTo: <" + to + ">\r\nSubject: base64\r\n\r\n";
    std::vector<char> buffer(65536);
    long long total = 0;
    for (;;) {
        const ssize_t count = read(0, buffer.data(), buffer.size());
        if (count < 0) Fail("cannot read standard input");
        if (count == 0) break;
        total += count;
        // base64 lines never begin with a dot; only the line ends need CR LF.
        for (ssize_t i = 0; i < count; ++i) {
            if (buffer[static_cast<size_t>(i)] == '\n') out += '\r';
            out += buffer[static_cast<size_t>(i)];
        }
        if (out.size() >= 65536) {
            WriteAll(out);
            out.clear();
        }
    }
    out += ".\r\n";
    WriteAll(out);
    ExpectReply('2');
    Command("QUIT", '2');
    std::printf("%lld bytes\n", total);
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    const bool reset = argc == 6 && std::strcmp(argv[5], "--rset") == 0;
    const bool pipelining = argc == 6 && std::strcmp(argv[5], "--pipelining") == 0;
    if (argc != 5 && !reset && !pipelining) {
        Fail("usage: limit_client PORT FROM CC MANIFEST [--rset | --pipelining] | limit_client PORT FROM TO --stdin");
    }
    Connect(std::atoi(argv[1]), pipelining);
    if (std::strcmp(argv[4], "--stdin") == 0) return SendStandardInput(argv[2], argv[3]);
    return SendList(argv[2], argv[3], argv[4], reset, pipelining);
}
