#include "mailing/list_charset.h"

#include "mailing/text_codec.h"

void ListCharset::Inspect(const RecipientRecord& record) {
    if (legacy_) return;
    for (int k = 1; k <= RecipientRecord::kFieldCount; ++k) {
        if (!IsPathField(k) && DecodeLocalText(record.Field(k)).legacy) {
            legacy_ = true;
            return;
        }
    }
}

QString ListCharset::Decode(std::string_view bytes, int field) {
    QString text = DecodeLocalText(bytes).text;
    if (EncodeNew(text, field) != bytes) remembered_.insert(text, std::string(bytes));
    return text;
}

std::string ListCharset::EncodeNew(const QString& text, int field) const {
    return EncodeLocalText(text, legacy_ && !IsPathField(field));
}

bool ListCharset::CanHold(const QString& text, int field) const {
    if (remembered_.contains(text)) return true;
    if (!legacy_ || IsPathField(field)) return true;
    return Windows1252Holds(text);
}

std::string ListCharset::Encode(const QString& text, int field) const {
    if (const auto found = remembered_.constFind(text); found != remembered_.cend()) return *found;
    if (!CanHold(text, field)) return EncodeLocalText(text, false);
    return EncodeNew(text, field);
}
