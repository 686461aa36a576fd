#include "listedit/grid_sort.h"

#include "listedit/list_table.h"
#include "mailing/send_time.h"
#include "mailing/text_codec.h"

#include <QCollator>

#include <algorithm>
#include <numeric>

namespace {

// The descending view shows at least this many rows.
constexpr int kDescendingMinRowCount = 20;

}  // namespace

QString SortKey(int column, const QString& cell, const QLocale& locale) {
    if (column != GridSort::kSentColumn) return TrimmedCell(cell);
    const auto time = ParseSendTimeText(cell, locale);
    if (!time) throw ESortError(QStringLiteral("'%1' ist keine gültige Datums- und Uhrzeitangabe").arg(cell).toStdString());
    return time->SortableText();
}

namespace {

// Case-insensitive comparison in the locale's order, prepared once per text: comparing prepared keys is
// far cheaper than collating pairs of texts again and again.
class CollationKeys {
public:
    CollationKeys(const std::vector<QString>& texts, const QLocale& locale) : plain_(locale.language() == QLocale::C) {
        if (plain_) {
            // The "C" locale has no collation rules, and Qt's sort keys for it ignore the case setting:
            // compare case-folded texts by code point instead.
            folded_.reserve(texts.size());
            for (const QString& text : texts) folded_.push_back(text.toCaseFolded());
            return;
        }
        QCollator collator(locale);
        collator.setCaseSensitivity(Qt::CaseInsensitive);
        keys_.reserve(texts.size());
        for (const QString& text : texts) keys_.push_back(collator.sortKey(text));
    }
    int Compare(size_t a, size_t b) const {
        if (plain_) return folded_[a].compare(folded_[b]);
        return keys_[a].compare(keys_[b]);
    }

private:
    bool plain_;
    std::vector<QString> folded_;
    std::vector<QCollatorSortKey> keys_;
};

}  // namespace

std::vector<size_t> CollatedOrder(const std::vector<QString>& texts, const QLocale& locale) {
    std::vector<size_t> order(texts.size());
    std::iota(order.begin(), order.end(), size_t{0});
    const CollationKeys keys(texts, locale);
    std::stable_sort(order.begin(), order.end(), [&](size_t a, size_t b) { return keys.Compare(a, b) < 0; });
    return order;
}

std::vector<size_t> CollatedOrder(const std::vector<QString>& keys, const std::function<QString(size_t)>& tieBreak,
                                  const QLocale& locale) {
    std::vector<size_t> order(keys.size());
    std::iota(order.begin(), order.end(), size_t{0});
    const CollationKeys primary(keys, locale);
    std::stable_sort(order.begin(), order.end(), [&](size_t a, size_t b) { return primary.Compare(a, b) < 0; });
    // Only rows with equal keys need their other cells compared.
    for (size_t begin = 0; begin < order.size();) {
        size_t end = begin + 1;
        while (end < order.size() && primary.Compare(order[begin], order[end]) == 0) ++end;
        if (end - begin > 1) {
            std::vector<QString> rests;
            for (size_t i = begin; i < end; ++i) rests.push_back(tieBreak(order[i]));
            const std::vector<size_t> within = CollatedOrder(rests, locale);
            std::vector<size_t> group(order.begin() + static_cast<std::ptrdiff_t>(begin),
                                      order.begin() + static_cast<std::ptrdiff_t>(end));
            for (size_t i = 0; i < within.size(); ++i) order[begin + i] = group[within[i]];
        }
        begin = end;
    }
    return order;
}

void GridSort::MouseDown(int row, int column, bool leftButton) {
    SortColumn = -1;
    // Only a left press on a header sorts; other presses leave the toggles alone.
    if (!leftButton || row != 0 || column < 0 || column >= kGridColumns) return;
    SortColumn = column;
    const bool dataColumn = column >= 1;
    if (dataColumn && ColumnToggle[static_cast<size_t>(column)]) {
        ShowDescending();
        ColumnToggle[static_cast<size_t>(column)] = false;
        return;
    }
    try {
        SortByColumn(column);
    } catch (const ESortError&) {
        // Nothing moved, so nothing may look sorted: no marker.
        ResetSort();
        throw;
    }
    if (dataColumn) {
        ColumnToggle.fill(false);
        ColumnToggle[static_cast<size_t>(column)] = true;
    }
}

void GridSort::SortByColumn(int column) {
    SortActive = true;
    SortDescending = false;
    ClearSortCopy();

    // The block is as many rows from the top as there are rows with a name: the named rows are expected
    // to stand together at the top, and the rows below the block stay where they are.
    int count = 0;
    for (int r = 1; r < table_.RowCount(); ++r) {
        if (!table_.Cell(r, 1).isEmpty()) ++count;
    }
    if (count == 0) {
        ResetSort();
        return;
    }

    // Every key is made before anything moves, so a bad send time stops the sort with the rows as they were.
    const QLocale locale;
    std::vector<QString> keys;
    keys.reserve(static_cast<size_t>(count));
    for (int r = 1; r <= count; ++r) keys.push_back(SortKey(column, table_.Row(r)[static_cast<size_t>(column)], locale));
    // Rows with equal keys are ordered by all their cells, the old number first.
    const auto cells = [this](size_t index) {
        QString text;
        for (const QString& cell : table_.Row(static_cast<int>(index) + 1)) {
            text += cell;
            text += QLatin1Char('\n');
        }
        return text;
    };
    const std::vector<size_t> order = CollatedOrder(keys, cells, locale);

    std::vector<GridRow> sorted;
    sorted.reserve(order.size());
    for (size_t index : order) sorted.push_back(table_.Row(static_cast<int>(index) + 1));
    StringGrid2.assign(sorted.rbegin(), sorted.rend());
    // The number column travels with its row: it shows the old numbers until the next renumbering.
    table_.ReplaceRows(1, std::move(sorted));
}

void GridSort::ShowDescending() {
    SortDescending = true;
    if (StringGrid2.empty()) return;
    const int count = static_cast<int>(StringGrid2.size());
    table_.ReplaceRows(1, StringGrid2);
    // The view is cut to the block, at least 20 rows, but rows below the block that hold text stay: a
    // row the sort did not take (one without a name) must not be lost by looking at the list descending.
    const int rowCount = std::max({kDescendingMinRowCount, count + 1, table_.LastFilledRow() + 1});
    table_.SetRowCount(rowCount);
}

void GridSort::ResetSort() {
    SortActive = false;
    SortDescending = false;
    ColumnToggle.fill(false);
    ClearSortCopy();
}

GridSort::Marker GridSort::MarkerFor(int column) const {
    if (column != SortColumn || !SortActive) return Marker::None;
    return SortDescending ? Marker::Descending : Marker::Ascending;
}
