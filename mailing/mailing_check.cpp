#include "mailing/mailing_check.h"

#include "mailing/data_folder.h"
#include "mailing/file_io.h"
#include "mailing/html_text.h"
#include "mailing/mail_pictures.h"
#include "mailing/mail_reading.h"
#include "mailing/mail_text.h"
#include "mailing/mailing_run.h"
#include "mailing/send_one.h"
#include "mailing/send_rate.h"
#include "mailing/smtp_transport.h"
#include "transport/email_address.h"
#include "transport/encoders.h"
#include "transport/header_charset.h"
#include "transport/header_list.h"
#include "transport/header_words.h"
#include "transport/iso2022jp.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <functional>
#include <optional>
#include <unordered_map>
#include <unordered_set>

namespace {

// What a finding means, after its colon.
constexpr const char* kNotSent = "die Zeile wird nicht gesendet";
constexpr const char* kNoMailAtAll = "es kann keine Mail gesendet werden";
constexpr const char* kRunEndsHere = "der Versand bricht an dieser Zeile ab";
constexpr const char* kNotDelivered = "die Mail kann nicht zugestellt werden";
constexpr const char* kNotSendable = "die Mail kann nicht gesendet werden";
constexpr const char* kOftenBlocked = "es wird beim Empfänger oft blockiert";
constexpr const char* kProbablyRefused = "die Mail geht hinaus, der Server weist sie aber wahrscheinlich ab";
constexpr const char* kUndecodable =
    "Bytes, die weder als UTF-8 noch als Windows-1252 lesbar sind: sie erscheinen beim Empfänger als \"\xEF\xBF\xBD\"";

// The highest port number TCP has.
constexpr int kHighestPort = 65535;

// The attachment writer puts 57 bytes into each base64 line of 76 characters and CR LF.
constexpr long long kBase64LineBytes = 57;
constexpr long long kBase64LineLength = 76 + 2;

// An attachment's base64 lines as the writer writes them, from the file's size alone: a check of a
// large list must not read and encode every attachment once per line.
long long Base64WireBytes(long long fileBytes) {
    const long long rest = fileBytes % kBase64LineBytes;
    return fileBytes / kBase64LineBytes * kBase64LineLength + (rest > 0 ? (rest + 2) / 3 * 4 + 2 : 0);
}

std::string Quoted(const std::string& text) { return "\"" + text + "\""; }

std::string LowerAscii(std::string_view text) {
    std::string lower(text);
    for (char& c : lower) {
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    }
    return lower;
}

// One decimal with a comma, as German writes it.
std::string Decimal(double value) {
    char text[32];
    std::snprintf(text, sizeof text, "%.1f", value);
    std::string result = text;
    std::replace(result.begin(), result.end(), '.', ',');
    return result;
}

std::string FormatSize(long long bytes) {
    constexpr double kKilo = 1024.0;
    if (bytes < 1024) return std::to_string(bytes) + (bytes == 1 ? " Byte" : " Bytes");
    if (bytes < 1024 * 1024) return Decimal(static_cast<double>(bytes) / kKilo) + " KB";
    if (bytes < 1024LL * 1024 * 1024) return Decimal(static_cast<double>(bytes) / (kKilo * kKilo)) + " MB";
    return Decimal(static_cast<double>(bytes) / (kKilo * kKilo * kKilo)) + " GB";
}

std::string Counted(long long count, const char* one, const char* many) {
    return std::to_string(count) + " " + (count == 1 ? one : many);
}

std::string FormatDuration(std::chrono::seconds duration) {
    const long long seconds = duration.count();
    if (seconds < 60) return "etwa " + Counted(seconds, "Sekunde", "Sekunden");
    const long long minutes = (seconds + 30) / 60;
    if (minutes < 60) return "etwa " + Counted(minutes, "Minute", "Minuten");
    const long long hours = minutes / 60;
    const std::string text = "etwa " + Counted(hours, "Stunde", "Stunden");
    return minutes % 60 == 0 ? text : text + " und " + Counted(minutes % 60, "Minute", "Minuten");
}

// An address that a mail server can deliver to: a local part, "@" and a domain with a dot (or an
// address literal in brackets). "mueller@firma" has none and bounces.
// Why no server takes the address as it stands in "RCPT TO", as the part after "ungültig"; nothing when
// one would. Outside quotes an address has exactly one "@" and no blank, something before the "@", and a
// domain with a dot that neither starts nor ends it (or an address literal in brackets).
std::optional<std::string> AddressFault(std::string_view address) {
    size_t at = std::string_view::npos;
    bool quoted = false;
    for (size_t i = 0; i < address.size(); ++i) {
        const char c = address[i];
        if (c == '"') quoted = !quoted;
        if (quoted) continue;
        if (static_cast<unsigned char>(c) <= ' ') return std::string(" (Leerzeichen oder Steuerzeichen in der Adresse)");
        if (c != '@') continue;
        if (at != std::string_view::npos) return std::string(" (mehr als ein \"@\")");
        at = i;
    }
    if (at == 0) return std::string(" (nichts vor dem \"@\")");
    const std::string_view domain = at == std::string_view::npos ? std::string_view() : address.substr(at + 1);
    if (domain.size() > 2 && domain.front() == '[' && domain.back() == ']') return std::nullopt;
    const size_t dot = domain.find('.');
    if (dot == std::string_view::npos || dot == 0 || domain.back() == '.' || domain.find("..") != std::string_view::npos)
        return std::string(" (kein \"@\" mit vollständiger Domain)");
    return std::nullopt;
}

// What is wrong with an address text (recipients or copy list), in words that follow "Adresse":
// nothing when it is fine. `rejected` says that the parser throws on it, which ends a run.
struct AddressProblem {
    std::string what;
    bool rejected = false;
};

std::optional<AddressProblem> CheckAddressText(const std::string& text, TIdEMailAddressList& list) {
    try {
        list.SetFromText(text);
    } catch (const EIdEmailParseError&) {
        return AddressProblem{"ungültig, sie wird nicht erkannt", true};
    }
    if (list.Empty()) return AddressProblem{"ungültig, keine Adresse erkennbar", false};
    // An address written without angle brackets is the whole item: a blank in it does not belong to a
    // name, the parser would take the part before it for one and send to the rest.
    bool quoted = false;
    size_t itemStart = 0;
    for (size_t i = 0; i <= text.size(); ++i) {
        if (i < text.size() && text[i] == '"') quoted = !quoted;
        if (i < text.size() && (quoted || text[i] != ',')) continue;
        const std::string item = Trim(std::string_view(text).substr(itemStart, i - itemStart));
        itemStart = i + 1;
        if (item.find_first_of("<(\"") == std::string::npos && item.find_first_of(" \t") != std::string::npos) {
            const std::string which = item == Trim(text) ? "" : Quoted(item) + " ";
            return AddressProblem{which + "ungültig (Leerzeichen oder Steuerzeichen in der Adresse)", false};
        }
    }
    for (const TIdEMailAddressItem& item : list) {
        const std::optional<std::string> fault = AddressFault(item.Address);
        if (!fault) continue;
        // Only a field of several addresses needs to say which one.
        const std::string which = item.Address == text ? "" : Quoted(item.Address) + " ";
        return AddressProblem{which + "ungültig" + *fault, false};
    }
    return std::nullopt;
}

// Letters of a placeholder: ASCII letters, and the bytes of UTF-8 letters such as "ß".
bool PlaceholderByte(char c) {
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || static_cast<unsigned char>(c) >= 0x80;
}

size_t EditDistance(std::string_view a, std::string_view b) {
    std::vector<size_t> row(b.size() + 1);
    for (size_t j = 0; j <= b.size(); ++j) row[j] = j;
    for (size_t i = 1; i <= a.size(); ++i) {
        size_t diagonal = row[0];
        row[0] = i;
        for (size_t j = 1; j <= b.size(); ++j) {
            const size_t above = row[j];
            row[j] = std::min({row[j] + 1, row[j - 1] + 1, diagonal + (a[i - 1] == b[j - 1] ? 0 : 1)});
            diagonal = above;
        }
    }
    return row[b.size()];
}

// The known placeholder that an unknown one most likely meant. "$Vorname" is as far from "$Prename" as
// from "$Name" by letters, so words for the first name and for the surname decide first; the distance
// only where neither is in the word, a tie going to the shorter "$Name".
const char* ClosestPlaceholder(std::string_view letters) {
    const std::string lower = LowerAscii(letters);
    const auto contains = [&](std::initializer_list<const char*> words) {
        return std::any_of(words.begin(), words.end(), [&](const char* w) { return lower.find(w) != std::string::npos; });
    };
    if (contains({"vor", "first", "pre", "given", "ruf", "fore"})) return "$Prename";
    if (contains({"nach", "sur", "last", "famil", "zuname"})) return "$Name";
    return EditDistance(lower, "prename") < EditDistance(lower, "name") ? "$Prename" : "$Name";
}

struct Placeholder {
    std::string word;  // with its "$", as the text spells it first
    const char* closest;
};

// "$" and letters that Personalise leaves standing: it replaces "$Prename" and "$Name" wherever they
// start such a word, letters compared without regard to case, so "$Names" is the surname and an "s".
std::vector<Placeholder> UnknownPlaceholders(std::string_view text) {
    std::vector<Placeholder> found;
    std::unordered_set<std::string> seen;
    for (size_t at = text.find('$'); at != std::string_view::npos; at = text.find('$', at + 1)) {
        size_t end = at + 1;
        while (end < text.size() && PlaceholderByte(text[end])) ++end;
        if (end == at + 1 || static_cast<unsigned char>(text[at + 1]) >= 0x80) continue;
        const std::string_view letters = text.substr(at + 1, end - at - 1);
        const std::string lower = LowerAscii(letters);
        if (lower.starts_with("prename") || lower.starts_with("name")) continue;
        if (seen.insert(lower).second) found.push_back({"$" + std::string(letters), ClosestPlaceholder(letters)});
    }
    return found;
}

// The files of one check, each path looked at once: a check is a picture of one moment, and a large
// list names a handful of files again and again. (The run's CachedFileReader looks at the file again
// for every mail, and reads a file changed in the last seconds anew each time.)
class CheckFiles {
public:
    struct Text {
        bool read = false;
        std::string content;
        std::string error;  // the file error when it could not be read
        bool undecodable = false;  // neither UTF-8 nor Windows-1252 (see DecodeMailText)
        std::vector<Placeholder> unknown;
        // Some text stands outside the placeholders, so no names can make it empty.
        bool neverEmpty = false;
        TextKind kind = TextKind::Plain;  // by the file's ending
    };
    struct Attachment {
        bool exists = false;    // a regular file: the run attaches it
        bool readable = false;  // it can be opened: otherwise the send fails
        long long bytes = 0;
    };

