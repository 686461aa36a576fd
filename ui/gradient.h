#pragma once
// The program's windows share one look: a vertical gradient from a pale colour down to grey behind the
// controls.

#include <QColor>

class QPainter;
class QRect;

inline const QColor kWindowGrey(0x80, 0x80, 0x80);

// Fills `area` with a vertical gradient from `top` to `bottom` in 200 bands, like the classic look the
// users know; bands rather than a smooth ramp keep it identical on every style.
void PaintGradient(QPainter& painter, const QRect& area, const QColor& top, const QColor& bottom = kWindowGrey);

#include <QWidget>

// A plain widget that paints the gradient behind its children.
class GradientWidget : public QWidget {
public:
    explicit GradientWidget(const QColor& top, QWidget* parent = nullptr) : QWidget(parent), top_(top) {}

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    QColor top_;
};
