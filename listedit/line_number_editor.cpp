#include "listedit/line_number_editor.h"

#include <QPaintEvent>
#include <QPainter>
#include <QTextBlock>
#include <QTextCursor>
#include <QTextDocument>

#include <algorithm>

namespace {
constexpr int kMinGutterWidth = 25;
constexpr int kGutterPadding = 6;
const QColor kGutterBackground(0xF0, 0xF0, 0xF0);
const QColor kGutterText(0x60, 0x60, 0x60);
}  // namespace

class LineNumberGutter : public QWidget {
public:
    explicit LineNumberGutter(LineNumberEditor* editor) : QWidget(editor), editor_(editor) {}
    QSize sizeHint() const override { return {editor_->GutterWidth(), 0}; }

protected:
    void paintEvent(QPaintEvent* event) override { editor_->PaintGutter(event); }

private:
    LineNumberEditor* editor_;
};

LineNumberEditor::LineNumberEditor(QWidget* parent)
    : QPlainTextEdit(parent), gutterFont_(QStringLiteral("Courier New"), 8) {
    gutterFont_.setStyleHint(QFont::Monospace);
    QFont textFont(QStringLiteral("Courier New"), 10);
    textFont.setStyleHint(QFont::Monospace);
    setFont(textFont);
    setLineWrapMode(QPlainTextEdit::NoWrap);
    gutter_ = new LineNumberGutter(this);
    gutter_->setObjectName(QStringLiteral("Gutter"));
    gutter_->setFont(gutterFont_);
    connect(this, &QPlainTextEdit::blockCountChanged, this, [this] { UpdateGutterWidth(); });
    connect(this, &QPlainTextEdit::updateRequest, this, [this](const QRect& rect, int dy) { UpdateGutter(rect, dy); });
    UpdateGutterWidth();
}

namespace {
// The document ends each block but the last with a paragraph separator; that is the line break.
QString WithLineBreaks(QString text) {
    text.replace(QChar::ParagraphSeparator, QLatin1Char('\n'));
    return text;
}
}  // namespace

QString LineNumberEditor::Text() const { return WithLineBreaks(document()->toRawText()); }

QString LineNumberEditor::SelectedText() const { return WithLineBreaks(textCursor().selectedText()); }

int LineNumberEditor::GutterWidth() const {
    const int digits = static_cast<int>(QString::number(std::max(1, blockCount())).size());
    const int needed = QFontMetrics(gutterFont_).horizontalAdvance(QLatin1Char('9')) * digits + kGutterPadding;
    return std::max(kMinGutterWidth, needed);
}

void LineNumberEditor::UpdateGutterWidth() { setViewportMargins(GutterWidth(), 0, 0, 0); }

void LineNumberEditor::UpdateGutter(const QRect& rect, int dy) {
    if (dy != 0) {
        gutter_->scroll(0, dy);
    } else {
        gutter_->update(0, rect.y(), gutter_->width(), rect.height());
    }
    if (rect.contains(viewport()->rect())) UpdateGutterWidth();
}

void LineNumberEditor::resizeEvent(QResizeEvent* event) {
    QPlainTextEdit::resizeEvent(event);
    const QRect area = contentsRect();
    gutter_->setGeometry(QRect(area.left(), area.top(), GutterWidth(), area.height()));
}

void LineNumberEditor::PaintGutter(QPaintEvent* event) {
    QPainter painter(gutter_);
    painter.fillRect(event->rect(), kGutterBackground);
    painter.setPen(kGutterText);
    painter.setFont(gutterFont_);
    // Only the blocks in view are visited, so a long text paints as fast as a short one.
    QTextBlock block = firstVisibleBlock();
    int top = qRound(blockBoundingGeometry(block).translated(contentOffset()).top());
    int bottom = top + qRound(blockBoundingRect(block).height());
    while (block.isValid() && top <= event->rect().bottom()) {
        if (block.isVisible() && bottom >= event->rect().top()) {
            painter.drawText(0, top, gutter_->width() - kGutterPadding / 2, fontMetrics().height(), Qt::AlignRight,
                             QString::number(block.blockNumber() + 1));
        }
        block = block.next();
        top = bottom;
        bottom = top + qRound(blockBoundingRect(block).height());
    }
}
