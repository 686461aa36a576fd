#pragma once
// A small reader of encoded words for tests: splits a header value into its encoded words and
// decodes one, so tests can check that every word decodes on its own.

#include <regex>
#include <stdexcept>
#include <string>
#include <vector>

struct EncodedWord {
    std::string charset;
    char letter;
    std::string text;  // between the third "?" and "?="
};

inline std::vector<EncodedWord> FindEncodedWords(const std::string& value) {
    static const std::regex pattern(R"(=\?([^?]*)\?([QqBb])\?([^?]*)\?=)");
    std::vector<EncodedWord> words;
    for (auto it = std::sregex_iterator(value.begin(), value.end(), pattern); it != std::sregex_iterator(); ++it) {
        words.push_back({(*it)[1].str(), (*it)[2].str()[0], (*it)[3].str()});
    }
    return words;
}

inline std::string DecodeBase64(const std::string& text) {
    static const std::string table = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
    std::string out;
    unsigned bits = 0;
    int count = 0;
    for (char c : text) {
        if (c == '=') break;
        auto at = table.find(c);
        if (at == std::string::npos) throw std::runtime_error("not base64");
        bits = (bits << 6) | static_cast<unsigned>(at);
        count += 6;
        if (count >= 8) {
            count -= 8;
            out += static_cast<char>((bits >> count) & 0xFF);
        }
    }
    return out;
}

inline std::string DecodeWord(const EncodedWord& word) {
    if (word.letter == 'B' || word.letter == 'b') return DecodeBase64(word.text);
    std::string out;
    for (std::size_t i = 0; i < word.text.size(); ++i) {
        char c = word.text[i];
        if (c == '_') {
            out += ' ';
        } else if (c == '=') {
            out += static_cast<char>(std::stoi(word.text.substr(i + 1, 2), nullptr, 16));
            i += 2;
        } else {
            out += c;
        }
    }
    return out;
}

// True when the bytes are complete UTF-8 characters.
inline bool IsCompleteUtf8(const std::string& bytes) {
    std::size_t i = 0;
    while (i < bytes.size()) {
        auto c = static_cast<unsigned char>(bytes[i]);
        std::size_t length = c < 0x80 ? 1 : (c >> 5) == 6 ? 2 : (c >> 4) == 14 ? 3 : (c >> 3) == 30 ? 4 : 0;
        if (length == 0 || i + length > bytes.size()) return false;
        for (std::size_t k = 1; k < length; ++k) {
            if ((static_cast<unsigned char>(bytes[i + k]) & 0xC0) != 0x80) return false;
        }
        i += length;
    }
    return true;
}
