// The list editor's logic without windows: rows of the list file, deleting ranges, sort order.

#include "listedit/grid_model.h"
#include "listedit/grid_sort.h"
#include "listedit/import_text.h"
#include "listedit/list_table.h"
#include "tests/support/qt/qt_printers.h"

#include <gtest/gtest.h>

#include <random>

namespace {

GridRow Cells(std::initializer_list<const char*> fields) {
    GridRow row;
    int c = 1;
    for (const char* field : fields) row[static_cast<size_t>(c++)] = QString::fromUtf8(field);
    return row;
}

TEST(ListTable, ParsesLinesIntoRowsAndWritesThemBack) {
    const ListContent content = ParseListFile("Meier; Hans ;m@x.de\r\n\r\n  \n;;;;;;;;\rSchulz;Eva;e@x.de;T;default;not send;/a b;rest");
    ASSERT_EQ(content.lines.size(), 5u);
    EXPECT_EQ(*content.lines[0], Cells({"Meier", " Hans ", "m@x.de"}));
    EXPECT_FALSE(content.lines[1].has_value());
    EXPECT_FALSE(content.lines[2].has_value());
    EXPECT_EQ(*content.lines[3], GridRow{});
    EXPECT_EQ(*content.lines[4], Cells({"Schulz", "Eva", "e@x.de", "T", "default", "not send", "/a b"}));

    std::vector<GridRow> rows;
    for (const LineCells& line : content.lines) rows.push_back(line.value_or(GridRow{}));
    EXPECT_EQ(ListFileText(rows, ListCharset()), "Meier;Hans;m@x.de;;;;;\r\nSchulz;Eva;e@x.de;T;default;not send;/a b;\r\n");
    EXPECT_FALSE(ListFileText(std::vector<GridRow>(3, Cells({"Name", " \t", "addr"})), ListCharset()).has_value());
}

// Deleting a range at once must give what deleting its rows one by one gives.
TEST(GridModel, DeleteRowsMatchesDeletingOneAtATime) {
    std::mt19937 random(7);
    for (int round = 0; round < 300; ++round) {
        const int dataRows = 1 + static_cast<int>(random() % 8);
        const int first = 1 + static_cast<int>(random() % dataRows);
        const int count = 1 + static_cast<int>(random() % 10);
        GridModel model;
        ASSERT_TRUE(model.SetRowCount(dataRows + 1));
        for (int r = 1; r <= dataRows; ++r) model.SetCell(r, 1, QString::number(r));
        std::vector<QString> expected;
        for (int r = 1; r <= dataRows; ++r) expected.push_back(QString::number(r));
        for (int i = 0; i < count && first <= static_cast<int>(expected.size()); ++i) {
            if (expected.size() > 1) {
                expected.erase(expected.begin() + (first - 1));
            } else {
                expected[0].clear();
            }
        }
        model.DeleteRows(first, count);
        std::vector<QString> actual;
        for (int r = 1; r < model.RowCount(); ++r) actual.push_back(model.Cell(r, 1));
        ASSERT_EQ(actual, expected) << dataRows << " rows, delete " << count << " from " << first;
    }
}

TEST(GridModel, CapacityAndPlacing) {
    GridModel model;
    EXPECT_FALSE(model.SetRowCount(GridModel::kMaxRowCount + 1));
    EXPECT_FALSE(model.SetRowCount(1));
    EXPECT_EQ(model.RowCount(), 19);
    EXPECT_FALSE(model.PlaceLines(std::vector<LineCells>(GridModel::kMaxRowCount)));
    EXPECT_EQ(model.RowCount(), 19);
    model.SetCell(2, 1, "bleibt");
    ASSERT_TRUE(model.PlaceLines({Cells({"a;b", "c\r\nd"}), std::nullopt}));
    EXPECT_EQ(model.Cell(1, 1), "a,b");
    EXPECT_EQ(model.Cell(1, 2), "c  d");
    EXPECT_EQ(model.Cell(2, 1), "bleibt");
    EXPECT_EQ(model.LastFilledRow(), 2);
}

std::vector<QString> Sorted(std::vector<QString> texts, const QLocale& locale) {
    std::vector<QString> result;
    for (size_t index : CollatedOrder(texts, locale)) result.push_back(texts[index]);
    return result;
}

TEST(GridSort, OrderIgnoresCaseAndFollowsTheLocale) {
    const std::vector<QString> names = {"Bauer", "adler", "Claus", "Äpfel", "bauer"};
    const std::vector<QString> german = Sorted(names, QLocale(QLocale::German, QLocale::Germany));
    EXPECT_EQ(german, (std::vector<QString>{"adler", "Äpfel", "Bauer", "bauer", "Claus"}));
    const std::vector<QString> plain = Sorted(names, QLocale::c());
    EXPECT_EQ(plain, (std::vector<QString>{"adler", "Bauer", "bauer", "Claus", "Äpfel"}));
}

TEST(GridSort, EqualKeysAreOrderedByTheRestOfTheRow) {
    const std::vector<QString> keys = {"Meier", "adler", "meier", "Meier"};
    const std::vector<QString> rests = {"9", "1", "10", "2"};
    const auto order = CollatedOrder(keys, [&](size_t i) { return rests[i]; }, QLocale(QLocale::German, QLocale::Germany));
    // The numbers compare as text, as the number column does.
    EXPECT_EQ(order, (std::vector<size_t>{1, 2, 3, 0}));
    // A longer key with the same start comes after the shorter one, whatever follows in the row.
    const auto prefix = CollatedOrder({"Bauer Hans", "Bauer"}, [](size_t i) { return QString::number(i); },
                                      QLocale(QLocale::German, QLocale::Germany));
    EXPECT_EQ(prefix, (std::vector<size_t>{1, 0}));
}

TEST(GridSort, KeysTrimAndReadSendTimes) {
    const QLocale german(QLocale::German, QLocale::Germany);
    EXPECT_EQ(SortKey(1, " \tMeier \r", german), "Meier");
    EXPECT_EQ(SortKey(6, " 08.12.2026 14:05:31 ", german), "20261208140531");
    EXPECT_THROW(SortKey(6, "", german), ESortError);
    EXPECT_THROW(SortKey(6, "Fehler: 550", german), ESortError);
}

TEST(ImportText, HeadingIsTheFirstLineWithoutAnAddressWhenAnotherHasOne) {
    const std::pair<const char*, std::optional<size_t>> cases[] = {
        {"Name;Vorname;Email\nMeier;Hans;h@x.de", 0},
        {"\n \nName;Vorname;E-Mail\nMeier;Hans;\nSchulz;Eva;e@x.de", 2},
        {"Meier;Hans;h@x.de\nSchulz;Eva;e@x.de", std::nullopt},
        {"Name;Vorname;Email\nMeier;Hans;keine Adresse", std::nullopt},
        {"Name;Vorname;Email\nMeier;h@x.de;;h@x.de", std::nullopt},  // an "@" in another column
    };
    for (const auto& [text, heading] : cases) EXPECT_EQ(HeadingRow(ImportRows(EditorLines(text), ';')), heading) << text;
}

}  // namespace
