#pragma once
// Everything the user can see or be asked goes through one service each, so that the program uses Qt's
// dialogs and the tests use scripted fakes. The services are process-wide; the program installs the Qt
// ones at start, a test installs its fakes (and gets the Qt ones back when its fake goes away).

#include <QString>
#include <QStringList>
#include <QUrl>

#include <functional>
#include <optional>

class QWidget;

// The four kinds of modal message box, each with its fixed caption.
class MessageBoxes {
public:
    virtual ~MessageBoxes() = default;
    // "Warnung", one button "OK".
    virtual void Warning(const QString& text) = 0;
    // "Fehler", one button "OK".
    virtual void Error(const QString& text) = 0;
    // "Informationen", one button "OK".
    virtual void Information(const QString& text) = 0;
    // "Bestätigung", buttons "&Ja" and "&Nein"; true only for "&Ja".
    virtual bool Question(const QString& text) = 0;
    // "Bestätigung" with one button per entry of `buttons`; the index of the one chosen, or -1 when the box
    // went away without a choice. The last button is the cancel one: Escape and the window's close button
    // choose it, and it is the default, so that a stray Enter does nothing.
    virtual int Choose(const QString& text, const QStringList& buttons) = 0;
    // The general error display: error icon, the given caption (the application's title), one "OK".
    virtual void ErrorWithCaption(const QString& caption, const QString& text) = 0;
    // "Fehler", one button "OK", and a check box with `checkText` under the text; whether it was ticked.
    virtual bool ErrorWithCheckBox(const QString& text, const QString& checkText) = 0;
};

// Open and save dialogs. Filters are written in the "|"-separated form: "csv|*.csv|Alle|*.*".
class FileDialogs {
public:
    virtual ~FileDialogs() = default;
    // The chosen file's path, or nothing when the user cancelled.
    virtual std::optional<QString> OpenFile(QWidget* parent, const QString& filter,
                                            const QString& initialPath = {}) = 0;
    virtual std::optional<QString> SaveFile(QWidget* parent, const QString& filter,
                                            const QString& initialPath = {}) = 0;
};

class Clipboard {
public:
    virtual ~Clipboard() = default;
    virtual void SetText(const QString& text) = 0;
    virtual QString Text() const = 0;
};

// The mouse cursor: normal or busy (hourglass) for the whole application.
class Cursor {
public:
    virtual ~Cursor() = default;
    virtual void SetBusy() = 0;
    virtual void Restore() = 0;
};

// Starts outside programs and opens addresses with the desktop's programs. Tests replace it, so that no
// test ever starts a program or sends traffic.
class Launcher {
public:
    virtual ~Launcher() = default;
    // Starts a program without waiting for it; false when it could not be started.
    virtual bool StartDetached(const QString& program, const QStringList& arguments) = 0;
    // Opens a file or web address with the desktop's viewer; false when nothing could open it.
    virtual bool OpenUrl(const QUrl& url) = 0;
};

namespace services {
MessageBoxes& Messages();
FileDialogs& Dialogs();
Clipboard& Clip();
Cursor& Pointer();
Launcher& Starter();

// Installs a replacement; nullptr puts the Qt implementation back.
void SetMessages(MessageBoxes* replacement);
void SetDialogs(FileDialogs* replacement);
void SetClipboard(Clipboard* replacement);
void SetCursor(Cursor* replacement);
void SetLauncher(Launcher* replacement);
}  // namespace services

// Shows the busy cursor while it lives; the normal cursor comes back on every path out of a scope.
class BusyCursor {
public:
    BusyCursor() { services::Pointer().SetBusy(); }
    ~BusyCursor() { services::Pointer().Restore(); }
    BusyCursor(const BusyCursor&) = delete;
    BusyCursor& operator=(const BusyCursor&) = delete;
};

// Turns "csv|*.csv|Alle|*.*" into Qt's "csv (*.csv);;Alle (*)": "*.*" stands for every file, also one
// without a dot in its name. An empty filter stays empty.
QString TranslateFilter(const QString& filter);

// The application's title, the caption of the general error display.
QString ApplicationTitle();

// The general error display: runs a command; an exception that escapes it is shown in an error box with
// the application's title as caption, and the program goes on. Returns false when the command failed.
// Every command handler goes through here, so no exception ever leaves a Qt event handler.
bool RunGuarded(const std::function<void()>& command);