    bool Exists(const std::string& path) {
        auto found = exists_.find(path);
        if (found == exists_.end()) found = exists_.emplace(path, FileExists(path)).first;
        return found->second;
    }

    const Text& ReadText(const std::string& path) {
        auto found = texts_.find(path);
        if (found != texts_.end()) return found->second;
        Text& text = texts_[path];
        try {
            // The text as the run puts it into the mail.
            const MailText decoded = DecodeMailText(ReadWholeFile(path));
            text.content = decoded.utf8;
            text.undecodable = decoded.undecodable;
            text.read = true;
            text.unknown = UnknownPlaceholders(text.content);
            text.neverEmpty = !IsBlankLine(Personalise(text.content, "", ""));
            text.kind = TextKindOfPath(path);
        } catch (const EFileError& error) {
            text.error = error.what();
        }
        return text;
    }

    struct Picture {
        bool exists = false;
        bool readable = false;  // it goes into the mail; otherwise the line fails
        long long wireBytes = 0;  // its base64 lines
    };

    // Read and encoded as the run does it, into the cache the run takes it from.
    const Picture& LookAtPicture(const std::string& path) {
        auto found = pictures_.find(path);
        if (found != pictures_.end()) return found->second;
        Picture& picture = pictures_[path];
        try {
            picture.wireBytes = static_cast<long long>(LoadPicture(path)->base64->size());
            picture.readable = picture.exists = true;
        } catch (const EPictureUnreadable&) {
            struct stat info {};
            picture.exists = ::stat(path.c_str(), &info) == 0;  // a folder, a file without permission
        }
        return picture;
    }

