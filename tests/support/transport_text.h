#pragma once
// Header-only helpers for tests of the transport's text output (also used by the fuzz harnesses and
// the header tool, which link no test library).

#include <sstream>
#include <string>
#include <string_view>

#include "transport/message_encoders.h"

// The text with every CR LF removed: unfolding a header, or undoing inserted line breaks.
inline std::string WithoutCrLf(std::string_view text) {
    std::string out;
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text.substr(i, 2) == "\r\n") {
            ++i;
        } else {
            out += text[i];
        }
    }
    return out;
}

// What an attachment encoder writes for the given data.
inline std::string EncodeAttachment(TIdMessageEncoder& encoder, const std::string& data) {
    std::istringstream source(data);
    std::ostringstream destination;
    encoder.EncodeStream(source, destination);
    return destination.str();
}
