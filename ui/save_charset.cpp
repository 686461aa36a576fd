#include "ui/save_charset.h"

#include "mailing/text_codec.h"
#include "ui/services.h"

bool MaySaveWithoutLoss(const QString& text, bool& legacy) {
    if (!legacy || Windows1252Holds(text)) return true;
    if (!services::Messages().Question(QString::fromUtf8(kSaveAsUtf8Question))) return false;
    legacy = false;
    return true;
}
