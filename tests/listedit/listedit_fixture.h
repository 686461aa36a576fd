#pragma once
// What the list editor tests share: a private data folder with a list file, scripted services and a
// grid window that answers its modal dialogs through a script.

#include "listedit/form_grid.h"
#include "listedit/form_loeschen.h"
#include "tests/support/qt/fake_services.h"
#include "tests/support/qt/qt_printers.h"
#include "tests/support/qt/toolbar_check.h"
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
