#pragma once
// Content encoders of the mail transport: base64 (and the other 3-to-4 codings used by uuencode and
// xxencode) and quoted-printable, each over a byte stream.

#include <cstddef>
#include <cstdint>
#include <istream>
#include <sstream>
#include <string>
#include <string_view>

#include "transport/id_exception.h"

// The count for Encode/EncodeChunk that means "everything left in the source".
inline constexpr std::size_t EncodeEverything = SIZE_MAX;

// Raised when a source stream reports a read error that it does not throw itself.
class EIdStreamReadError : public EIdException {
public:
    EIdStreamReadError();
};

class TIdEncoder {
public:
    virtual ~TIdEncoder();
    // Encodes the next min(count, bytes left) bytes of the source and returns the text.
    virtual std::string Encode(std::istream& source, std::size_t count = EncodeEverything) = 0;
};

// Encodes a whole text in one piece with a fresh encoder of the given class. The SMTP login relies on
// this form: a base64 user name or password never gets a line break, however long it is.
template <class Encoder>
std::string EncodeText(std::string_view text) {
    Encoder encoder;
    std::istringstream source{std::string(text)};
    return encoder.Encode(source);
}

// Turns groups of 3 bytes into 4 characters of a 64-character table; a final group of 1 or 2 bytes is
// completed with the fill character (base64's "=").
class TIdEncoder3to4 : public TIdEncoder {
public:
    TIdEncoder3to4(std::string_view codingTable, char fillChar);

    // Encodes the next min(count, bytes left) bytes. The count must be a multiple of 3 (so that no
    // fill character lands in the middle of the output) unless it is EncodeEverything; otherwise
    // EIdException "Ungleichmäßige Größe in Encode." is raised and nothing is read.
    std::string EncodeChunk(std::istream& source, std::size_t count);
    std::string Encode(std::istream& source, std::size_t count = EncodeEverything) override;

    // The same coding over bytes already in memory.
    std::string EncodeBytes(std::string_view bytes) const;
    // The same, appended to `out`.
    void AppendEncoded(std::string_view bytes, std::string& out) const;

    const std::string& CodingTable() const { return codingTable_; }
    char FillChar() const { return fillChar_; }

private:
    std::string codingTable_;
    char fillChar_;
};

// Base64 with the alphabet of RFC 2045 and "=" as fill character.
class TIdEncoderMIME : public TIdEncoder3to4 {
public:
    TIdEncoderMIME();
};

// The uuencode coding: characters 32 to 95, with "`" standing for zero as current uuencode writes it.
class TIdEncoderUUE : public TIdEncoder3to4 {
public:
    TIdEncoderUUE();
};

// The xxencode coding: "+", "-", digits, upper and lower case letters.
class TIdEncoderXXE : public TIdEncoder3to4 {
public:
    TIdEncoderXXE();
};

// Quoted-printable of RFC 2045 with soft line breaks after more than 71 characters on an output line.
// CR and LF pass through unchanged, so a text of CR LF-terminated lines keeps its line breaks.
class TIdEncoderQuotedPrintable : public TIdEncoder {
public:
    std::string Encode(std::istream& source, std::size_t count = EncodeEverything) override;
};

// The same encoding of a text held in memory, appended to `out`: no stream and no block buffer, for a
// message body.
void AppendQuotedPrintable(std::string_view text, std::string& out);

// The bytes of a base64 text; characters outside the alphabet (padding, line breaks, blanks) are skipped.
std::string DecodeBase64Text(std::string_view text);