    const Attachment& LookAt(const std::string& path) {
        auto found = attachments_.find(path);
        if (found != attachments_.end()) return found->second;
        Attachment& attachment = attachments_[path];
        struct stat info {};
        attachment.exists = ::stat(path.c_str(), &info) == 0 && S_ISREG(info.st_mode);
        if (attachment.exists) {
            attachment.bytes = info.st_size;
            const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
            attachment.readable = fd >= 0;
            if (fd >= 0) ::close(fd);
        }
        return attachment;
    }

private:
    std::unordered_map<std::string, bool> exists_;
    std::unordered_map<std::string, Text> texts_;
    std::unordered_map<std::string, Attachment> attachments_;
    std::unordered_map<std::string, Picture> pictures_;
};

struct Finding {
    CheckFinding kind;
    std::string text;
};

// The account and the copy list: what keeps every mail from going.
struct AccountCheck {
    std::vector<Finding> findings;
    bool canSend = true;
    std::string port;  // a port text that converts, to build the mails with even when the real one does not
};

AccountCheck CheckAccount(const CheckInput& input) {
    AccountCheck check;
    const AccountSettings& account = input.account;
    // As the run's start checks; a sign-in with OAuth2 needs no password, and one kept in the keyring is
    // not in the settings file (the check does not open the keyring).
    const bool needsPassword = !input.options.UsesOAuth2() && !input.options.passwordInKeyring;
    std::string missing;
    const std::pair<const std::string*, const char*> fields[] = {
        {&account.host, "Server"}, {&account.user, "Mailadresse"}, {&account.port, "Port"}, {&account.password, "Passwort"}};
    for (const auto& [value, name] : fields) {
        if (value == &account.password && !needsPassword) continue;
        if (IsBlankLine(*value)) missing += (missing.empty() ? "" : ", ") + std::string(name);
    }
    if (!missing.empty()) {
        check.findings.push_back({CheckFinding::AccountIncomplete,
                                  "Kontodaten unvollständig, es fehlt: " + missing + ": das Mailing startet nicht"});
    }
    check.port = account.port;
    if (!IsBlankLine(account.port)) {
        try {
            const int port = ConvertPort(account.port);
            if (port < 1 || port > kHighestPort) {
                check.findings.push_back({CheckFinding::BadPort, "Port " + std::to_string(port) + " liegt nicht zwischen 1 und " +
                                                                     std::to_string(kHighestPort) + ": " + kNoMailAtAll});
            }
        } catch (const EConvertError&) {
            check.findings.push_back({CheckFinding::BadPort, "Port " + Quoted(account.port) + " ist keine Zahl: " + kNoMailAtAll});
            check.port = "25";
        }
    }
    const std::string user = Trim(account.user);
    if (!user.empty()) {
        TIdEMailAddressItem sender;
        bool fine = true;
        try {
            sender.SetText(user);
            fine = !AddressFault(sender.Address);
        } catch (const EIdEmailParseError&) {
            fine = false;
        }
        if (!fine) {
            check.findings.push_back({CheckFinding::BadAddress,
                                      "Absenderadresse " + Quoted(user) + " ist ungültig: " + kNoMailAtAll});
        }
    }
    const std::string cc = Trim(input.cc);
    if (!cc.empty()) {
        TIdEMailAddressList list;
        if (const std::optional<AddressProblem> problem = CheckAddressText(cc, list)) {
            check.findings.push_back({problem->rejected ? CheckFinding::BadAddress : CheckFinding::DoubtfulAddress,
                                      "Kopie-Adresse " + Quoted(cc) + " " + problem->what + ": " +
                                          (problem->rejected ? kNoMailAtAll
                                                             : "die Mails gehen hinaus, der Server weist sie aber "
                                                               "wahrscheinlich ab")});
        }
    }
    // Only what keeps the run from sending keeps the check from counting the mails.
    check.canSend = std::none_of(check.findings.begin(), check.findings.end(),
                                 [](const Finding& finding) { return IsFailure(finding.kind); });
    return check;
}

// One list line as the run would treat it, without the lines around it.
struct LineCheck {
    std::vector<Finding> findings;
    bool sends = false;  // its mail would go out
    bool stops = false;  // the run would end with an error here
    std::string reason;  // why its mail would not go
    std::string textPath;
    const CheckFiles::Text* text = nullptr;
    std::string attachment;  // the trimmed field
    bool attached = false;   // the file goes with the mail
    long long attachmentBytes = 0;
    TIdEMailAddressList recipients;  // as the parser reads the address field
    // An HTML or Markdown text: the line's HTML mail as the run makes it, and its pictures that can be
    // read, with the size of their base64 lines.
    std::shared_ptr<const HtmlMail> html;
    int pictures = 0;
    long long pictureBytes = 0;
};

LineCheck CheckRecord(const RecipientRecord& record, const std::string& standardTextPath, CheckFiles& files) {
    LineCheck line;
    const auto add = [&](CheckFinding kind, std::string text) { line.findings.push_back({kind, std::move(text)}); };
    // A finding that keeps the mail from going.
    const auto fail = [&](CheckFinding kind, std::string text) {
        line.sends = false;
        if (line.reason.empty()) line.reason = text;
        add(kind, std::move(text));
    };
    line.textPath = ChooseTextFile(record.TextFile, standardTextPath,
                                   [&files](const std::string& path) { return files.Exists(path); });
    line.text = &files.ReadText(line.textPath);
    if (!line.text->read) {
        fail(CheckFinding::TextUnreadable, line.text->error + ": " + kRunEndsHere);
        line.stops = true;
        return line;
    }
    if (line.text->kind != TextKind::Plain) {
        // As the run makes it: the names put into the HTML (a Markdown text rendered first), the local
        // pictures found relative to the text's folder.
        line.html = std::make_shared<const HtmlMail>(PrepareHtmlMail(
            MailBodyOfText(line.text->kind, line.text->content, record.FirstName, record.Surname),
            FolderOfPath(line.textPath)));
    }
    // The run's order: an empty text, then the first name, then the address.
    if (!line.text->neverEmpty && IsBlankLine(Personalise(line.text->content, record.FirstName, record.Surname))) {
        fail(CheckFinding::EmptyText, "Text " + Quoted(line.textPath) + " ist leer: " + kNotSent);
        return line;
    }
    if (IsBlankLine(record.FirstName)) {
        fail(CheckFinding::NoFirstName, std::string("kein Vorname: ") + kNotSent);
        return line;
    }
    if (IsBlankLine(record.Address)) {
        fail(CheckFinding::NoAddress, std::string("keine Adresse: ") + kNotSent);
        return line;
    }
    line.sends = true;
    // What the parser rejects ends the run here; what it takes goes to the server, which will probably
    // refuse it: the check counts what the run sends.
    if (const std::optional<AddressProblem> problem = CheckAddressText(Trim(record.Address), line.recipients)) {
        if (problem->rejected) {
            fail(CheckFinding::BadAddress, "Adresse " + problem->what + ": " + kRunEndsHere);
            line.stops = true;
        } else {
            add(CheckFinding::DoubtfulAddress, "Adresse " + problem->what + ": " + kProbablyRefused);
        }
    }
    // A picture that cannot be read fails the send of the line; the run goes on with the next. (An
    // address the parser rejects ends the run before.)
    const std::vector<InlinePicture> noPictures;
    for (const InlinePicture& picture : line.html && !line.stops ? line.html->pictures : noPictures) {
        const CheckFiles::Picture& file = files.LookAtPicture(picture.path);
        if (!file.readable) {
            fail(CheckFinding::PictureUnreadable, "Bild " + Quoted(picture.path) + " der Textdatei " + Quoted(line.textPath) +
                                                      (file.exists ? " ist nicht lesbar: " : " fehlt: ") + kNotSendable);
            continue;
        }
        ++line.pictures;
        line.pictureBytes += file.wireBytes;
    }
    if (NamesOwnTextFile(record.TextFile) && line.textPath != record.TextFile) {
        add(CheckFinding::TextFileMissing, "Textdatei " + Quoted(record.TextFile) + " fehlt: es geht der Standardtext hinaus");
    }
    line.attachment = Trim(record.Attachment);
    if (!line.attachment.empty()) {
        const CheckFiles::Attachment& file = files.LookAt(line.attachment);
        if (!file.exists) {
            add(CheckFinding::AttachmentMissing, "Anhang " + Quoted(line.attachment) + " fehlt: die Mail geht ohne Anhang hinaus");
        } else if (!file.readable) {
            // The run attaches it, and the send fails when the file will not open.
            fail(CheckFinding::AttachmentMissing, "Anhang " + Quoted(line.attachment) + " ist nicht lesbar: " + kNotDelivered);
        } else {
            line.attached = true;
            line.attachmentBytes = file.bytes;
            if (file.bytes > kLargeAttachmentBytes) {
                add(CheckFinding::AttachmentTooLarge,
                    "Anhang " + Quoted(line.attachment) + " ist " + Decimal(static_cast<double>(file.bytes) / (1024.0 * 1024.0)) +
                        " MB groß: die meisten Anbieter nehmen Mails über " +
                        std::to_string(kLargeAttachmentBytes / (1024 * 1024)) + " MB nicht an");
            }
        }
    }
    if (IsBlankLine(record.Subject)) add(CheckFinding::EmptySubject, "leerer Betreff: die Mail geht ohne Betreff hinaus");
    return line;
}

// The line's mail as the run builds it.
OutgoingMail BuildMail(const CheckInput& input, const std::string& port, const RecipientRecord& record,
                       const LineCheck& line, int number) {
    MailFields fields;
    fields.account = input.account;
    fields.account.port = port;
    fields.options = input.options;
    fields.recipients = record.Address;
    fields.cc = input.cc;
    fields.subject = record.Subject;
    // An HTML mail as CheckRecord made it, once for the line, the same that TransmitMessageFields makes.
    if (!line.html) fields.body = Personalise(line.text->content, record.FirstName, record.Surname);
    fields.mailNumber = number;
    // The attachment as the run would find it, from the check's one look at the file.
    OutgoingMail mail = TransmitMessageFields(fields, Trim(fields.recipients), Trim(fields.cc), Trim(fields.subject));
    if (line.html) {
        mail.bodyLines.clear();
        mail.html = line.html;
    }
    if (line.attached) mail.attachmentPath = line.attachment;
    return mail;
}

// Writes the mail as the dry run does, the attachment's content left out: its base64 lines are
// counted from the file's size instead. The pictures of an HTML mail are written with `pictures` (the
// preview shows them), else counted from their encoded lines. Gives the size of the whole mail. Throws
// EPictureUnreadable for a picture that cannot be read.
long long WriteWithoutAttachmentData(const OutgoingMail& mail, long long attachmentBytes, TIdMessage& message,
                                     const std::function<void(std::string_view)>& write, bool pictures) {
    static const auto kNoBytes = std::make_shared<const std::string>();
    message.Clear();
    FillMessage(mail, message);
    long long bytes = 0;
    for (size_t i = 0; i < message.PartList.Count(); ++i) {
        if (message.PartList[i].Kind() != TIdMessagePartKind::Attachment) continue;
        auto& part = static_cast<TIdAttachment&>(message.PartList[i]);
        if (!part.EncodedData) {
            // The part keeps the name it was made with; only the bytes come from an empty file.
            part.SourcePath = "/dev/null";
        } else if (!pictures) {
            bytes += static_cast<long long>(part.EncodedData->size());
            part.EncodedData = kNoBytes;
        }
    }
    WriteReceivedMessage(message, [&](std::string_view piece) {
        bytes += static_cast<long long>(piece.size());
        if (write) write(piece);
    });
    return bytes + (mail.attachmentPath.empty() ? 0 : Base64WireBytes(attachmentBytes));
}

// The size of a header field as the header list writes it: its folded lines, each with CR LF.
long long HeaderFieldBytes(std::string_view name, std::string_view value) {
    TIdHeaderList field;
    field.SetHeaderValue(name, value);
    long long bytes = 0;
    for (const std::string& line : field.Lines()) bytes += static_cast<long long>(line.size()) + 2;
    return bytes;
}

// A body line that forces the quoted-printable body, as the message decides it: a byte of 128 and above,
// or too long a line for the wire.
bool NeedsQuotedPrintable(const std::string& line) {
    TIdMessage probe;
    probe.Body = {line};
    return probe.NeedsQuotedPrintableBody();
}

// Measures the mails of a check as the dry run writes them. Writing each of 100 000 mails takes
// seconds, so only the first mail of each kind (text file, quoted-printable or not, attachment) is built
// by the run's code and written by the dry run's writer. The other mails of that kind differ from it
// only in the To and Subject fields and in the text lines that hold a "$", and only those are measured
// again, with the functions the writer uses: the header list's folding, the encoded words, and the
// quoted-printable encoder, which starts afresh on every line. A test holds the sum against the files of
// a real dry run.
class MailSizer {
public:
    MailSizer(const CheckInput& input, std::string port) : input_(input), port_(std::move(port)) {}

