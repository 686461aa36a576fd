#include "tests/support/qt/fake_services.h"

#include <gtest/gtest.h>

FakeMessageBoxes::FakeMessageBoxes() { services::SetMessages(this); }
FakeMessageBoxes::~FakeMessageBoxes() { services::SetMessages(nullptr); }

void FakeMessageBoxes::Warning(const QString& text) { shown.push_back({QStringLiteral("Warnung"), text}); }
void FakeMessageBoxes::Error(const QString& text) { shown.push_back({QStringLiteral("Fehler"), text}); }
void FakeMessageBoxes::Information(const QString& text) {
    shown.push_back({QStringLiteral("Informationen"), text});
}
bool FakeMessageBoxes::Question(const QString& text) {
    shown.push_back({QStringLiteral("Bestätigung"), text});
    if (answers.empty()) {
        ADD_FAILURE() << "unexpected question: " << text.toStdString();
        return false;
    }
    bool answer = answers.front();
    answers.pop_front();
    return answer;
}
int FakeMessageBoxes::Choose(const QString& text, const QStringList& buttons) {
    shown.push_back({QStringLiteral("Bestätigung"), text});
    offered.push_back(buttons);
    if (choices.empty()) {
        ADD_FAILURE() << "unexpected choice: " << text.toStdString();
        return -1;
    }
    const int choice = choices.front();
    choices.pop_front();
    return choice;
}
void FakeMessageBoxes::ErrorWithCaption(const QString& caption, const QString& text) {
    shown.push_back({caption, text});
}
bool FakeMessageBoxes::ErrorWithCheckBox(const QString& text, const QString& checkText) {
    shown.push_back({QStringLiteral("Fehler"), text});
    checkBoxes << checkText;
    return tickReportLater;
}
void FakeMessageBoxes::AnswerQuestions(std::initializer_list<bool> list) {
    answers.insert(answers.end(), list.begin(), list.end());
}

FakeFileDialogs::FakeFileDialogs() { services::SetDialogs(this); }
FakeFileDialogs::~FakeFileDialogs() { services::SetDialogs(nullptr); }

std::optional<QString> FakeFileDialogs::OpenFile(QWidget*, const QString& filter, const QString& initialPath) {
    return Next(false, filter, initialPath);
}
std::optional<QString> FakeFileDialogs::SaveFile(QWidget*, const QString& filter, const QString& initialPath) {
    return Next(true, filter, initialPath);
}
std::optional<QString> FakeFileDialogs::Next(bool save, const QString& filter, const QString& initialPath) {
    calls.push_back({save, filter, initialPath});
    if (results.empty()) {
        ADD_FAILURE() << "unexpected file dialog";
        return std::nullopt;
    }
    auto result = results.front();
    results.pop_front();
    return result;
}

FakeClipboard::FakeClipboard() { services::SetClipboard(this); }
FakeClipboard::~FakeClipboard() { services::SetClipboard(nullptr); }

FakeCursor::FakeCursor() { services::SetCursor(this); }
FakeCursor::~FakeCursor() { services::SetCursor(nullptr); }

FakeLauncher::FakeLauncher() { services::SetLauncher(this); }
FakeLauncher::~FakeLauncher() { services::SetLauncher(nullptr); }
