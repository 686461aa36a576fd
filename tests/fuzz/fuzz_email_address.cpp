// Feeds any bytes to the address list splitter and the address parser, then formats what came out
// into a folded header. Nothing may crash or hang, and no header line may carry a CR or LF.

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>

#include "transport/email_address.h"
#include "transport/header_list.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    std::string text(reinterpret_cast<const char*>(data), size);
    TIdEMailAddressList list;
    try {
        list.SetFromText(text);
    } catch (const EIdEmailParseError&) {
        // Expected for an "@" after a closed bracketed address; the list keeps what it has.
    }
    TIdEMailAddressItem item;
    try {
        item.SetText(text);
    } catch (const EIdEmailParseError&) {
    }
    std::string form = item.Text();
    (void)form;

    TIdHeaderList header;
    header.SetHeaderValue("To", FormatAddressListForHeader(list, 'Q', TTransfer::bit8, "UTF-8"));
    header.SetHeaderValue("Sender", item.Text());
    for (const std::string& line : header.Lines()) {
        if (line.find_first_of("\r\n") != std::string::npos) std::abort();
    }
    return 0;
}