    long long Measure(const RecipientRecord& record, const LineCheck& line, int number) {
        // An HTML mail holds its text twice, as HTML and as the text part made from it, both
        // quoted-printable: no line shapes tell their size, so each is written whole (its pictures
        // counted, not written).
        if (line.html) {
            return WriteWithoutAttachmentData(BuildMail(input_, port_, record, line, number), line.attachmentBytes, message_,
                                              nullptr, false);
        }
        const Shape& shape = ShapeOf(line.textPath, line.text->content);
        std::vector<std::string> changed;  // the lines with a "$", personalised
        changed.reserve(shape.dollarLines.size());
        bool quotedPrintable = shape.otherLinesNeedQuotedPrintable;
        for (const std::string& templateLine : shape.dollarLines) {
            changed.push_back(Personalise(templateLine, record.FirstName, record.Surname));
            quotedPrintable = quotedPrintable || NeedsQuotedPrintable(changed.back());
        }
        long long varying = HeaderFieldBytes("To", FormatAddressListForHeader(line.recipients, charset_.HeaderEncoding,
                                                                               charset_.Transfer, charset_.CharSet)) +
                            SubjectBytes(Trim(record.Subject));
        for (const std::string& changedLine : changed) varying += BodyLineBytes(changedLine, quotedPrintable, line.attached);

        std::string kind = line.textPath;
        kind += quotedPrintable ? "\nqp\n" : "\n7bit\n";
        if (line.attached) kind += line.attachment;
        const auto known = fixedBytes_.find(kind);
        if (known != fixedBytes_.end()) return known->second + varying;
        const long long whole =
            WriteWithoutAttachmentData(BuildMail(input_, port_, record, line, number), line.attachmentBytes, message_,
                                       nullptr, false);
        fixedBytes_.emplace(kind, whole - varying);
        return whole;
    }

private:
    // A text file's lines: those with a "$" change from mail to mail, the others never do.
    struct Shape {
        std::vector<std::string> dollarLines;
        bool otherLinesNeedQuotedPrintable = false;
    };

