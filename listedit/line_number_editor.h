#pragma once
// A plain-text editor with the line numbers in a gutter on its left.

#include <QPlainTextEdit>

class LineNumberEditor : public QPlainTextEdit {
public:
    explicit LineNumberEditor(QWidget* parent = nullptr);

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
