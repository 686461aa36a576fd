#include "mailing/mail_pictures.h"

#include "mailing/file_io.h"
#include "mailing/html_text.h"
#include "transport/encoders.h"

#include <sys/stat.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <functional>
#include <map>
#include <mutex>
#include <random>

namespace {

// The encoder's line: 57 bytes give 76 characters.
constexpr size_t kBase64LineBytes = 57;
// The cache holds the pictures of a run with room to spare; beyond this it starts afresh rather than
// keep pictures of older runs in memory.
constexpr size_t kMaxCachedBytes = 256u * 1024 * 1024;

char LowerAscii(char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; }

std::string Lower(std::string_view text) {
    std::string out(text);
    std::transform(out.begin(), out.end(), out.begin(), LowerAscii);
    return out;
}

// HTML takes a URL with the blanks around it stripped.
std::string_view TrimmedUrl(std::string_view src) {
    auto blank = [](char c) { return c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == '\f'; };
    while (!src.empty() && blank(src.front())) src.remove_prefix(1);
    while (!src.empty() && blank(src.back())) src.remove_suffix(1);
    return src;
}

// The URL's scheme in lower case ("http"), empty for a relative reference. A single letter before the
// colon is a Windows drive ("C:\Bilder\logo.png"), not a scheme.
std::string SchemeOf(std::string_view url) {
    const size_t colon = url.find(':');
    if (colon == std::string_view::npos || colon < 2) return {};
    for (size_t i = 0; i < colon; ++i) {
        const char c = url[i];
        const bool letter = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z');
        if (!letter && (i == 0 || !((c >= '0' && c <= '9') || c == '+' || c == '-' || c == '.'))) return {};
    }
    return Lower(url.substr(0, colon));
}

int HexValue(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    c = LowerAscii(c);
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    return -1;
}

std::string PercentDecoded(std::string_view text) {
    std::string out;
    for (size_t i = 0; i < text.size(); ++i) {
        if (text[i] == '%' && i + 2 < text.size()) {
            const int high = HexValue(text[i + 1]);
            const int low = HexValue(text[i + 2]);
            if (high >= 0 && low >= 0) {
                out += static_cast<char>(high * 16 + low);
                i += 2;
                continue;
            }
        }
        out += text[i];
    }
    return out;
}

// A reference's path without its query and fragment, which name no part of a file.
std::string_view WithoutQuery(std::string_view url) { return url.substr(0, url.find_first_of("?#")); }

std::string ContentTypeOf(std::string_view head, const std::string& path) {
    auto starts = [&](std::string_view magic) { return head.substr(0, magic.size()) == magic; };
    if (starts("\x89PNG\r\n\x1A\n")) return "image/png";
    if (starts("\xFF\xD8\xFF")) return "image/jpeg";
    if (starts("GIF87a") || starts("GIF89a")) return "image/gif";
    if (starts("RIFF") && head.size() >= 12 && head.substr(8, 4) == "WEBP") return "image/webp";
    if (starts("BM")) return "image/bmp";
    static const std::map<std::string, std::string> kByEnding = {
        {"svg", "image/svg+xml"}, {"png", "image/png"}, {"jpg", "image/jpeg"}, {"jpeg", "image/jpeg"},
        {"gif", "image/gif"},     {"webp", "image/webp"}, {"bmp", "image/bmp"}, {"ico", "image/x-icon"},
        {"avif", "image/avif"}};
    const size_t dot = path.rfind('.');
    if (dot != std::string::npos && path.find('/', dot) == std::string::npos) {
        const auto found = kByEnding.find(Lower(std::string_view(path).substr(dot + 1)));
        if (found != kByEnding.end()) return found->second;
    }
    return "application/octet-stream";
}

std::string Base64Lines(std::string_view bytes) {
    TIdEncoderMIME coding;
    std::string lines;
    lines.reserve(bytes.size() / kBase64LineBytes * 78 + 80);
    for (size_t at = 0; at < bytes.size(); at += kBase64LineBytes) {
        coding.AppendEncoded(bytes.substr(at, kBase64LineBytes), lines);
        lines += "\r\n";
    }
    return lines;
}

std::string UnreadableText(const std::string& path, const std::string& reason) {
    return "Das Bild \"" + path + "\" der HTML-Mail kann nicht gelesen werden (" + reason + ").";
}

class PictureCache {
public:
    std::shared_ptr<const EncodedPicture> Load(const std::string& path) {
        struct stat info {};
        if (::stat(path.c_str(), &info) != 0) throw EPictureUnreadable(UnreadableText(path, std::strerror(errno)));
        if (!S_ISREG(info.st_mode)) throw EPictureUnreadable(UnreadableText(path, std::strerror(EISDIR)));
        {
            std::lock_guard lock(mutex_);
            const auto found = entries_.find(path);
            if (found != entries_.end() && found->second.Same(info)) return found->second.picture;
        }
        std::string bytes;
        try {
            bytes = ReadWholeFile(path);
        } catch (const EFileError& error) {
            throw EPictureUnreadable(UnreadableText(path, std::strerror(error.Errno())));
        }
        auto picture = std::make_shared<EncodedPicture>();
        picture->contentType = ContentTypeOf(std::string_view(bytes).substr(0, 16), path);
        picture->bytes = static_cast<long long>(bytes.size());
        picture->base64 = std::make_shared<const std::string>(Base64Lines(bytes));

        std::lock_guard lock(mutex_);
        if (cachedBytes_ + picture->base64->size() > kMaxCachedBytes) {
            entries_.clear();
            cachedBytes_ = 0;
        }
        Entry& entry = entries_[path];
        cachedBytes_ -= entry.picture ? entry.picture->base64->size() : 0;
        entry = {info.st_dev, info.st_ino, info.st_size, info.st_mtim, picture};
        cachedBytes_ += picture->base64->size();
        return picture;
    }

private:
    struct Entry {
        dev_t device = 0;
        ino_t inode = 0;
        off_t size = 0;
        timespec modified{};
        std::shared_ptr<const EncodedPicture> picture;

