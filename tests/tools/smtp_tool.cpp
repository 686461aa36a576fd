// Test helper for the TLS checks against the real SMTP peer: sends one mail through TIdSMTP with the
// settings the program itself never changes (implicit TLS on a port other than 465, a CA file of the
// test's own).
//
//   smtp_tool HOST PORT FROM TO [--implicit-tls] [--ca FILE] [--user USER --password PASSWORD]
//             [--subject TEXT] [--attachment PATH]
//
// Exit code 0 when the mail was accepted; otherwise 1 with the error text on standard error.

#include <exception>
#include <iostream>
#include <string>
#include <vector>

#include "transport/smtp.h"

int main(int argc, char** argv) {
    const std::vector<std::string> args(argv + 1, argv + argc);
    if (args.size() < 4) {
        std::cerr << "usage: smtp_tool HOST PORT FROM TO [options]\n";
        return 2;
    }
    TIdSMTP smtp;
    TIdMessage message;
    smtp.Host = args[0];
    smtp.Port = std::stoi(args[1]);
    smtp.HeloName = "smtp-tool.test";
    message.From.SetText(args[2]);
    message.Recipients.SetFromText(args[3]);
    message.Subject = "smtp_tool";
    message.Body = {"Hallo"};
    for (size_t i = 4; i < args.size(); ++i) {
        const std::string& option = args[i];
        auto value = [&]() -> std::string { return i + 1 < args.size() ? args[++i] : std::string(); };
        if (option == "--implicit-tls") {
            smtp.ImplicitTLS = true;
        } else if (option == "--ca") {
            smtp.CAFile = value();
        } else if (option == "--user") {
            smtp.Username = value();
        } else if (option == "--password") {
            smtp.Password = value();
            smtp.SetAuthenticationType(atLogin);
        } else if (option == "--subject") {
            message.Subject = value();
        } else if (option == "--attachment") {
            message.PartList.Add<TIdAttachment>(value());
            message.ContentType = "multipart/mixed";
        } else {
            std::cerr << "unknown option " << option << '\n';
            return 2;
        }
    }
    try {
        smtp.OpenSession(TIdSMTP::kConnectTimeLimitMs);
        const bool encrypted = smtp.Encrypted();
        smtp.SendMail(message);
        smtp.CloseSession();
        std::cout << (encrypted ? "encrypted" : "plain") << '\n';
        return 0;
    } catch (const std::exception& error) {
        std::cerr << error.what() << '\n';
        return 1;
    }
}
