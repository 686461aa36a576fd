#pragma once
// E-mail addresses as the user types them: one address with a display name, and ordered lists of
// them, parsed from text and formatted back for the text form and for header values.

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

#include "transport/header_charset.h"
#include "transport/id_exception.h"

// A second "@" after an address that was closed with ">".
class EIdEmailParseError : public EIdException {
public:
    EIdEmailParseError();
};

// Characters of an atom (RFC 5322 atext) in this program's set.
inline constexpr std::string_view AtomChars =
    "abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ1234567890!#$%&'*+-/=?_`{}|~";

class TIdEMailAddressItem {
public:
    TIdEMailAddressItem() = default;
    explicit TIdEMailAddressItem(std::string_view text) { SetText(text); }

    std::string Address;
    std::string Name;

    // The text form: the formatted address, with the name in front (quoted when it is more than atoms
    // and blanks). Nothing is encoded.
    std::string Text() const;
    // Parses one address text into Name and Address. Raises EIdEmailParseError for an "@" after a
    // closed bracketed address; Name and Address then keep what was parsed so far.
    void SetText(std::string_view text);

    // The address for the text form: bare, in angle brackets with a name, its local part quoted when
    // it holds a character outside the atoms (other than a dot first).
    std::string FormattedAddress() const;
};

class TIdEMailAddressList {
public:
    // Replaces the content with the addresses of the text. "," and ";" separate addresses outside
    // double quotes and parentheses; a group name before ":" is dropped; an item after "," and the last
    // item are dropped when they hold no usable address. A parse error leaves the items before it and
    // the failing item with what was parsed of it.
    void SetFromText(std::string_view text);

    TIdEMailAddressItem& Add();
    void Clear() { items_.clear(); }
    std::size_t Count() const { return items_.size(); }
    bool Empty() const { return items_.empty(); }
    TIdEMailAddressItem& operator[](std::size_t index) { return items_[index]; }
    const TIdEMailAddressItem& operator[](std::size_t index) const { return items_[index]; }
    auto begin() const { return items_.begin(); }
    auto end() const { return items_.end(); }

private:
    void AddParsed(std::string_view text);
    void AddParsedUnlessEmpty(std::string_view text);

    std::vector<TIdEMailAddressItem> items_;
};

// The header value of one address: the bare address without a name; with a name of printable ASCII
// the quoted name and the address in angle brackets; with any other name its encoded words
// (EncodeHeaderWords with the thirteen address specials) and the address in angle brackets.
std::string FormatAddressForHeader(const TIdEMailAddressItem& item, char letter, TTransfer transfer,
                                   std::string_view charset);

// The header values of all items joined by ", "; empty for an empty list.
std::string FormatAddressListForHeader(const TIdEMailAddressList& list, char letter, TTransfer transfer,
                                       std::string_view charset);
