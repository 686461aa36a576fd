#include "transport/loopback_address.h"

#include "transport/socket_layer.h"

bool IsLoopbackAddress(const std::string& ip) {
    if (ip == "::1") return true;
    const std::string mapped = "::ffff:";
    const std::string v4 = ip.compare(0, mapped.size(), mapped) == 0 ? ip.substr(mapped.size()) : ip;
    return TIdStack::IsDottedQuad(v4) && v4.compare(0, 4, "127.") == 0;
}
