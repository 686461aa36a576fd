#pragma once
// What the list editor tests share: a private data folder with a list file, scripted services and a
// grid window that answers its modal dialogs through a script.

#include "listedit/form_grid.h"
#include "listedit/form_loeschen.h"
#include "tests/support/qt/fake_services.h"
#include "tests/support/qt/qt_printers.h"
#include "tests/support/temp_dir.h"

#include <QAction>
#include <QLineEdit>
#include <QToolBar>
#include <QToolButton>
#include <QLocale>
#include <QPushButton>

#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <sys/stat.h>
#include <vector>

// Checks a toolbar left to right: each entry is a widget's object name and its tooltip, or "|" for a
// separator. Every button must show a picture.
inline void ExpectToolBar(QToolBar* bar, const std::vector<std::pair<QString, QString>>& expected) {
    const QList<QAction*> actions = bar->actions();
    ASSERT_EQ(actions.size(), static_cast<qsizetype>(expected.size()));
    for (size_t i = 0; i < expected.size(); ++i) {
        SCOPED_TRACE(expected[i].first.toStdString());
        if (expected[i].first == "|") {
            EXPECT_TRUE(actions[i]->isSeparator());
            continue;
        }
        QWidget* widget = bar->widgetForAction(actions[i]);
        ASSERT_NE(widget, nullptr);
        EXPECT_EQ(widget->objectName(), expected[i].first);
        EXPECT_EQ(widget->toolTip(), expected[i].second);
        if (auto* button = qobject_cast<QToolButton*>(widget)) {
            EXPECT_FALSE(button->icon().isNull());
        }
    }
}

class ListEditorTest : public ::testing::Test {
protected:
    ListEditorTest() {
        mkdir(Folder().c_str(), 0700);
        grid.SetDataFolder(Folder());
        grid.SetModalRunner([this](QDialog& dialog) {
            ASSERT_TRUE(onModal) << "unexpected modal dialog " << dialog.objectName().toStdString();
            onModal(dialog);
        });
    }
    ~ListEditorTest() override { QLocale::setDefault(savedLocale_); }

    std::string Folder() const { return home.Path() + "/ptdata/"; }
    std::string ListPath() const { return Folder() + "sendlist.csv"; }
    void WriteList(const std::string& bytes) const { home.Write("ptdata/sendlist.csv", bytes); }

    // The texts of columns 1 to 7 of a row, joined with "|", trailing empty cells left off.
    std::string RowText(int row) {
        std::string text;
        std::string pending;
        for (int c = 1; c < kGridColumns; ++c) {
            const std::string cell = grid.Table().Cell(row, c).toStdString();
            if (c > 1) pending += "|";
            pending += cell;
            if (!cell.empty()) {
                text += pending;
                pending.clear();
            }
        }
        return text;
    }
    std::vector<std::string> Column(int column) {
        std::vector<std::string> cells;
        for (int r = 1; r < grid.Table().RowCount(); ++r) cells.push_back(grid.Table().Cell(r, column).toStdString());
        return cells;
    }
    // The row deletion dialog answers with these texts and OK.
    void AnswerDeletion(const QString& von, const QString& bis) {
        onModal = [von, bis](QDialog& dialog) {
            auto& ask = dynamic_cast<TFormLoeschen&>(dialog);
            ask.FormShow();
            ask.EditVon->setText(von);
            ask.EditBis->setText(bis);
            ask.BitBtn1->click();
        };
    }

    TempDir home;
    FakeServices fakes;
    TFormGrid grid;
    std::function<void(QDialog&)> onModal;

private:
    QLocale savedLocale_;
};
