#pragma once
// The check of a send to a server that stops reading, shared by the session tests of the plain and the
// encrypted channel.

#include "transport/smtp.h"
#include "transport/socket_errors.h"

#include "tests/support/temp_dir.h"

#include <gtest/gtest.h>

#include <string>

// Sends a mail from a@example.org to b@example.org with a 40 MB attachment, more than the socket buffers
// of both ends hold, to a server that stops reading after its "354": the send must end with a socket error
// once ReplyTimeLimit (500 ms here) has passed without progress, and the session must close all the same.
// smtp is prepared for the server but not connected.
inline void ExpectSendToStalledServerFails(TIdSMTP& smtp) {
    TempDir dir;
    dir.Write("gross.bin", std::string(40 * 1024 * 1024, 'x'));
    smtp.ReplyTimeLimit = 500;
    smtp.DataEndTimeLimit = 2000;
    TIdMessage message;
    message.From.SetText("a@example.org");
    message.Recipients.SetFromText("b@example.org");
    message.PartList.Add<TIdAttachment>(dir.File("gross.bin"));
    smtp.OpenSession(1000);
    EXPECT_THROW(smtp.SendMail(message), EIdSocketError);
    try {
        smtp.CloseSession();
    } catch (const EIdException&) {
        // The QUIT cannot get through either; the connection is closed all the same.
    }
    EXPECT_FALSE(smtp.IsConnected());
}