    const Shape& ShapeOf(const std::string& path, const std::string& content) {
        auto found = shapes_.find(path);
        if (found != shapes_.end()) return found->second;
        Shape& shape = shapes_[path];
        for (std::string& textLine : SplitTextLines(content).lines) {
            if (textLine.find('$') != std::string::npos) {
                shape.dollarLines.push_back(std::move(textLine));
            } else {
                shape.otherLinesNeedQuotedPrintable = shape.otherLinesNeedQuotedPrintable || NeedsQuotedPrintable(textLine);
            }
        }
        return shape;
    }

    // Mailings mostly give every line the same subject: its encoded words are made once.
    long long SubjectBytes(const std::string& subject) {
        auto found = subjects_.find(subject);
        if (found != subjects_.end()) return found->second;
        const long long bytes = HeaderFieldBytes(
            "Subject", EncodeHeaderWords(subject, "", charset_.HeaderEncoding, charset_.Transfer, charset_.CharSet));
        return subjects_.emplace(subject, bytes).first->second;
    }

    // One body line as the writer writes it, the dot-stuffing undone. The text section beside an
    // attachment goes out in 7 bits unconverted when it needs no quoted-printable.
    long long BodyLineBytes(const std::string& bodyLine, bool quotedPrintable, bool attached) const {
        const bool iso2022jp = charset_.Transfer == TTransfer::iso2022jp && (quotedPrintable || !attached);
        std::string bytes = iso2022jp ? ConvertToISO2022JP(bodyLine) : bodyLine;
        if (!quotedPrintable) return static_cast<long long>(bytes.size()) + 2;
        bytes += "\r\n";
        std::string encoded;
        AppendQuotedPrintable(bytes, encoded);
        return static_cast<long long>(encoded.size());
    }

