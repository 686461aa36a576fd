// Feeds random server bytes through the IMAP reply reader and the parser of data responses: every input
// must end in a transport error or in responses that keep the bounds, never in a crash, a hang or
// unbounded memory. Every string the server sends also goes through the mailbox name decoder, whose
// result must encode and decode back to itself where it is UTF-8.
//
// The first input byte chooses the size of the pieces the bytes are fed in, so that lines, literals and
// responses are split at every possible place.

#include "transport/imap_mailbox_name.h"
#include "transport/imap_reply.h"

#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

namespace {

void CheckName(const std::string& wire) {
    const std::string name = DecodeMailboxName(wire);
    try {
        if (DecodeMailboxName(EncodeMailboxName(name)) != name) std::abort();
    } catch (const EIdIMAPInvalidMailboxName&) {
        // Not UTF-8 (a raw name the decoder left alone): there is no wire form for it.
    }
}

void CheckValues(const std::vector<TIdIMAPValue>& values) {
    for (const TIdIMAPValue& value : values) value.IsText() ? CheckName(value.Text) : CheckValues(value.Items);
}

void CheckResponse(const TIdIMAPResponse& response) {
    if (response.Lines.size() != (response.Lines.empty() ? 0 : response.Literals.size() + 1)) std::abort();
    for (const std::string& line : response.Lines) if (line.size() > kIMAPMaxLineLength) std::abort();
    for (const std::string& literal : response.Literals) if (literal.size() > kIMAPMaxLiteralSize) std::abort();
    if (CleanIMAPText(response.Text).size() > kIMAPMaxShownText + std::string_view("…").size()) std::abort();
    if (!response.IsStatus() && response.Kind == TIdIMAPResponseKind::Untagged) CheckValues(ParseIMAPData(response));
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 1) return 0;
    const size_t piece = static_cast<size_t>(data[0]) * 7 + 1;
    const std::string_view bytes(reinterpret_cast<const char*>(data) + 1, size - 1);
    TIdIMAPReplyReader reader;
    try {
        for (size_t at = 0; at < bytes.size(); at += piece) {
            reader.Feed(bytes.substr(at, piece));
            while (std::optional<TIdIMAPResponse> response = reader.Next()) {
                CheckResponse(*response);
                if (reader.Buffered() > bytes.size()) std::abort();
            }
        }
    } catch (const EIdException&) {
        // Every hostile input ends here.
    }
    return 0;
}
