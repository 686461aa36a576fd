#pragma once
// The pictures of an HTML mail. Mail programs block pictures from the web by default, so a picture the
// HTML takes from a file of this computer goes inside the mail, as a part of its own that the HTML names
// by Content-ID ("cid:", RFC 2392). Pictures from the web stay as they are.

#include <memory>
#include <optional>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

// A picture of the HTML that cannot be read: the mail of that line cannot go as written. The German text
// names the file.
class EPictureUnreadable : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// The local file an <img src> names: a path relative to `folder` (the folder of the HTML or Markdown file,
// with a trailing "/"), an absolute path, or a "file:" URL; nothing for a picture from the web ("http:",
// "https:", "//"), one already inside the mail ("cid:", "data:") or any other URL.
std::optional<std::string> LocalPicturePath(std::string_view src, const std::string& folder);
// A picture the recipient's program fetches from the web.
bool IsRemotePicture(std::string_view src);

struct InlinePicture {
    std::string path;
    std::string contentId;  // without the angle brackets
};

// An HTML mail as it goes out: the HTML with the src of every local picture turned into "cid:" (the rest
// of it byte for byte as written), its text part, and the pictures, each file once.
struct HtmlMail {
    std::string html;
    std::string text;
    std::vector<InlinePicture> pictures;
    std::vector<std::string> remotePictures;  // the src values, each once
};
HtmlMail PrepareHtmlMail(std::string_view html, const std::string& folder);

// A picture file read and encoded for the wire.
struct EncodedPicture {
    std::string contentType;  // by the file's first bytes, else by its name
    long long bytes = 0;      // the file's size
    std::shared_ptr<const std::string> base64;  // lines of 76 characters, each ending in CR LF
};

// The picture at `path`, read and encoded once for as long as the file stays the same (its size and
// modification time), so that a run with a thousand mails reads its logo once. Throws EPictureUnreadable.
std::shared_ptr<const EncodedPicture> LoadPicture(const std::string& path);
