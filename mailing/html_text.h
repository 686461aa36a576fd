#pragma once
// HTML and Markdown message texts. A text file whose name ends in ".html" or ".htm" is HTML, one ending in
// ".md" is Markdown (CommonMark with tables and strikethrough); every other file is plain text and goes
// out as it always did. An HTML or Markdown text goes out as HTML with a plain text part made from it.
//
// The libraries do the parsing: md4c renders Markdown (its HTML renderer follows CommonMark to the
// letter, and Debian keeps it), gumbo parses the HTML the way browsers do (HTML5), so that what it
// finds is what the recipient's program will see. Nothing here parses HTML or Markdown by hand.

#include <string>
#include <string_view>
#include <vector>

enum class TextKind { Plain, Html, Markdown };

// By the file name's ending, without regard to case.
TextKind TextKindOfPath(std::string_view path);

// "&", "<", ">" and both quotes as character references, so that a text is text in HTML, also inside
// an attribute value.
std::string EscapeHtml(std::string_view text);

// The Markdown text as a whole HTML document in UTF-8.
std::string MarkdownToHtml(std::string_view markdown);

// The text that goes into the mail for a message text of this kind, with the recipient's names in place
// of the placeholders: a plain text as Personalise makes it; HTML with the names escaped; Markdown
// rendered first and the escaped names put into the HTML, so that a name never becomes markup of either.
// The result is HTML for the kinds other than Plain.
std::string MailBodyOfText(TextKind kind, const std::string& text, const std::string& firstName,
                           const std::string& surname);

// One src attribute of an <img> element: its value as the browser reads it (character references
// resolved) and the place of the value in the HTML's bytes, its quotes included.
struct ImageSource {
    std::string value;
    size_t begin = 0;
    size_t end = 0;
};
std::vector<ImageSource> ImageSources(std::string_view html);

// The text part of an HTML mail: the text without tags and with the character references resolved;
// paragraphs and line breaks kept, list items led by "- ", links as "text <url>", pictures by their alt
// text, head, scripts and styles left out. Lines end in "\n".
std::string TextOfHtml(std::string_view html);
