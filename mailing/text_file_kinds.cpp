#include "mailing/text_file_kinds.h"

namespace {

constexpr const char* kAllFiles = "Alle Dateien|*.*";
constexpr const char* kHtmlFiles = "HTML|*.html;*.htm";
constexpr const char* kMarkdownFiles = "Markdown|*.md";

}  // namespace

std::string OpenTextFilter() {
    return std::string("Texte|*.txt;*.html;*.htm;*.md|") + kHtmlFiles + "|" + kMarkdownFiles + "|" + kAllFiles;
}

std::string SaveTextFilter(TextKind kind) {
    switch (kind) {
        case TextKind::Plain:
            return {};
        case TextKind::Html:
            return std::string(kHtmlFiles) + "|" + kAllFiles;
        case TextKind::Markdown:
            return std::string(kMarkdownFiles) + "|" + kAllFiles;
    }
    return {};
}

std::string WithTextEnding(const std::string& path, TextKind kind) {
    if (kind == TextKind::Plain) return path;
    const size_t nameStart = path.rfind('/') == std::string::npos ? 0 : path.rfind('/') + 1;
    // A dot that starts the name makes a hidden file, not an ending.
    if (path.find('.', nameStart + 1) != std::string::npos || nameStart == path.size()) return path;
    return path + (kind == TextKind::Html ? ".html" : ".md");
}
