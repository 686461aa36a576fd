#include "listedit/grid_view.h"

#include <QLineEdit>
#include <QPainter>
#include <QPolygon>

namespace {
constexpr int kMarkerSize = 16;
const QColor kMarkerBlue(0, 0, 255);
}  // namespace

QPixmap SortMarkerPixmap(bool descending) {
    QPixmap pixmap(kMarkerSize, kMarkerSize);
    pixmap.fill(Qt::transparent);
    QPainter painter(&pixmap);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setPen(Qt::NoPen);
    painter.setBrush(kMarkerBlue);
    const QPolygon down({QPoint(3, 5), QPoint(13, 5), QPoint(8, 11)});
    const QPolygon up({QPoint(3, 11), QPoint(13, 11), QPoint(8, 5)});
    painter.drawPolygon(descending ? up : down);
    return pixmap;
}

GridHeader::GridHeader(MarkerSource markers, QWidget* parent)
    : QHeaderView(Qt::Horizontal, parent), markers_(std::move(markers)) {}

void GridHeader::paintSection(QPainter* painter, const QRect& rect, int logicalIndex) const {
    painter->save();
    QHeaderView::paintSection(painter, rect, logicalIndex);
    painter->restore();
    // The marker sits in the upper left corner of the header cell, in the blanks before the title.
    const QPixmap marker = markers_(logicalIndex + 1);
    if (!marker.isNull()) painter->drawPixmap(rect.left(), rect.top(), marker);
}

QWidget* CellDelegate::createEditor(QWidget* parent, const QStyleOptionViewItem& option, const QModelIndex& index) const {
    QWidget* editor = QStyledItemDelegate::createEditor(parent, option, index);
    if (auto* line = qobject_cast<QLineEdit*>(editor)) {
        connect(line, &QLineEdit::textEdited, this, [this, line] {
            emit const_cast<CellDelegate*>(this)->commitData(line);
        });
    }
    return editor;
}

void CellDelegate::setEditorData(QWidget* editor, const QModelIndex& index) const {
    if (auto* line = qobject_cast<QLineEdit*>(editor)) {
        if (line->text() == index.data(Qt::EditRole).toString()) return;
    }
    QStyledItemDelegate::setEditorData(editor, index);
}
