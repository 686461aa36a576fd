#pragma once
// Whether a peer is this machine: the one case in which a login may go without TLS by default.

#include <string>

// Whether a numeric address is one of this machine's loopback addresses (127.0.0.0/8, ::1).
bool IsLoopbackAddress(const std::string& ip);
