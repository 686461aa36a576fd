#include "mailing/list_address.h"

#include "mailing/file_io.h"
#include "mailing/list_file.h"
#include "mailing/mail_text.h"
#include "transport/byte_text.h"
#include "transport/email_address.h"

#include <set>

namespace {

// The bare addresses of a text, compared in upper case; an address text the parser rejects names none.
std::set<std::string> AddressesOf(const std::string& text) {
    std::set<std::string> addresses;
    TIdEMailAddressList list;
    try {
        list.SetFromText(text);
    } catch (const EIdEmailParseError&) {
        return addresses;
    }
    for (const TIdEMailAddressItem& item : list) {
        if (!item.Address.empty()) addresses.insert(UpperCaseAscii(item.Address));
    }
    return addresses;
}

}  // namespace

int ListLineWithAddress(const std::string& listPath, const std::string& addressText) {
    const std::set<std::string> wanted = AddressesOf(MailTextOf(Trim(addressText)));
    if (wanted.empty() || !FileExists(listPath)) return 0;
    TextLines lines;
    try {
        lines = SplitTextLines(ReadWholeFile(listPath));
    } catch (const EFileError&) {
        return 0;
    }
    for (size_t i = 0; i < lines.lines.size(); ++i) {
        if (IsBlankLine(lines.lines[i])) continue;
        for (const std::string& address : AddressesOf(RecordForMail(SplitListLine(lines.lines[i])).fields.Address)) {
            if (wanted.count(address)) return static_cast<int>(i) + 1;
        }
    }
    return 0;
}
