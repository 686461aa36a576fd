#include "listedit/form_loeschen.h"
#include "listedit/row_range.h"
#include "tests/support/qt/fake_services.h"
#include "tests/support/qt/qt_printers.h"

#include <QCheckBox>
#include <QLineEdit>
#include <QPushButton>
#include <QTest>

#include <gtest/gtest.h>

namespace {

const QString kVon = "Ungültige Zeilennummer VON!";
const QString kBis = "Ungültige Zeilennummer BIS!";
const QString kRange = "Zeilennummern müssen größer 0 und BIS darf nicht kleiner als VON sein!";

class DeletionDialogTest : public ::testing::Test {
protected:
    DeletionDialogTest() { dialog.show(); }
    ~DeletionDialogTest() override { dialog.hide(); }

    // Types the two fields and presses OK; the error texts shown in between.
    std::vector<QString> Ok(const QString& von, const QString& bis) {
        dialog.EditVon->setText(von);
        dialog.EditBis->setText(bis);
        const size_t before = fakes.messages.shown.size();
        dialog.BitBtn1->click();
        std::vector<QString> texts;
        for (size_t i = before; i < fakes.messages.shown.size(); ++i) {
            EXPECT_EQ(fakes.messages.shown[i].kind, "Fehler");
            texts.push_back(fakes.messages.shown[i].text);
        }
        return texts;
    }

    FakeServices fakes;
    TFormLoeschen dialog;
};

TEST_F(DeletionDialogTest, LooksAsItShould) {
    EXPECT_EQ(dialog.windowTitle(), "Zeilen löschen");
    EXPECT_EQ(dialog.size(), QSize(352, 150));
    EXPECT_EQ(dialog.CheckBox1->text(), "Aktuelle Zeile löschen");
    EXPECT_TRUE(dialog.BitBtn1->isDefault());
    EXPECT_EQ(dialog.BitBtn1->text(), "OK");
}

TEST_F(DeletionDialogTest, BothFieldsAreCheckedAndEmptiedWhenInvalid) {
    EXPECT_EQ(Ok("", ""), (std::vector<QString>{kVon, kBis}));
    EXPECT_TRUE(dialog.isVisible());
    EXPECT_EQ(Ok("x", "4"), (std::vector<QString>{kVon}));
    EXPECT_EQ(dialog.EditVon->text(), "");
    EXPECT_EQ(dialog.EditBis->text(), "4");
    // Out of the 32-bit range, a trailing blank, a decimal point: not whole numbers.
    EXPECT_EQ(Ok("1", "99999999999"), (std::vector<QString>{kBis}));
    EXPECT_EQ(Ok("3 ", "2.5"), (std::vector<QString>{kVon, kBis}));
    EXPECT_TRUE(dialog.isVisible());
    EXPECT_EQ(dialog.ZeileVon, 0);
}

TEST_F(DeletionDialogTest, RangeMustStartAtOneAndNotRunBackwards) {
    for (auto [von, bis] : {std::pair{"0", "4"}, std::pair{"5", "3"}, std::pair{"-5", "2"}}) {
        EXPECT_EQ(Ok(von, bis), (std::vector<QString>{kRange})) << von << " " << bis;
        EXPECT_EQ(dialog.EditVon->text(), "");
        EXPECT_EQ(dialog.EditBis->text(), "");
        EXPECT_TRUE(dialog.isVisible());
    }
    EXPECT_TRUE(Ok(" +3", "3").empty());
    EXPECT_FALSE(dialog.isVisible());
    EXPECT_EQ(dialog.ZeileVon, 3);
    EXPECT_EQ(dialog.ZeileBis, 3);
}

TEST_F(DeletionDialogTest, CheckBoxMeansTheCurrentRow) {
    dialog.EditVon->setText("2");
    dialog.EditBis->setText("5");
    dialog.CheckBox1->click();
    EXPECT_EQ(dialog.EditVon->text(), "");
    EXPECT_EQ(dialog.EditBis->text(), "");
    // Keys that only pass through "Von" leave the box alone; typing there means a range again, typing
    // into "Bis" does not.
    for (const Qt::Key key : {Qt::Key_Tab, Qt::Key_Left, Qt::Key_Backspace, Qt::Key_Shift}) {
        dialog.EditVon->setFocus();
        QTest::keyClick(dialog.EditVon, key);
        EXPECT_TRUE(dialog.CheckBox1->isChecked()) << key;
    }
    QTest::keyClick(dialog.EditVon, Qt::Key_7);
    EXPECT_FALSE(dialog.CheckBox1->isChecked());
    EXPECT_EQ(dialog.EditVon->text(), "7");
    dialog.CheckBox1->click();
    QTest::keyClick(dialog.EditBis, Qt::Key_9);
    EXPECT_TRUE(dialog.CheckBox1->isChecked());
    dialog.BitBtn1->click();
    EXPECT_TRUE(fakes.messages.shown.empty());
    EXPECT_EQ(dialog.ZeileVon, 0);
    EXPECT_EQ(dialog.ZeileBis, 0);
    EXPECT_EQ(dialog.result(), QDialog::Accepted);
}

TEST_F(DeletionDialogTest, CancelEscapeAndCloseAnswerMinusOne) {
    dialog.EditVon->setText("1");
    dialog.EditBis->setText("2");
    dialog.BitBtn2->click();
    EXPECT_EQ(dialog.ZeileVon, -1);
    EXPECT_FALSE(dialog.isVisible());

    // Every showing starts afresh.
    dialog.show();
    EXPECT_EQ(dialog.ZeileVon, 0);
    EXPECT_EQ(dialog.EditVon->text(), "");
    QTest::keyClick(dialog.EditVon, Qt::Key_Escape);
    EXPECT_EQ(dialog.ZeileVon, -1);

    dialog.show();
    dialog.close();
    EXPECT_EQ(dialog.ZeileVon, -1);
}

TEST(ClampRowRange, LowersToTheLastRowAndKeepsOrder) {
    // 10 data rows: row count 11.
    auto range = ClampRowRange(15, 20, 11);
    EXPECT_EQ(range.first, 10);
    EXPECT_EQ(range.Count(), 1);
    range = ClampRowRange(2, 99, 11);
    EXPECT_EQ(range.first, 2);
    EXPECT_EQ(range.last, 10);
    range = ClampRowRange(-5, 2147483647, 11);
    EXPECT_EQ(range.first, 1);
    EXPECT_EQ(range.last, 10);
    range = ClampRowRange(7, 3, 11);
    EXPECT_EQ(range.first, 7);
    EXPECT_EQ(range.last, 7);
}

TEST(ParseRowNumber, AcceptsLeadingBlanksAndSignsWithin32Bits) {
    EXPECT_EQ(ParseRowNumber("  12"), 12);
    EXPECT_EQ(ParseRowNumber("-2147483648"), -2147483647 - 1);
    EXPECT_EQ(ParseRowNumber("2147483647"), 2147483647);
    for (const char* bad : {"", " ", "+", "2147483648", "-2147483649", "12 ", "1e3", "0x10", "١٢"})
        EXPECT_FALSE(ParseRowNumber(QString::fromUtf8(bad)).has_value()) << bad;
}

}  // namespace
