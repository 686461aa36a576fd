#include "ui/services.h"

#include <QApplication>
#include <QCheckBox>
#include <QClipboard>
#include <QDesktopServices>
#include <QProcess>
#include <QFileDialog>
#include <QGuiApplication>
#include <QMessageBox>
#include <QPushButton>

#include <exception>

namespace {

const char* const kCaptionWarning = "Warnung";
const char* const kCaptionError = "Fehler";
const char* const kCaptionInformation = "Informationen";
const char* const kCaptionQuestion = "Bestätigung";

QWidget* DialogParent() { return QApplication::activeWindow(); }

void ShowOkBox(QMessageBox::Icon icon, const QString& caption, const QString& text) {
    QMessageBox box(icon, caption, text, QMessageBox::NoButton, DialogParent());
    box.addButton(QStringLiteral("OK"), QMessageBox::AcceptRole);
    box.exec();
}

class QtMessageBoxes : public MessageBoxes {
public:
    void Warning(const QString& text) override {
        ShowOkBox(QMessageBox::Warning, QString::fromUtf8(kCaptionWarning), text);
    }
    void Error(const QString& text) override {
        ShowOkBox(QMessageBox::Critical, QString::fromUtf8(kCaptionError), text);
    }
    void Information(const QString& text) override {
        ShowOkBox(QMessageBox::Information, QString::fromUtf8(kCaptionInformation), text);
    }
    bool Question(const QString& text) override {
        QMessageBox box(QMessageBox::Question, QString::fromUtf8(kCaptionQuestion), text,
                        QMessageBox::NoButton, DialogParent());
        QPushButton* yes = box.addButton(QStringLiteral("&Ja"), QMessageBox::YesRole);
        QPushButton* no = box.addButton(QStringLiteral("&Nein"), QMessageBox::NoRole);
        box.setDefaultButton(yes);
        box.setEscapeButton(no);
        box.exec();
        return box.clickedButton() == yes;
    }
    int Choose(const QString& text, const QStringList& buttons) override {
        QMessageBox box(QMessageBox::Question, QString::fromUtf8(kCaptionQuestion), text,
                        QMessageBox::NoButton, DialogParent());
        QList<QPushButton*> added;
        for (qsizetype i = 0; i < buttons.size(); ++i) {
            const bool last = i + 1 == buttons.size();
            added << box.addButton(buttons[i], last ? QMessageBox::RejectRole : QMessageBox::ActionRole);
        }
        if (!added.isEmpty()) {
            box.setDefaultButton(added.back());
            box.setEscapeButton(added.back());
        }
        box.exec();
        return static_cast<int>(added.indexOf(box.clickedButton()));
    }
    void ErrorWithCaption(const QString& caption, const QString& text) override {
        ShowOkBox(QMessageBox::Critical, caption, text);
    }
    bool ErrorWithCheckBox(const QString& text, const QString& checkText) override {
        QMessageBox box(QMessageBox::Critical, QString::fromUtf8(kCaptionError), text, QMessageBox::NoButton,
                        DialogParent());
        box.addButton(QStringLiteral("OK"), QMessageBox::AcceptRole);
        auto* check = new QCheckBox(checkText, &box);
        box.setCheckBox(check);
        box.exec();
        return check->isChecked();
    }
};

class QtFileDialogs : public FileDialogs {
public:
    std::optional<QString> OpenFile(QWidget* parent, const QString& filter,
                                    const QString& initialPath) override {
        QString path = QFileDialog::getOpenFileName(parent, {}, initialPath, TranslateFilter(filter));
        if (path.isEmpty()) return std::nullopt;
        return path;
    }
    std::optional<QString> SaveFile(QWidget* parent, const QString& filter,
                                    const QString& initialPath) override {
        QString path = QFileDialog::getSaveFileName(parent, {}, initialPath, TranslateFilter(filter));
        if (path.isEmpty()) return std::nullopt;
        return path;
    }
};

class QtClipboard : public Clipboard {
public:
    void SetText(const QString& text) override { QGuiApplication::clipboard()->setText(text); }
    QString Text() const override { return QGuiApplication::clipboard()->text(); }
};

class QtCursor : public Cursor {
public:
    void SetBusy() override { QApplication::setOverrideCursor(Qt::WaitCursor); }
    void Restore() override {
        if (QApplication::overrideCursor() != nullptr) QApplication::restoreOverrideCursor();
    }
};

class QtLauncher : public Launcher {
public:
    bool StartDetached(const QString& program, const QStringList& arguments) override {
        return QProcess::startDetached(program, arguments);
    }
    bool OpenUrl(const QUrl& url) override { return QDesktopServices::openUrl(url); }
};

QtMessageBoxes g_qtMessages;
QtFileDialogs g_qtDialogs;
QtClipboard g_qtClipboard;
QtCursor g_qtCursor;
QtLauncher g_qtLauncher;

MessageBoxes* g_messages = &g_qtMessages;
FileDialogs* g_dialogs = &g_qtDialogs;
Clipboard* g_clipboard = &g_qtClipboard;
Cursor* g_cursor = &g_qtCursor;
Launcher* g_launcher = &g_qtLauncher;

}  // namespace

