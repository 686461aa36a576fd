#include "mailing/html_text.h"

#include "mailing/mailing_run.h"

#include <gumbo.h>
#include <md4c-html.h>
#include <md4c.h>

#include <algorithm>
#include <cstring>
#include <memory>

namespace {

bool EndsWithIgnoringCase(std::string_view text, std::string_view ending) {
    if (text.size() < ending.size()) return false;
    return std::equal(ending.begin(), ending.end(), text.end() - static_cast<std::ptrdiff_t>(ending.size()),
                      [](char a, char b) {
                          auto lower = [](char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c + 32) : c; };
                          return lower(a) == lower(b);
                      });
}

// CommonMark with the tables and strikethrough of GitHub's dialect and its links written as bare URLs.
constexpr unsigned kMarkdownFlags = MD_DIALECT_GITHUB;

constexpr const char* kDocumentStart =
    "<!DOCTYPE html>\n<html>\n<head>\n<meta charset=\"utf-8\">\n</head>\n<body>\n";
constexpr const char* kDocumentEnd = "</body>\n</html>\n";

// The parsed document, destroyed with the holder.
struct ParsedHtml {
    explicit ParsedHtml(std::string_view html)
        : output(gumbo_parse_with_options(&kGumboDefaultOptions, html.data(), html.size())) {}
    ~ParsedHtml() { gumbo_destroy_output(&kGumboDefaultOptions, output); }
    ParsedHtml(const ParsedHtml&) = delete;
    ParsedHtml& operator=(const ParsedHtml&) = delete;
    GumboOutput* output;
};

template <class Visit>
void ForEachElement(const GumboNode* node, const Visit& visit) {
    if (node->type != GUMBO_NODE_ELEMENT && node->type != GUMBO_NODE_TEMPLATE && node->type != GUMBO_NODE_DOCUMENT) {
        return;
    }
    if (node->type != GUMBO_NODE_DOCUMENT) visit(node->v.element);
    const GumboVector& children = node->type == GUMBO_NODE_DOCUMENT ? node->v.document.children : node->v.element.children;
    for (unsigned i = 0; i < children.length; ++i) ForEachElement(static_cast<const GumboNode*>(children.data[i]), visit);
}

const char* AttributeValue(const GumboElement& element, const char* name) {
    const GumboAttribute* attribute = gumbo_get_attribute(&element.attributes, name);
    return attribute ? attribute->value : nullptr;
}

bool IsWhitespace(char c) { return c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == '\f'; }

// Builds the text part: whitespace collapsed as a browser shows it, line breaks asked for by the
// elements and written only once text follows them.
class TextWriter {
public:
    // At least this many line breaks before the next text: 1 a new line, 2 an empty line between.
    void Break(int count) { pendingBreaks_ = std::max(pendingBreaks_, count); }

    // Text as HTML shows it: runs of whitespace as one blank, none at the start of a line.
    void Text(std::string_view text) {
        for (char c : text) {
            if (IsWhitespace(c)) {
                pendingSpace_ = true;
                continue;
            }
            Put(std::string_view(&c, 1));
        }
    }

    // Text as it stands (preformatted text, a list item's dash): its line breaks and blanks kept.
    void Verbatim(std::string_view text) {
        size_t start = 0;
        while (start <= text.size()) {
            const size_t end = std::min(text.find('\n', start), text.size());
            std::string_view line = text.substr(start, end - start);
            if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
            if (!line.empty()) Put(line, false);
            if (end == text.size()) break;
            out_ += '\n';
            pendingSpace_ = false;
            start = end + 1;
        }
    }

    size_t Size() const { return out_.size(); }
    std::string_view Since(size_t position) const { return std::string_view(out_).substr(position); }

    std::string Result() {
        while (!out_.empty() && (out_.back() == ' ' || out_.back() == '\n')) out_.pop_back();
        const size_t first = out_.find_first_not_of('\n');
        return first == std::string::npos ? std::string() : out_.substr(first) + "\n";
    }

private:
    void Put(std::string_view text, bool spaceBefore = true) {
        if (!out_.empty() && pendingBreaks_ > 0) {
            while (!out_.empty() && out_.back() == ' ') out_.pop_back();
            int have = 0;
            for (auto it = out_.rbegin(); it != out_.rend() && *it == '\n' && have < 2; ++it) ++have;
            for (; have < pendingBreaks_; ++have) out_ += '\n';
            pendingSpace_ = false;
        }
        pendingBreaks_ = 0;
        const bool lineStart = out_.empty() || out_.back() == '\n';
        if (pendingSpace_ && spaceBefore && !lineStart && out_.back() != ' ') out_ += ' ';
        pendingSpace_ = false;
        out_.append(text);
    }

