#pragma once
// The window that imports recipients from a ";"- or ","-separated text file: the text in an editor with
// line numbers, the separator detected or chosen, and "Daten importieren" replaces the recipient
// table's rows with one row per line. It writes no list file; the user saves from the table window.

#include "listedit/import_text.h"

#include <QDialog>
#include <QString>

class QGroupBox;
class QRadioButton;
class QToolBar;
class QToolButton;
class HelpKeyWatcher;
class LineNumberEditor;
class TFormGrid;

class TFormImport : public QDialog {
    Q_OBJECT
public:
    static constexpr int kHelpContext = 100;

    explicit TFormImport(QWidget* parent = nullptr);

    // The table the import fills.
    void SetTargetGrid(TFormGrid* grid) { grid_ = grid; }

    // Every showing: an empty editor and no radio button; the separator stays.
    void FormShow();
    // Looks at the first four lines: ";" wins over ",". Selects the matching radio button, or clears
    // both when neither occurs.
    void DetectSeparator();
    void RadioButton1Click();
    void RadioButton2Click();
    // Reads a file into the editor by its byte order mark; saving uses the same encoding.
    void LoadFile(const QString& path);
    void SaveFile(const QString& path);

    // Toolbar commands, left to right.
    void ToolButton14Click();  // "Messagefeld löschen"
    void ToolButton19Click();  // "Datei öffnen"
    void ToolButton12Click();  // "Speichern"
    void ToolButton6Click();   // "Kopieren"
    void ToolButton11Click();  // "Daten importieren"
    void ToolButton16Click();  // "Hilfe"
    void ToolButton18Click();  // "Beenden"
    void FormKeyDown(int key);

    TextEncoding Encoding() const { return encoding_; }

    // ";" or ",", or empty before the first detection or choice.
    QString Separator;

    QToolBar* ToolBar1 = nullptr;
    LineNumberEditor* SynMemo1 = nullptr;
    QGroupBox* GroupBox1 = nullptr;
    QRadioButton* RadioButton1 = nullptr;
    QRadioButton* RadioButton2 = nullptr;

signals:
    void HelpContextRequested(int context);

protected:
    void showEvent(QShowEvent* event) override;

private:
    void BuildToolBar();
    QToolButton* AddToolButton(const char* name, const QString& hint, const char* themeIcon,
                               int fallbackPixmap, void (TFormImport::*handler)());
    void SetRadioButtons(bool semicolon, bool comma);

    TFormGrid* grid_ = nullptr;
    TextEncoding encoding_ = TextEncoding::Local;
    HelpKeyWatcher* helpKey_ = nullptr;
};
