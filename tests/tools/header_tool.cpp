// Test helper for the cross-checks against Python's email package: reads one case per line of stdin,
// every field hex-encoded, and prints the result hex-encoded, one line per case.
//
//   header_tool subject LETTER CHARSET [TRANSFER]  text          -> folded "Subject" header lines
//   header_tool to LETTER CHARSET [TRANSFER]  name addr [name addr ...]  -> folded "To" header lines
//   header_tool value                            raw value       -> folded "Subject" lines, not encoded
//   header_tool addresses                        list text       -> addresses found, "name\taddr\n" each
//   header_tool iso2022jp                        Shift_JIS text  -> ISO-2022-JP bytes
//   header_tool qp | base64 | uue                data            -> encoded text
// TRANSFER is "bit8" (default) or "iso2022jp". Header lines are joined with CR LF.

#include <iostream>
#include <sstream>
#include <string>
#include <vector>

#include "tests/support/transport_text.h"
#include "transport/email_address.h"
#include "transport/encoders.h"
#include "transport/header_list.h"
#include "transport/header_words.h"
#include "transport/iso2022jp.h"
#include "transport/message_encoders.h"

namespace {

std::string FromHex(const std::string& hex) {
    std::string bytes;
    for (std::size_t i = 0; i + 1 < hex.size(); i += 2) bytes += static_cast<char>(std::stoi(hex.substr(i, 2), nullptr, 16));
    return bytes;
}

std::string ToHex(const std::string& bytes) {
    static const char digits[] = "0123456789abcdef";
    std::string hex;
    for (unsigned char c : bytes) {
        hex += digits[c >> 4];
        hex += digits[c & 15];
    }
    return hex;
}

std::string HeaderText(const TIdHeaderList& list) {
    std::string text;
    for (std::size_t i = 0; i < list.Count(); ++i) text += (i > 0 ? "\r\n" : "") + list[i];
    return text;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 2) {
        std::cerr << "usage: header_tool MODE [LETTER CHARSET [TRANSFER]]\n";
        return 2;
    }
    const std::string mode = argv[1];
    const char letter = argc > 2 ? argv[2][0] : 'Q';
    const std::string charset = argc > 3 ? argv[3] : "UTF-8";
    const TTransfer transfer = argc > 4 && std::string(argv[4]) == "iso2022jp" ? TTransfer::iso2022jp : TTransfer::bit8;

    std::string line;
    while (std::getline(std::cin, line)) {
        std::vector<std::string> fields;
        std::istringstream split(line);
        for (std::string field; split >> field;) fields.push_back(FromHex(field));
        if (fields.empty()) fields.emplace_back();
        std::string result;
        try {
            if (mode == "subject" || mode == "value") {
                TIdHeaderList list;
                std::string value = mode == "value" ? fields[0] : EncodeHeaderWords(fields[0], "", letter, transfer, charset);
                list.SetHeaderValue("Subject", value);
                result = HeaderText(list);
            } else if (mode == "to") {
                TIdEMailAddressList addresses;
                for (std::size_t i = 0; i + 1 < fields.size(); i += 2) {
                    TIdEMailAddressItem& item = addresses.Add();
                    item.Name = fields[i];
                    item.Address = fields[i + 1];
                }
                TIdHeaderList list;
                list.SetHeaderValue("To", FormatAddressListForHeader(addresses, letter, transfer, charset));
                result = HeaderText(list);
            } else if (mode == "addresses") {
                TIdEMailAddressList addresses;
                addresses.SetFromText(fields[0]);
                for (const TIdEMailAddressItem& item : addresses) result += item.Name + "\t" + item.Address + "\n";
            } else if (mode == "iso2022jp") {
                result = ConvertToISO2022JP(fields[0]);
            } else if (mode == "qp") {
                result = EncodeText<TIdEncoderQuotedPrintable>(fields[0]);
            } else if (mode == "base64") {
                TIdMessageEncoderMIME encoder;
                result = EncodeAttachment(encoder, fields[0]);
            } else if (mode == "uue") {
                TIdMessageEncoderUUE encoder;
                encoder.Filename = "data.bin";
                result = EncodeAttachment(encoder, fields[0]);
            } else {
                std::cerr << "unknown mode " << mode << "\n";
                return 2;
            }
        } catch (const std::exception& error) {
            result = std::string("ERROR: ") + error.what();
        }
        std::cout << ToHex(result) << "\n";
    }
    return 0;
}
