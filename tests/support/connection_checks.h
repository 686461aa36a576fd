#pragma once
// Header-only checks of a connection's behaviour that tests of several channels share.

#include "transport/socket_errors.h"
#include "transport/tcp_connection.h"

#include <string>

// Writes lines of 1000 bytes, each sent at once, until the connection raises a socket error (1000 lines at
// the most) and returns the error's code; 0 when none came. Used on a connection the peer has reset: the
// first sends may still succeed, a later one must fail with an error and not kill the program by SIGPIPE.
inline int WriteUntilSocketError(TIdTCPConnection& connection) {
    const std::string line(1000, 'z');
    for (int i = 0; i < 1000; ++i) {
        try {
            connection.WriteLine(line);
            connection.FlushOutput();
        } catch (const EIdSocketError& error) {
            return error.Code();
        }
    }
    return 0;
}