        bool Same(const struct stat& info) const {
            return device == info.st_dev && inode == info.st_ino && size == info.st_size &&
                   modified.tv_sec == info.st_mtim.tv_sec && modified.tv_nsec == info.st_mtim.tv_nsec;
        }
    };
    std::mutex mutex_;
    std::map<std::string, Entry> entries_;
    size_t cachedBytes_ = 0;
};

PictureCache& Pictures() {
    static PictureCache cache;
    return cache;
}

// Content-IDs must be unique in the world (RFC 2045, 7): a random part for this process, and the
// picture's number and path within it.
std::string ContentIdFor(const std::string& path, size_t number) {
    static const unsigned long long kProcessPart = std::random_device{}() * 0x100000001ULL ^ std::random_device{}();
    char id[96];
    std::snprintf(id, sizeof id, "bild%zu.%016llx.%08llx@postira", number,
                  static_cast<unsigned long long>(std::hash<std::string>{}(path)), kProcessPart & 0xFFFFFFFFULL);
    return id;
}

}  // namespace

bool IsRemotePicture(std::string_view src) {
    src = TrimmedUrl(src);
    const std::string scheme = SchemeOf(src);
    return scheme == "http" || scheme == "https" || src.substr(0, 2) == "//";
}

std::optional<std::string> LocalPicturePath(std::string_view src, const std::string& folder) {
    src = TrimmedUrl(src);
    if (src.empty() || IsRemotePicture(src)) return std::nullopt;
    const std::string scheme = SchemeOf(src);
    if (scheme == "file") {
        std::string_view rest = WithoutQuery(src.substr(5));
        // "file:///path" and "file://localhost/path" name this computer's "/path"; "file:/path" too.
        if (rest.substr(0, 2) == "//") {
            rest.remove_prefix(2);
            const size_t slash = rest.find('/');
            const std::string_view host = rest.substr(0, slash);
            if (!host.empty() && Lower(host) != "localhost") return std::nullopt;
            rest = slash == std::string_view::npos ? std::string_view() : rest.substr(slash);
        }
        if (rest.empty()) return std::nullopt;
        return PercentDecoded(rest);
    }
    if (!scheme.empty()) return std::nullopt;
    auto resolved = [&](const std::string& path) { return path.front() == '/' ? path : folder + path; };
    // A file whose name holds "%", "?" or "#" as written; else the name as a URL means it.
    const std::string literal = resolved(std::string(src));
    if (FileExists(literal)) return literal;
    const std::string decoded = PercentDecoded(WithoutQuery(src));
    return decoded.empty() ? literal : resolved(decoded);
}

HtmlMail PrepareHtmlMail(std::string_view html, const std::string& folder) {
    HtmlMail mail;
    std::map<std::string, std::string> idByPath;
    size_t copied = 0;
    for (const ImageSource& source : ImageSources(html)) {
        const std::optional<std::string> path = LocalPicturePath(source.value, folder);
        if (!path) {
            if (IsRemotePicture(source.value) &&
                std::find(mail.remotePictures.begin(), mail.remotePictures.end(), source.value) == mail.remotePictures.end()) {
                mail.remotePictures.push_back(source.value);
            }
            continue;
        }
        auto [entry, added] = idByPath.try_emplace(*path);
        if (added) {
            entry->second = ContentIdFor(*path, mail.pictures.size() + 1);
            mail.pictures.push_back({*path, entry->second});
        }
        mail.html.append(html.substr(copied, source.begin - copied));
        mail.html += "\"cid:" + entry->second + "\"";
        copied = source.end;
    }
    mail.html.append(html.substr(copied));
    mail.text = TextOfHtml(mail.html);
    return mail;
}

std::shared_ptr<const EncodedPicture> LoadPicture(const std::string& path) { return Pictures().Load(path); }