namespace services {
MessageBoxes& Messages() { return *g_messages; }
FileDialogs& Dialogs() { return *g_dialogs; }
Clipboard& Clip() { return *g_clipboard; }
Cursor& Pointer() { return *g_cursor; }
Launcher& Starter() { return *g_launcher; }

void SetMessages(MessageBoxes* replacement) { g_messages = replacement ? replacement : &g_qtMessages; }
void SetDialogs(FileDialogs* replacement) { g_dialogs = replacement ? replacement : &g_qtDialogs; }
void SetClipboard(Clipboard* replacement) { g_clipboard = replacement ? replacement : &g_qtClipboard; }
void SetCursor(Cursor* replacement) { g_cursor = replacement ? replacement : &g_qtCursor; }
void SetLauncher(Launcher* replacement) { g_launcher = replacement ? replacement : &g_qtLauncher; }
}  // namespace services

QString TranslateFilter(const QString& filter) {
    if (filter.isEmpty()) return {};
    const QStringList parts = filter.split(QLatin1Char('|'));
    QStringList entries;
    for (qsizetype i = 0; i + 1 < parts.size(); i += 2) {
        // "*.*" means every file where the filters come from; on Linux it would hide files without a
        // dot in their names (a "sendlist" saved without extension), so it becomes "*".
        QStringList patternList = parts[i + 1].split(QLatin1Char(';'), Qt::SkipEmptyParts);
        for (QString& pattern : patternList)
            if (pattern.trimmed() == QStringLiteral("*.*")) pattern = QStringLiteral("*");
        const QString patterns = patternList.join(QLatin1Char(' '));
        // Qt reads the patterns from the name's last parentheses: a name that shows its patterns already
        // ("CSV (*.csv)") gets them there once, not a second time behind it.
        const QString& name = parts[i];
        const qsizetype open = name.lastIndexOf(QLatin1Char('('));
        if (open >= 0 && name.endsWith(QLatin1Char(')'))) {
            entries << name.left(open) + QLatin1Char('(') + patterns + QLatin1Char(')');
            continue;
        }
        entries << QStringLiteral("%1 (%2)").arg(parts[i], patterns);
    }
    return entries.join(QStringLiteral(";;"));
}

QString ApplicationTitle() { return QStringLiteral("Postira"); }

bool RunGuarded(const std::function<void()>& command) {
    QString message;
    try {
        command();
        return true;
    } catch (const std::exception& error) {
        message = QString::fromUtf8(error.what());
    } catch (...) {
        message = QStringLiteral("Unbekannter Fehler.");
    }
    services::Pointer().Restore();
    services::Messages().ErrorWithCaption(ApplicationTitle(), message);
    return false;
}
