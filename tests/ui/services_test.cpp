#include "ui/services.h"
#include "tests/support/qt/qt_printers.h"

#include <gtest/gtest.h>

namespace {

TEST(TranslateFilter, GivesQtsFormWithEveryPatternOnce) {
    EXPECT_EQ(TranslateFilter("csv|*.csv|Alle|*.*"), "csv (*.csv);;Alle (*)");
    EXPECT_EQ(TranslateFilter("CSV (*.csv)|*.csv|All|*.*"), "CSV (*.csv);;All (*)");
    EXPECT_EQ(TranslateFilter("Texte|*.txt;*.text"), "Texte (*.txt *.text)");
    EXPECT_EQ(TranslateFilter(""), "");
}

}  // namespace
