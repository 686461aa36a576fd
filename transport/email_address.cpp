#include "transport/email_address.h"

#include <algorithm>

#include "transport/byte_text.h"
#include "transport/header_words.h"

namespace {

constexpr std::size_t kNone = std::string_view::npos;

// Characters that the address parser looks for, by state.
constexpr std::string_view kItemTop = "(\"< @\t";
constexpr std::string_view kItemInComment = "()\\";
constexpr std::string_view kItemInQuotes = "\"\\";
constexpr std::string_view kItemAfterAtBracketed = ".>(";
constexpr std::string_view kItemAfterAt = ".( ";
constexpr std::string_view kItemInAddress = "\"(@>";

// Characters that the list splitter looks for, by state.
constexpr std::string_view kListTop = ":;(\", \t";
constexpr std::string_view kListInComment = "(\\)";
constexpr std::string_view kListInQuotes = "\"\\";

std::string_view Before(std::string_view text, std::size_t p) { return text.substr(0, p); }
std::string_view Through(std::string_view text, std::size_t p) { return text.substr(0, p + 1); }

// Removes the first count characters (all when fewer are left).
void Consume(std::string_view& text, std::size_t count) { text.remove_prefix(std::min(count, text.size())); }

// The text between an escaping backslash at p and what follows: the text before it and the escaped
// character.
std::string Unescaped(std::string_view text, std::size_t p) {
    std::string result(Before(text, p));
    if (p + 1 < text.size()) result += text[p + 1];
    return result;
}

}  // namespace

EIdEmailParseError::EIdEmailParseError() : EIdException("@ Outside-Adresse") {}

void TIdEMailAddressItem::SetText(std::string_view text) {
    Name.clear();
    Address.clear();
    const std::string trimmed = TrimText(text);
    std::string_view t = trimmed;
    if (t.empty()) return;

    bool afterAt = false;
    bool inAddress = false;
    bool bracketed = false;
    bool inQuotes = false;
    int depth = 0;

    std::size_t p = t.find_first_of(kItemTop);
    if (p == kNone) {
        Address = trimmed;
        return;
    }
    while (p != kNone) {
        switch (t[p]) {
        case ' ':
        case '\t':
            if (p > 0) {
                if (afterAt) {
                    Address += TrimText(Before(t, p));
                } else {
                    Name += Through(t, p);
                }
            }
            Consume(t, p + 1);
            break;
        case '"':
            if (inQuotes) {
                (bracketed ? Address : Name) += TrimText(Before(t, p));
                inQuotes = false;
            } else {
                // Text glued to the opening quote keeps its characters.
                (bracketed ? Address : Name) += Before(t, p);
                inQuotes = true;
            }
            Consume(t, p + 1);
            break;
        case '(':
            // Only text outside every comment is kept; the text of a nested comment is dropped too.
            if (p > 0 && depth == 0) {
                if (inAddress) {
                    Address += TrimText(Before(t, p));
                } else {
                    Name += Before(t, p);
                }
            }
            Consume(t, p + 1);
            ++depth;
            break;
        case ')':
            Consume(t, p + 1);
            --depth;
            break;
        case '.':
            if (bracketed) {
                Address += StripBlanks(TrimText(Before(t, p))) + ".";
                Consume(t, p + 1);
                while (!t.empty() && t[0] == ' ') t.remove_prefix(1);
            } else {
                Address += Through(t, p);
                Consume(t, p + 1);
            }
            break;
        case '<':
            Name += Before(t, p);
            Name = StripBlanks(TrimText(Name));
            bracketed = true;
            inAddress = true;
            Consume(t, p + 1);
            break;
        case '>':
            inAddress = false;
            afterAt = false;
            Address += StripBlanks(TrimText(Before(t, p)));
            Consume(t, p + 1);
            break;
        case '@':
            afterAt = true;
            if (!inAddress) {
                if (bracketed) throw EIdEmailParseError();
                inAddress = true;
            }
            Address += Through(t, p);
            Consume(t, p + 1);
            break;
        case '\\':
            // Inside quotes the escaped character is kept; inside a comment both are dropped.
            if (inQuotes) (inAddress ? Address : Name) += Unescaped(t, p);
            Consume(t, p + 2);
            break;
        }
        std::string_view wanted = depth > 0 ? kItemInComment
                                  : inQuotes ? kItemInQuotes
                                  : afterAt  ? (bracketed ? kItemAfterAtBracketed : kItemAfterAt)
                                  : inAddress ? kItemInAddress
                                              : kItemTop;
        p = t.find_first_of(wanted);
    }
    if (inAddress && !bracketed) Address += StripBlanks(TrimText(t));
}

