#include "ui/save_charset.h"

#include "mailing/text_codec.h"
#include "ui/services.h"

bool MaySaveWithoutLoss(const QString& text, bool& legacy) {
    // Read back the way the program reads it: it must come back as the same text.
    if (!legacy || DecodeLocalText(EncodeLocalText(text, true)).text == text) return true;
    if (!services::Messages().Question(QString::fromUtf8(kSaveAsUtf8Question))) return false;
    legacy = false;
    return true;
}
