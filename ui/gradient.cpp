#include "ui/gradient.h"

#include <QPainter>
#include <QRect>

void PaintGradient(QPainter& painter, const QRect& area, const QColor& top, const QColor& bottom) {
    constexpr int kSteps = 200;
    const int height = area.height();
    for (int step = 0; step < kSteps; ++step) {
        const int y0 = area.top() + height * step / kSteps;
        const int y1 = area.top() + height * (step + 1) / kSteps;
        if (y1 <= y0) continue;
        auto mix = [step](int a, int b) { return a + (b - a) * step / (kSteps - 1); };
        painter.fillRect(QRect(area.left(), y0, area.width(), y1 - y0),
                         QColor(mix(top.red(), bottom.red()), mix(top.green(), bottom.green()),
                                mix(top.blue(), bottom.blue())));
    }
}

void GradientWidget::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    PaintGradient(painter, rect(), top_);
}
