#include "transport/message_id.h"

#include "transport/id_exception.h"

#include <cerrno>
#include <sys/random.h>

namespace {

constexpr size_t kRandomBytes = 16;

// A domain as a msg-id may carry it unquoted (dot-atom of letters, digits and hyphens).
bool PlainDomain(std::string_view domain) {
    if (domain.empty() || domain.front() == '.' || domain.back() == '.') return false;
    for (const char c : domain) {
        const bool letterOrDigit = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9');
        if (!letterOrDigit && c != '-' && c != '.') return false;
    }
    return domain.find("..") == std::string_view::npos;
}

}  // namespace

std::string NewMessageId(std::string_view senderAddress) {
    unsigned char random[kRandomBytes];
    size_t got = 0;
    while (got < kRandomBytes) {
        const ssize_t n = ::getrandom(random + got, kRandomBytes - got, 0);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) throw EIdException("Keine Zufallszahlen für die Message-ID verfügbar");
        got += static_cast<size_t>(n);
    }
    static constexpr char kHex[] = "0123456789abcdef";
    std::string id = "<";
    for (const unsigned char byte : random) {
        id += kHex[byte >> 4];
        id += kHex[byte & 0x0F];
    }
    const size_t at = senderAddress.rfind('@');
    const std::string_view domain = at == std::string_view::npos ? std::string_view() : senderAddress.substr(at + 1);
    id += '@';
    id += PlainDomain(domain) ? domain : std::string_view("localhost");
    id += '>';
    return id;
}