    const CheckInput& input_;
    const std::string port_;
    const THeaderCharset charset_ = ChooseHeaderCharsetForText("UTF-8");  // as FillMessage labels the mails
    TIdMessage message_;
    std::unordered_map<std::string, Shape> shapes_;
    std::unordered_map<std::string, long long> subjects_;
    std::unordered_map<std::string, long long> fixedBytes_;  // a kind's mail without its varying parts
};

std::string PlaceholderText(const std::vector<Placeholder>& unknown, int mails, const std::string& textPath) {
    std::string names;
    for (const Placeholder& placeholder : unknown) {
        if (!names.empty()) names += ", ";
        names += Quoted(placeholder.word) + " (gemeint ist wohl " + Quoted(placeholder.closest) + ")";
    }
    const std::string inMails = mails == 1 ? "in der einen Mail" : "in den " + std::to_string(mails) + " Mails";
    const bool one = unknown.size() == 1;
    return std::string(one ? "unbekannter Platzhalter " : "unbekannte Platzhalter ") + names +
           (one ? ": er bleibt so " : ": sie bleiben so ") + inMails + " mit dem Text " + Quoted(textPath) + " stehen";
}

// The size of a text's pictures in each mail: the base64 lines, which are nearly all of it.
std::string PictureSizeText(const LineCheck& line) {
    const std::string size = FormatSize(line.pictureBytes);
    if (line.pictures == 1) return "Bild der Textdatei " + Quoted(line.textPath) + ": " + size + " je Mail";
    return "Bilder der Textdatei " + Quoted(line.textPath) + ": " + std::to_string(line.pictures) + ", zusammen " + size +
           " je Mail";
}

}  // namespace

