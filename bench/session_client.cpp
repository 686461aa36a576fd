// The program's SMTP client alone, without the mailing run around it: COUNT mails over one connection
// through TIdSMTP, each with the recipient personN@example.test, the copy address and the text of
// TEXT_FILE (lines as they are). With --next every SendMail names the mail after it, so that with
// PIPELINING that mail's envelope goes out behind the "." (one wait for the server a mail); without, each
// mail waits twice. What the client can do once the run hands it the next mail.
//
//     session_client PORT FROM CC COUNT TEXT_FILE [--next]
//
// Built by bench/run_all against build-bench's transport library; it is no part of the program.

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <exception>
#include <fstream>
#include <string>
#include <vector>

#include "transport/smtp.h"

namespace {

void Fill(TIdMessage& message, const std::string& from, const std::string& cc, int number,
          const std::vector<std::string>& body) {
    message.Clear();
    message.From.SetText(from);
    message.Recipients.SetFromText("person" + std::to_string(number) + "@example.test");
    message.CCList.SetFromText(cc);
    message.Subject = "Ihr Angebot Nr. " + std::to_string(number);
    message.Body = body;
}

}  // namespace

int main(int argc, char** argv) {
    const bool next = argc == 7 && std::strcmp(argv[6], "--next") == 0;
    if (argc != 6 && !next) {
        std::fprintf(stderr, "usage: session_client PORT FROM CC COUNT TEXT_FILE [--next]\n");
        return 2;
    }
    const int count = std::atoi(argv[4]);
    std::vector<std::string> body;
    std::ifstream text(argv[5], std::ios::binary);
    for (std::string line; std::getline(text, line);) {
        if (!line.empty() && line.back() == '\r') line.pop_back();
        body.push_back(line);
    }
    try {
        TIdSMTP smtp;
        smtp.Host = "127.0.0.1";
        smtp.Port = std::atoi(argv[1]);
        smtp.HeloName = "bench";
        smtp.OpenSession(TIdSMTP::kConnectTimeLimitMs);
        // Two message objects in turn: the one sent and the one named after it.
        TIdMessage messages[2];
        Fill(messages[0], argv[2], argv[3], 1, body);
        for (int i = 1; i <= count; ++i) {
            TIdMessage& current = messages[(i - 1) % 2];
            TIdMessage& following = messages[i % 2];
            if (i < count) Fill(following, argv[2], argv[3], i + 1, body);
            smtp.SendMail(current, next && i < count ? &following : nullptr);
        }
        smtp.CloseSession();
    } catch (const std::exception& error) {
        std::fprintf(stderr, "session_client: %s\n", error.what());
        return 1;
    }
    std::printf("%d mails\n", count);
    return 0;
}
