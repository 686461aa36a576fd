#pragma once
// Scripted stand-ins for the user-facing services. Each records what the program showed or asked and
// answers from a script; installing happens in the constructor, the Qt services come back in the
// destructor. An unexpected question or dialog fails the test instead of blocking it.

#include "ui/services.h"

#include <QString>
#include <QStringList>

#include <deque>
#include <functional>
#include <optional>
#include <vector>

struct ShownMessage {
    QString kind;  // "Warnung", "Fehler", "Informationen", "Bestätigung" or the caption of an error box
    QString text;
};

class FakeMessageBoxes : public MessageBoxes {
public:
    FakeMessageBoxes();
    ~FakeMessageBoxes() override;

    void Warning(const QString& text) override;
    void Error(const QString& text) override;
    void Information(const QString& text) override;
    bool Question(const QString& text) override;
    // Recorded as "Bestätigung" with the buttons; answers from `choices`.
    int Choose(const QString& text, const QStringList& buttons) override;
    void ErrorWithCaption(const QString& caption, const QString& text) override;
    // Recorded as "Fehler"; ticked when `tickReportLater`.
    bool ErrorWithCheckBox(const QString& text, const QString& checkText) override;

    // Answers for the next questions, in order.
    void AnswerQuestions(std::initializer_list<bool> answers);

    std::vector<ShownMessage> shown;
    std::deque<bool> answers;
    std::deque<int> choices;           // answers of Choose: a button's index, or -1 for a closed box
    std::vector<QStringList> offered;  // the buttons of every Choose
    bool tickReportLater = false;
    QStringList checkBoxes;  // the check box texts offered
};

class FakeFileDialogs : public FileDialogs {
public:
    FakeFileDialogs();
    ~FakeFileDialogs() override;

    std::optional<QString> OpenFile(QWidget* parent, const QString& filter, const QString& initialPath) override;
    std::optional<QString> SaveFile(QWidget* parent, const QString& filter, const QString& initialPath) override;

    // Results of the next dialogs, in order; nothing means the user cancelled.
    std::deque<std::optional<QString>> results;
    struct Call {
        bool save;
        QString filter;
        QString initialPath;
    };
    std::vector<Call> calls;

private:
    std::optional<QString> Next(bool save, const QString& filter, const QString& initialPath);
};

class FakeClipboard : public Clipboard {
public:
    FakeClipboard();
    ~FakeClipboard() override;
    void SetText(const QString& text) override { text_ = text; ++writes; }
    QString Text() const override { return text_; }
    int writes = 0;

private:
    QString text_;
};

class FakeCursor : public Cursor {
public:
    FakeCursor();
    ~FakeCursor() override;
    void SetBusy() override { ++depth; ++busyCalls; }
    void Restore() override { if (depth > 0) --depth; }
    int depth = 0;
    int busyCalls = 0;
};

class FakeLauncher : public Launcher {
public:
    FakeLauncher();
    ~FakeLauncher() override;
    bool StartDetached(const QString& program, const QStringList& arguments) override {
        started.push_back({program, arguments});
        return startSucceeds;
    }
    bool OpenUrl(const QUrl& url) override {
        opened.push_back(url);
        return onOpen ? onOpen(url) : openSucceeds;
    }
    struct Start {
        QString program;
        QStringList arguments;
    };
    std::vector<Start> started;
    std::vector<QUrl> opened;
    bool startSucceeds = true;
    bool openSucceeds = true;
    // What opening an address does, when a test plays the browser.
    std::function<bool(const QUrl&)> onOpen;
};

// All of them at once, as most window tests want them.
struct FakeServices {
    FakeMessageBoxes messages;
    FakeFileDialogs dialogs;
    FakeClipboard clipboard;
    FakeCursor cursor;
    FakeLauncher launcher;
};
