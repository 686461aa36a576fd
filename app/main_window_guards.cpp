// What the main window asks before it loses or misdirects the user's work: the recipient, subject,
// attachment and text the user had before a run (the run shows each line in those fields), a test mail
// to one of the list's recipients, account fields and options not saved when the window closes, and an
// unsaved message text before the standard text replaces it.

#include "app/main_window.h"

#include "mailing/data_folder.h"
#include "mailing/list_address.h"
#include "mailing/text_codec.h"
#include "ui/services.h"

#include <QLineEdit>
#include <QPlainTextEdit>

namespace {

const char* const kTestToRecipient = "%1 ist ein Empfänger der Liste (Zeile %2). Testmail trotzdem senden?";
const char* const kSaveChanges = "Änderungen speichern?";
const char* const kAccountChanged =
    "Die Kontodaten oder die Versandoptionen wurden geändert und noch nicht gespeichert.";
const char* const kTextChanged = "Der Text im Messagefeld ist noch nicht gespeichert.";

// "Ja", "Nein", "Abbrechen": 0, 1, anything else (the box closed) as "Abbrechen".
int AskSaveChanges(const char* what) {
    return services::Messages().Choose(QString::fromUtf8(kSaveChanges) + QStringLiteral("\n\n") + QString::fromUtf8(what),
                                       {QStringLiteral("&Ja"), QStringLiteral("&Nein"), QStringLiteral("Abbrechen")});
}

}  // namespace

TFormNewMail::UserFields TFormNewMail::TakeUserFields() const {
    return {EditMail->text(), EditSubject->text(), EditPatch->text(), Memo2->toPlainText(), currentTextFile_,
            currentTextLegacy_, Memo2->document()->isModified()};
}

void TFormNewMail::PutBackUserFields(const UserFields& fields) {
    EditMail->setText(fields.mail);
    EditSubject->setText(fields.subject);
    EditPatch->setText(fields.attachment);
    Memo2->setPlainText(fields.message);
    Memo2->document()->setModified(fields.modified);
    currentTextFile_ = fields.textFile;
    currentTextLegacy_ = fields.legacy;
}

bool TFormNewMail::ConfirmTestRecipient() {
    const int line = ListLineWithAddress(DataFilePath(dataFolder_, kListFileName), ToLocal(EditMail->text()));
    if (line == 0) return true;
    return services::Messages().Question(QString::fromUtf8(kTestToRecipient).arg(EditMail->text().trimmed()).arg(line));
}

void TFormNewMail::RememberSavedAccount() {
    savedAccount_ = AccountFields();
    savedOptions_ = sendOptions_;
}

bool TFormNewMail::MayCloseWithAccount() {
    if (AccountFields() == savedAccount_ && sendOptions_ == savedOptions_) return true;
    const int choice = AskSaveChanges(kAccountChanged);
    if (choice == 1) return true;
    // Closes only when the save went through; its error was shown.
    return choice == 0 && RunGuarded([this] { SaveAccount(); });
}

bool TFormNewMail::MayReplaceMessageText() {
    if (!Memo2->document()->isModified() || Memo2->toPlainText().trimmed().isEmpty()) return true;
    const int choice = AskSaveChanges(kTextChanged);
    if (choice == 1) return true;
    if (choice != 0) return false;
    // "Text speichern" as the button does; a cancelled or failed save keeps the text.
    RunGuarded([this] { BitBtn2Click(); });
    return !Memo2->document()->isModified();
}