    std::string out_;
    int pendingBreaks_ = 0;
    bool pendingSpace_ = false;
};

bool IsBlock(GumboTag tag) {
    switch (tag) {
        case GUMBO_TAG_DIV: case GUMBO_TAG_TR: case GUMBO_TAG_DT: case GUMBO_TAG_DD: case GUMBO_TAG_SECTION:
        case GUMBO_TAG_ARTICLE: case GUMBO_TAG_HEADER: case GUMBO_TAG_FOOTER: case GUMBO_TAG_NAV:
        case GUMBO_TAG_MAIN: case GUMBO_TAG_ASIDE: case GUMBO_TAG_ADDRESS: case GUMBO_TAG_FIGURE:
        case GUMBO_TAG_FIGCAPTION: case GUMBO_TAG_CENTER: case GUMBO_TAG_CAPTION: case GUMBO_TAG_LI:
            return true;
        default:
            return false;
    }
}

// Blocks that stand apart from the text around them by an empty line.
bool IsParagraph(GumboTag tag) {
    switch (tag) {
        case GUMBO_TAG_P: case GUMBO_TAG_H1: case GUMBO_TAG_H2: case GUMBO_TAG_H3: case GUMBO_TAG_H4:
        case GUMBO_TAG_H5: case GUMBO_TAG_H6: case GUMBO_TAG_UL: case GUMBO_TAG_OL: case GUMBO_TAG_DL:
        case GUMBO_TAG_TABLE: case GUMBO_TAG_BLOCKQUOTE: case GUMBO_TAG_PRE:
            return true;
        default:
            return false;
    }
}

bool IsLeftOut(GumboTag tag) {
    return tag == GUMBO_TAG_HEAD || tag == GUMBO_TAG_SCRIPT || tag == GUMBO_TAG_STYLE || tag == GUMBO_TAG_TITLE ||
           tag == GUMBO_TAG_TEMPLATE || tag == GUMBO_TAG_NOSCRIPT;
}

// A link's target is worth writing out unless the text says it already.
bool LinkTextNamesTarget(std::string_view text, std::string_view href) {
    auto trimmed = [](std::string_view s) {
        while (!s.empty() && IsWhitespace(s.front())) s.remove_prefix(1);
        while (!s.empty() && IsWhitespace(s.back())) s.remove_suffix(1);
        return s;
    };
    text = trimmed(text);
    href = trimmed(href);
    if (text == href) return true;
    if (href.substr(0, 7) == "mailto:" && text == href.substr(7)) return true;
    return false;
}

class TextOfDocument {
public:
    std::string Of(const GumboNode* root) {
        Node(root);
        return writer_.Result();
    }

private:
    void Children(const GumboVector& children) {
        for (unsigned i = 0; i < children.length; ++i) Node(static_cast<const GumboNode*>(children.data[i]));
    }

    void Node(const GumboNode* node) {
        switch (node->type) {
            case GUMBO_NODE_DOCUMENT:
                Children(node->v.document.children);
                return;
            case GUMBO_NODE_TEXT:
            case GUMBO_NODE_CDATA:
            case GUMBO_NODE_WHITESPACE:
                if (preformatted_ > 0) {
                    writer_.Verbatim(node->v.text.text);
                } else {
                    writer_.Text(NonBreakingSpacesAsBlanks(node->v.text.text));
                }
                return;
            case GUMBO_NODE_ELEMENT:
                Element(node->v.element);
                return;
            default:
                return;  // comments, templates
        }
    }

    static std::string NonBreakingSpacesAsBlanks(std::string_view text) {
        std::string out;
        out.reserve(text.size());
        for (size_t i = 0; i < text.size(); ++i) {
            if (text[i] == '\xC2' && i + 1 < text.size() && text[i + 1] == '\xA0') {
                out += '\x01';  // a blank that whitespace collapsing must keep
                ++i;
            } else {
                out += text[i];
            }
        }
        return out;
    }

