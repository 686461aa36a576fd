#pragma once
// How the list editor turns the fields of a list file into cell texts and back, without losing a byte of
// a field that was not changed and without losing a character that was typed.
//
// Reading: a field is UTF-8 when its bytes are valid UTF-8 and Windows-1252 otherwise, field by field,
// as the main window shows the fields of a line during a run.
//
// Writing new text: the list has one charset for it. It is Windows-1252 when one of its text fields (any
// field but the two paths) was not UTF-8, a list brought over from Windows, and UTF-8 otherwise. The paths
// in "Textdatei" and "Anhang" are the exception: the run opens them with their bytes, so a path always goes
// out in the bytes the file system names it with (UTF-8 here), whatever the list's charset.
//
// Unchanged fields: a cell does not carry its bytes through sorting, deleting and pasting. Instead the
// charset remembers, for every text read from the file whose bytes the rules above would not give back
// (a Windows-1252 path, a UTF-8 name in a Windows-1252 list), the bytes it came from, and a cell holding
// that text is written with them. Every remembered byte string reads back as its text, so this can never
// write a cell as other text, and no per-cell state has to travel with the rows.

#include "mailing/list_file.h"

#include <QHash>
#include <QString>

#include <string>
#include <string_view>

class ListCharset {
public:
    // Fields 5 and 7: the message text file and the attachment, opened by the run with their bytes.
    static bool IsPathField(int field) { return field == 5 || field == 7; }

    // Looks at every line's fields before any is decoded: one text field that is not UTF-8 makes the list
    // a Windows-1252 list.
    void Inspect(const RecipientRecord& record);
    // The text of field `field` (1 to 7), remembering its bytes when `Encode` would not give them back.
    QString Decode(std::string_view bytes, int field);

    // Whether `text` can go into field `field` in this list's charset and read back as the same text.
    bool CanHold(const QString& text, int field) const;
    // The bytes of a cell. A text this charset cannot hold goes out as UTF-8 rather than with a character
    // lost; callers ask the user first (`CanHold`).
    std::string Encode(const QString& text, int field) const;

    // Windows-1252 for new text.
    bool Legacy() const { return legacy_; }
    // From now on new text goes out as UTF-8: the user chose to save a Windows-1252 list as UTF-8.
    void SwitchToUtf8() { legacy_ = false; }

private:
    std::string EncodeNew(const QString& text, int field) const;

    bool legacy_ = false;
    QHash<QString, std::string> remembered_;
};
