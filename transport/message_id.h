#pragma once
// Message-ID header values (RFC 5322 section 3.6.4). Large providers refuse mail without one, and the
// relay a user sends through does not always add it.

#include <string>
#include <string_view>

// "<" 32 hexadecimal digits from the system's random source "@" the domain of `senderAddress` ">". 128
// random bits make the left part unique across runs and machines without a counter or the clock; a
// sender without a usable domain gets "localhost".
std::string NewMessageId(std::string_view senderAddress);
