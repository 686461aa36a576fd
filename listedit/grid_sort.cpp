#include "listedit/grid_sort.h"

#include "mailing/send_time.h"
#include "mailing/text_codec.h"

#include <QCollator>

#include <algorithm>
#include <numeric>

namespace {

// The descending view shows at least this many rows.
constexpr int kDescendingMinRowCount = 20;

// Trimming as everywhere in the program: characters with codes 0 to 32 at both ends.
QString TrimControls(const QString& text) {
    qsizetype begin = 0;
    qsizetype end = text.size();
    while (begin < end && text[begin].unicode() <= 32) ++begin;
    while (end > begin && text[end - 1].unicode() <= 32) --end;
    return text.mid(begin, end - begin);
}

}  // namespace

QString SortKey(int column, const QString& cell, const QLocale& locale) {
    if (column != GridSort::kSentColumn) return TrimControls(cell);
    const auto time = ParseSendTime(ToLocal(cell), locale);
    if (!time) throw ESortError(QStringLiteral("'%1' ist keine gültige Datums- und Uhrzeitangabe").arg(cell).toStdString());
    return time->toString(QStringLiteral("yyyyMMddhhmmss"));
}

std::vector<size_t> CollatedOrder(const std::vector<QString>& texts, const QLocale& locale) {
    std::vector<size_t> order(texts.size());
    std::iota(order.begin(), order.end(), size_t{0});
    if (locale.language() == QLocale::C) {
        // The "C" locale has no collation rules, and Qt's sort keys for it ignore the case setting:
        // compare case-folded texts by code point instead.
        std::vector<QString> folded;
        folded.reserve(texts.size());
        for (const QString& text : texts) folded.push_back(text.toCaseFolded());
        std::stable_sort(order.begin(), order.end(), [&](size_t a, size_t b) { return folded[a] < folded[b]; });
        return order;
    }
    QCollator collator(locale);
    collator.setCaseSensitivity(Qt::CaseInsensitive);
    // Sort keys are computed once per text; comparing them is far cheaper than collating pairs.
    std::vector<QCollatorSortKey> keys;
    keys.reserve(texts.size());
    for (const QString& text : texts) keys.push_back(collator.sortKey(text));
    std::stable_sort(order.begin(), order.end(), [&](size_t a, size_t b) { return keys[a].compare(keys[b]) < 0; });
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

    // Each row's composite: the key, "#", then every cell of the row followed by a line break, so that
    // rows with equal keys are ordered by their cells, the old number first.
    const QLocale locale;
    std::vector<QString> composites;
    composites.reserve(static_cast<size_t>(count));
    for (int r = 1; r <= count; ++r) {
        const GridRow& row = table_.Row(r);
        QString composite = SortKey(column, row[static_cast<size_t>(column)], locale);
        composite += QLatin1Char('#');
        for (const QString& cell : row) {
            composite += cell;
            composite += QLatin1Char('\n');
        }
        composites.push_back(std::move(composite));
    }
    const std::vector<size_t> order = CollatedOrder(composites, locale);

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
