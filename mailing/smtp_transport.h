#pragma once
// The mail transports behind the sends: the SMTP client, and a dry run that writes every mail into a
// folder instead of sending it.

#include "mailing/send_one.h"

#include "transport/message.h"

#include <functional>
#include <memory>
#include <string>
#include <string_view>

// The program's SMTP client: one TIdSMTP and one TIdMessage, used by every send.
std::unique_ptr<MailTransport> CreateSmtpTransport();
// The same with another answer to whether a server's numeric address is on this machine (where the
// login may go without TLS); for tests, which have only servers on this machine.
std::unique_ptr<MailTransport> CreateSmtpTransport(std::function<bool(const std::string& peerIP)> peerIsLocal);
// A dry run: every mail is written as it would reach the recipient into folder/NNNN.eml (NNNN = mailNumber
// with leading zeros, 4 digits at least); nothing is sent and no connection is made.
std::unique_ptr<MailTransport> CreateDryRunTransport(const std::string& folder);

// The file name of a mail of a dry run: "0007.eml", "12345.eml".
std::string DryRunFileName(int mailNumber);

// Fills the message object from the mail, as every send fills it. An address text that the parser
// rejects raises EIdEmailParseError.
void FillMessage(const OutgoingMail& mail, TIdMessage& message);

// Writes the message as it reaches the recipient: the writer's text with the dot-stuffing undone, as the
// receiving server undoes it, handed to `write` piece by piece. The dry run's files are made with it, and
// the check measures and previews the mails with it.
void WriteReceivedMessage(TIdMessage& message, const std::function<void(std::string_view)>& write);