    void Element(const GumboElement& element) {
        const GumboTag tag = element.tag;
        if (IsLeftOut(tag)) return;
        switch (tag) {
            case GUMBO_TAG_BR:
                writer_.Verbatim("\n");
                return;
            case GUMBO_TAG_HR:
                writer_.Break(1);
                writer_.Verbatim("----------");
                writer_.Break(1);
                return;
            case GUMBO_TAG_IMG:
                if (const char* alt = AttributeValue(element, "alt")) writer_.Text(alt);
                return;
            default:
                break;
        }
        const bool paragraph = IsParagraph(tag) && !(listDepth_ > 0 && (tag == GUMBO_TAG_UL || tag == GUMBO_TAG_OL));
        if (paragraph) writer_.Break(2);
        if (IsBlock(tag) || tag == GUMBO_TAG_UL || tag == GUMBO_TAG_OL) writer_.Break(1);
        if (tag == GUMBO_TAG_LI) writer_.Verbatim(std::string(2 * static_cast<size_t>(std::max(listDepth_ - 1, 0)), ' ') + "- ");
        if ((tag == GUMBO_TAG_TD || tag == GUMBO_TAG_TH) && cellInRow_++ > 0) writer_.Verbatim("\t");
        if (tag == GUMBO_TAG_TR) cellInRow_ = 0;

        if (tag == GUMBO_TAG_UL || tag == GUMBO_TAG_OL) ++listDepth_;
        if (tag == GUMBO_TAG_PRE) ++preformatted_;
        const size_t start = writer_.Size();
        Children(element.children);
        if (tag == GUMBO_TAG_PRE) --preformatted_;
        if (tag == GUMBO_TAG_UL || tag == GUMBO_TAG_OL) --listDepth_;

        if (tag == GUMBO_TAG_A) {
            const char* href = AttributeValue(element, "href");
            if (href && *href && href[0] != '#' && !LinkTextNamesTarget(writer_.Since(start), href)) {
                writer_.Text(writer_.Size() > start ? " <" : "<");
                writer_.Verbatim(std::string(href) + ">");
            }
        }
        if (paragraph) writer_.Break(2);
        if (IsBlock(tag) || tag == GUMBO_TAG_UL || tag == GUMBO_TAG_OL) writer_.Break(1);
    }

    TextWriter writer_;
    int listDepth_ = 0;
    int preformatted_ = 0;
    int cellInRow_ = 0;
};

}  // namespace

TextKind TextKindOfPath(std::string_view path) {
    if (EndsWithIgnoringCase(path, ".html") || EndsWithIgnoringCase(path, ".htm")) return TextKind::Html;
    if (EndsWithIgnoringCase(path, ".md")) return TextKind::Markdown;
    return TextKind::Plain;
}

std::string EscapeHtml(std::string_view text) {
    std::string out;
    out.reserve(text.size());
    for (char c : text) {
        switch (c) {
            case '&': out += "&amp;"; break;
            case '<': out += "&lt;"; break;
            case '>': out += "&gt;"; break;
            case '"': out += "&quot;"; break;
            // Not needed in text or in double quotes, but an attribute in single quotes ends at it.
            case '\'': out += "&#39;"; break;
            default: out += c;
        }
    }
    return out;
}

std::string MarkdownToHtml(std::string_view markdown) {
    std::string html = kDocumentStart;
    auto append = [](const MD_CHAR* text, MD_SIZE size, void* userdata) {
        static_cast<std::string*>(userdata)->append(text, size);
    };
    // md4c renders any input; it fails only when memory runs out.
    if (md_html(markdown.data(), static_cast<MD_SIZE>(markdown.size()), append, &html, kMarkdownFlags,
                MD_HTML_FLAG_SKIP_UTF8_BOM) != 0) {
        throw std::bad_alloc();
    }
    return html + kDocumentEnd;
}

std::string MailBodyOfText(TextKind kind, const std::string& text, const std::string& firstName,
                           const std::string& surname) {
    switch (kind) {
        case TextKind::Plain:
            return Personalise(text, firstName, surname);
        case TextKind::Html:
            return Personalise(text, EscapeHtml(firstName), EscapeHtml(surname));
        case TextKind::Markdown:
            // The placeholders are plain text to the renderer and come through it unchanged.
            return Personalise(MarkdownToHtml(text), EscapeHtml(firstName), EscapeHtml(surname));
    }
    return text;
}

std::vector<ImageSource> ImageSources(std::string_view html) {
    ParsedHtml parsed(html);
    std::vector<ImageSource> sources;
    ForEachElement(parsed.output->document, [&](const GumboElement& element) {
        if (element.tag != GUMBO_TAG_IMG) return;
        const GumboAttribute* src = gumbo_get_attribute(&element.attributes, "src");
        // Only an attribute written in the text has a place there (not one the parser made up).
        if (!src || src->original_value.length == 0 || src->original_value.data < html.data() ||
            src->original_value.data >= html.data() + html.size()) {
            return;
        }
        const auto begin = static_cast<size_t>(src->original_value.data - html.data());
        sources.push_back({src->value, begin, begin + src->original_value.length});
    });
    return sources;
}

std::string TextOfHtml(std::string_view html) {
    ParsedHtml parsed(html);
    std::string text = TextOfDocument().Of(parsed.output->document);
    std::replace(text.begin(), text.end(), '\x01', ' ');
    return text;
}
