#pragma once
// The widgets of the recipient table: the header that draws the sort marker, and the cell editor that
// hands every keystroke to the table at once, so that a command always sees what the cell shows.

#include <QHeaderView>
#include <QPixmap>
#include <QStyledItemDelegate>

#include <functional>

// The two 16 × 16 markers: a blue arrow pointing down (ascending sort) and one pointing up (descending).
QPixmap SortMarkerPixmap(bool descending);

class GridHeader : public QHeaderView {
public:
    // For a grid column, the marker to draw in its header cell (a null pixmap for none).
    using MarkerSource = std::function<QPixmap(int gridColumn)>;

    GridHeader(MarkerSource markers, QWidget* parent);

protected:
    void paintSection(QPainter* painter, const QRect& rect, int logicalIndex) const override;

private:
    MarkerSource markers_;
};

class CellDelegate : public QStyledItemDelegate {
public:
    using QStyledItemDelegate::QStyledItemDelegate;
    QWidget* createEditor(QWidget* parent, const QStyleOptionViewItem& option, const QModelIndex& index) const override;
    // Leaves the editor alone when it already shows the cell's text, so the cursor stays where it is.
    void setEditorData(QWidget* editor, const QModelIndex& index) const override;
};