bool IsFailure(CheckFinding finding) {
    switch (finding) {
        case CheckFinding::NoFirstName:
        case CheckFinding::NoAddress:
        case CheckFinding::BadAddress:
        case CheckFinding::EmptyText:
        case CheckFinding::BadPort:
        case CheckFinding::AccountIncomplete:
        case CheckFinding::TextUnreadable:
        case CheckFinding::PictureUnreadable:
            return true;
        case CheckFinding::UnknownPlaceholder:
        case CheckFinding::TextFileMissing:
        case CheckFinding::AttachmentMissing:
        case CheckFinding::DuplicateAddress:
        case CheckFinding::EmptySubject:
        case CheckFinding::AttachmentTooLarge:
        case CheckFinding::Undecodable:
        case CheckFinding::DoubtfulAddress:
        case CheckFinding::RemotePicture:
        case CheckFinding::PictureSize:
        case CheckFinding::SentFolderMissing:
            return false;
    }
    return false;
}

bool IsNote(CheckFinding finding) { return finding == CheckFinding::PictureSize; }

bool CheckReport::Clean() const {
    return std::all_of(findings.begin(), findings.end(), [](const CheckLine& line) { return IsNote(line.finding); });
}

std::string CheckReport::SummaryText() const {
    const std::string stop = stopLine > 0 ? std::to_string(stopLine) : "";
    if (mails == 0) {
        return stop.empty() ? "Keine Mail würde gesendet." : "Keine Mail würde gesendet: der Versand bricht bei Zeile " + stop + " ab.";
    }
    const bool one = mails == 1;
    std::string text = one ? "1 Mail würde gesendet" : std::to_string(mails) + " Mails würden gesendet";
    if (!stop.empty()) text += ", bevor der Versand bei Zeile " + stop + " abbricht";
    text += (one ? ", " : ", zusammen ") + FormatSize(wireBytes);
    if (mailsPerMinute > 0) {
        return text + "; bei " + std::to_string(mailsPerMinute) + " Mails pro Minute dauert der Versand " +
               FormatDuration(duration) + ".";
    }
    return text + (one ? "; ohne Versandgrenze geht sie so schnell hinaus, wie der Server sie annimmt."
                       : "; ohne Versandgrenze gehen sie so schnell hinaus, wie der Server sie annimmt.");
}

CheckReport CheckMailing(const CheckInput& input) {
    const TextLines list = SplitTextLines(ReadWholeFile(input.listPath));
    const std::string standardTextPath = DataFilePath(input.dataFolder, kStandardTextName);
    const AccountCheck account = CheckAccount(input);
    CheckReport report;
    report.mailsPerMinute = input.options.mailsPerMinute;
    for (const Finding& finding : account.findings) report.findings.push_back({0, "", finding.kind, finding.text});

    CheckFiles files;
    MailSizer sizer(input, account.port);
    std::unordered_map<std::string, int> firstLineOf;  // address and subject: the first line with them
    struct TextUse {
        size_t finding = SIZE_MAX;  // its placeholder finding
        int mails = 0;
    };
    std::unordered_map<std::string, TextUse> textUses;
    std::unordered_set<std::string> unreadableShown, undecodableShown, notedTexts;
    for (size_t i = 0; i < list.lines.size(); ++i) {
        if (IsBlankLine(list.lines[i])) continue;
        const int number = static_cast<int>(i) + 1;
        // The line's texts as they go into the mail.
        const MailRecord mail =
            RecordForMail(SplitListLine(list.lines[i]), [&files](const std::string& path) { return files.Exists(path); });
        const RecipientRecord& record = mail.fields;
        const std::string address = Trim(record.Address);
        const LineCheck line = CheckRecord(record, standardTextPath, files);
        const auto add = [&](CheckFinding kind, std::string text) {
            report.findings.push_back({number, address, kind, std::move(text)});
        };
        for (const Finding& finding : line.findings) {
            if (finding.kind == CheckFinding::TextUnreadable && !unreadableShown.insert(line.textPath).second) continue;
            add(finding.kind, finding.text);
        }
        if (mail.undecodable) add(CheckFinding::Undecodable, std::string("Felder mit ") + kUndecodable);
        if (line.text && line.text->undecodable && undecodableShown.insert(line.textPath).second)
            add(CheckFinding::Undecodable, "Text " + Quoted(line.textPath) + " mit " + kUndecodable);
        // What the pictures of a text mean, at the first line that takes it (all its lines have the
        // same pictures, unless a placeholder stands in a picture's name).
        if (line.html && notedTexts.insert(line.textPath).second) {
            for (const std::string& url : line.html->remotePictures) {
                add(CheckFinding::RemotePicture,
                    "Bild " + Quoted(url) + " der Textdatei " + Quoted(line.textPath) + " kommt aus dem Netz: " + kOftenBlocked);
            }
            if (line.pictures > 0) add(CheckFinding::PictureSize, PictureSizeText(line));
        }
        // Without a usable account the run ends before any line, so no line is where it stops.
        if (line.stops && account.canSend && report.stopLine == 0) report.stopLine = number;
        if (!line.sends) continue;

        TextUse& use = textUses[line.textPath];
        if (use.mails++ == 0 && !line.text->unknown.empty()) {
            use.finding = report.findings.size();
            add(CheckFinding::UnknownPlaceholder, "");
        }
        const auto [first, fresh] = firstLineOf.emplace(LowerAscii(address) + '\n' + Trim(record.Subject), number);
        if (!fresh) {
            add(CheckFinding::DuplicateAddress, "dieselbe Adresse mit demselben Betreff wie Zeile " +
                                                    std::to_string(first->second) + ": die Mail geht zweimal an sie");
        }
        if (account.canSend && report.stopLine == 0) {
            ++report.mails;
            report.wireBytes += sizer.Measure(record, line, number);
        }
    }
    for (const auto& [path, use] : textUses) {
        if (use.finding == SIZE_MAX) continue;
        report.findings[use.finding].text = PlaceholderText(files.ReadText(path).unknown, use.mails, path);
    }
    report.duration = std::chrono::ceil<std::chrono::seconds>(SendRate(input.options.mailsPerMinute).TimeFor(report.mails));
    return report;
}

