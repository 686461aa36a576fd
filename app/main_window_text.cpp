// Opening and saving the message text ("Text öffnen", "Text speichern"). A text's kind follows its file's
// ending (HTML, Markdown, plain): the dialogs offer message texts of every kind, and saving keeps a
// text's kind. A plain text is saved as it always was.

#include "app/main_window.h"

#include "mailing/file_io.h"
#include "mailing/text_codec.h"
#include "mailing/text_file_kinds.h"
#include "ui/save_charset.h"
#include "ui/services.h"

#include <QFileInfo>
#include <QPlainTextEdit>

namespace {

const char* const kReplaceFile = "Die Datei \"%1\" gibt es schon. Ersetzen?";

}  // namespace

void TFormNewMail::BitBtn1Click() {
    // Any name is accepted, also one of a file that does not exist: the load then reports it.
    if (!MayReplaceMessageText()) return;
    const auto chosen = services::Dialogs().OpenFile(this, QString::fromUtf8(OpenTextFilter()), FromLocal(dataFolder_));
    if (!chosen || chosen->isEmpty()) return;
    currentTextFile_ = *chosen;
    Memo2->clear();
    LoadMessageFile(*chosen);
}

void TFormNewMail::BitBtn2Click() {
    const QString text = Memo2->toPlainText();
    if (text.isEmpty() || !MaySaveWithoutLoss(text, currentTextLegacy_)) return;
    // Proposes the file the text came from; without one the dialog opens where it was left. An HTML or
    // Markdown text offers its kind's files first and keeps its ending.
    const TextKind kind = TextKindOfPath(ToLocal(currentTextFile_));
    const auto chosen = services::Dialogs().SaveFile(this, QString::fromUtf8(SaveTextFilter(kind)), currentTextFile_);
    if (!chosen || chosen->isEmpty()) return;
    const QString path = FromLocal(WithTextEnding(ToLocal(*chosen), kind));
    // The dialog asked before replacing the name as typed, not the name with the ending added.
    if (path != *chosen && FileExists(ToLocal(path)) &&
        !services::Messages().Question(QString::fromUtf8(kReplaceFile).arg(QFileInfo(path).fileName())))
        return;
    currentTextFile_ = path;
    WriteFileAtomic(ToLocal(path), FieldTextToFile(text, currentTextLegacy_));
    Memo2->document()->setModified(false);
}
