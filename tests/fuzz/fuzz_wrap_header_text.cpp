// Folds any bytes as a header line and sets them as a header value. Folding only ever inserts CR LF,
// so removing every CR LF from input and output must give the same bytes; and a header set from any
// value has no line with a CR or LF of its own and no blank line.

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>

#include "tests/support/transport_text.h"
#include "transport/header_list.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    std::string text(reinterpret_cast<const char*>(data), size);
    if (WithoutCrLf(WrapHeaderText(text)) != WithoutCrLf(text)) std::abort();

    TIdHeaderList list;
    list.SetHeaderValue("Subject", text);
    for (const std::string& line : list.Lines()) {
        if (line.find_first_of("\r\n") != std::string::npos) std::abort();
        if (line.find_first_not_of(" \t") == std::string::npos) std::abort();
    }
    return 0;
}