std::string TIdEMailAddressItem::FormattedAddress() const {
    if (Address.empty()) return Name.empty() ? "" : "<>";
    std::size_t at = Address.rfind('@');
    std::string local = at == kNone ? "" : Address.substr(0, at);
    std::string domain = at == kNone ? "" : Address.substr(at);
    std::size_t odd = local.find_first_not_of(AtomChars);
    if (odd != kNone && local[odd] != '.') return "<" + QuoteWithEscapes(local) + domain + ">";
    if (Name.empty()) return local + domain;
    return "<" + local + domain + ">";
}

std::string TIdEMailAddressItem::Text() const {
    std::string formatted = FormattedAddress();
    if (Name.empty() || Name == UpperCaseAscii(Address)) return formatted;
    if (Name.find_first_not_of(std::string(AtomChars) + " ") == kNone) return Name + " " + formatted;
    return QuoteWithEscapes(Name) + " " + formatted;
}

TIdEMailAddressItem& TIdEMailAddressList::Add() { return items_.emplace_back(); }

// The item joins the list before it is parsed, so that it stays there with its parsed parts when the
// parser fails.
void TIdEMailAddressList::AddParsed(std::string_view text) { Add().SetText(text); }

void TIdEMailAddressList::AddParsedUnlessEmpty(std::string_view text) {
    AddParsed(text);
    std::string form = TrimText(items_.back().Text());
    if (form.empty() || form == "<>") items_.pop_back();
}

void TIdEMailAddressList::SetFromText(std::string_view text) {
    items_.clear();
    if (TrimText(text).empty()) return;

    std::string_view rest = text;
    std::size_t p = rest.find_first_of(kListTop);
    if (p == kNone) {
        AddParsed(TrimLeftText(text));
        return;
    }
    std::string accumulated;
    int depth = 0;
    bool inQuotes = false;
    while (p != kNone) {
        switch (rest[p]) {
        case ' ':
        case '\t':
            accumulated += Through(rest, p);
            Consume(rest, p + 1);
            break;
        case ':':
            // A group name is dropped.
            Consume(rest, p + 1);
            accumulated.clear();
            break;
        case ';':
            accumulated += Before(rest, p);
            Consume(rest, p + 1);
            if (!TrimText(accumulated).empty()) AddParsed(TrimLeftText(accumulated));
            accumulated.clear();
            break;
        case '"':
            accumulated += Through(rest, p);
            Consume(rest, p + 1);
            inQuotes = !inQuotes;
            break;
        case '(':
        case ')':
            accumulated += Through(rest, p);
            depth += rest[p] == '(' ? 1 : -1;
            Consume(rest, p + 1);
            break;
        case '\\':
            accumulated += rest.substr(0, p + 2);
            Consume(rest, p + 2);
            break;
        case ',':
            accumulated += Before(rest, p);
            Consume(rest, p + 1);
            AddParsedUnlessEmpty(accumulated);
            accumulated.clear();
            break;
        }
        std::string_view wanted = depth > 0 ? kListInComment : inQuotes ? kListInQuotes : kListTop;
        p = rest.find_first_of(wanted);
    }
    if (TrimText(accumulated).empty() && TrimText(rest).empty()) return;
    AddParsedUnlessEmpty(TrimLeftText(accumulated + std::string(rest)));
}

namespace {

// The address as a header may carry it: a local part with characters outside the atoms and dots (a
// blank, say) is quoted, so that the header keeps its syntax. Ordinary addresses stay as they are.
std::string AddressForHeader(const std::string& address) {
    std::size_t at = address.rfind('@');
    if (at == kNone || at == 0) return address;
    std::string_view local = std::string_view(address).substr(0, at);
    if (local.find_first_not_of(std::string(AtomChars) + ".") == kNone) return address;
    if (local.size() >= 2 && local.front() == '"' && local.back() == '"') return address;
    return QuoteWithEscapes(local) + address.substr(at);
}

}  // namespace

std::string FormatAddressForHeader(const TIdEMailAddressItem& item, char letter, TTransfer transfer,
                                   std::string_view charset) {
    const std::string address = AddressForHeader(item.Address);
    if (item.Name.empty()) return address;
    bool plain = std::all_of(item.Name.begin(), item.Name.end(), [](char c) {
        auto byte = static_cast<unsigned char>(c);
        return byte >= 32 && byte <= 126;
    });
    std::string name = plain ? QuoteWithEscapes(item.Name)
                             : EncodeHeaderWords(item.Name, AddressSpecials, letter, transfer, charset);
    return name + " <" + address + ">";
}

std::string FormatAddressListForHeader(const TIdEMailAddressList& list, char letter, TTransfer transfer,
                                       std::string_view charset) {
    std::string value;
    for (std::size_t i = 0; i < list.Count(); ++i) {
        if (i > 0) value += ", ";
        value += FormatAddressForHeader(list[i], letter, transfer, charset);
    }
    return value;
}