MailPreview PreviewRecord(const CheckInput& input, const RecipientRecord& listRecord, int number) {
    CheckFiles files;
    const RecipientRecord record = RecordForMail(listRecord).fields;
    const AccountCheck account = CheckAccount(input);
    const LineCheck line = CheckRecord(record, DataFilePath(input.dataFolder, kStandardTextName), files);
    MailPreview preview;
    // Why no mail would go: the line's own reason first, then the account's.
    preview.problem = line.reason;
    if (preview.problem.empty() && !account.findings.empty()) preview.problem = account.findings.front().text;
    if (line.attached) {
        preview.attachmentName = MailTextOf(FileNameOfPath(line.attachment));
        preview.attachmentBytes = line.attachmentBytes;
    }
    try {
        const OutgoingMail mail = BuildMail(input, account.port, record, line, number);
        TIdMessage message;
        std::string written;
        preview.wireBytes = WriteWithoutAttachmentData(
            mail, line.attachmentBytes, message, [&](std::string_view piece) { written += piece; }, true);
        ReadMail read = ReadWrittenMail(written);
        preview.from = read.from;
        preview.to = read.to;
        preview.cc = read.cc;
        preview.subject = read.subject;
        preview.body = read.body;
        preview.html = std::move(read.html);
        preview.pictures = std::move(read.pictures);
        if (line.html) preview.remotePictures = line.html->remotePictures;
    } catch (const std::exception&) {
        // An address the parser rejects, a picture that cannot be read: no mail can be written, so the
        // fields show what the line holds.
        const std::string charset = "UTF-8";  // every text of a mail is by now
        preview.from = ToUtf8(Trim(input.account.user), charset);
        preview.to = ToUtf8(Trim(record.Address), charset);
        preview.cc = ToUtf8(Trim(input.cc), charset);
        preview.subject = ToUtf8(Trim(record.Subject), charset);
        std::string body;
        const std::string text = line.text->read ? Personalise(line.text->content, record.FirstName, record.Surname) : "";
        for (const std::string& bodyLine : SplitTextLines(text).lines) {
            body += (body.empty() ? "" : "\n") + bodyLine;
        }
        preview.body = ToUtf8(body, charset);
        preview.wireBytes = 0;
        if (line.html) {
            preview.body = line.html->text.substr(0, line.html->text.find_last_not_of('\n') + 1);
            preview.html = line.html->html;
            preview.remotePictures = line.html->remotePictures;
            for (const InlinePicture& picture : line.html->pictures) {
                try {
                    preview.pictures.emplace(picture.contentId, ReadWholeFile(picture.path));
                } catch (const EFileError&) {
                    // The missing picture the problem names.
                }
            }
        }
    }
    return preview;
}

MailPreview PreviewLine(const CheckInput& input, int number) {
    const TextLines list = SplitTextLines(ReadWholeFile(input.listPath));
    MailPreview preview;
    if (number < 1 || static_cast<size_t>(number) > list.lines.size()) {
        preview.problem = "Die Liste hat keine Zeile " + std::to_string(number) + ".";
        return preview;
    }
    const std::string& line = list.lines[static_cast<size_t>(number) - 1];
    if (IsBlankLine(line)) {
        preview.problem = "Zeile " + std::to_string(number) + " ist leer: sie wird übersprungen";
        return preview;
    }
    return PreviewRecord(input, SplitListLine(line), number);
}
