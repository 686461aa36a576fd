#pragma once
// A plain-text editor with the line numbers in a gutter on its left.

#include <QPlainTextEdit>

class LineNumberEditor : public QPlainTextEdit {
public:
    explicit LineNumberEditor(QWidget* parent = nullptr);

    // The text with "\n" between lines. Unlike toPlainText(), no-break spaces and U+2028 line separators
    // stay what they are: they are characters of the file, not blanks or line ends.
    QString Text() const;
    // The selected text in the same form.
    QString SelectedText() const;

    // The gutter's width: 25 pixels, wider when the largest line number needs more.
    int GutterWidth() const;
    QWidget* Gutter() const { return gutter_; }

protected:
    void resizeEvent(QResizeEvent* event) override;

private:
    friend class LineNumberGutter;
    void PaintGutter(QPaintEvent* event);
    void UpdateGutterWidth();
    void UpdateGutter(const QRect& rect, int dy);

    QWidget* gutter_;
    QFont gutterFont_;
};
