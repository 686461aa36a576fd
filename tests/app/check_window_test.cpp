// "Mailing prüfen" and the check before a run as a user meets them: the findings' table, the preview
// and the list editor opened from it, "Abbrechen" and "Trotzdem senden", and a clean list that starts
// at once.

#include "app/check_window.h"
#include "app/main_window.h"
#include "app/options_window.h"
#include "listedit/form_grid.h"
#include "listedit/preview_window.h"
#include "mailing/file_io.h"
#include "tests/support/qt/fake_services.h"
#include "tests/support/qt/fake_transport.h"
#include "tests/support/qt/qt_printers.h"
#include "tests/support/temp_dir.h"

#include <QApplication>
#include <QCheckBox>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTableWidget>
#include <QTest>
#include <QTimer>
#include <QToolButton>

#include <gtest/gtest.h>

#include <functional>

namespace {

class CheckWindowTest : public ::testing::Test {
protected:
    CheckWindowTest() {
        window.FormShow();
        window.SetOtherWindows({nullptr, &grid, nullptr, nullptr});
        window.SetTransport(std::make_unique<SharedFakeTransport>(transport));
        window.EditHost->setText("smtp.example.de");
        window.EditUser->setText("ich@example.de");
        window.MaskEdit->setText("geheim");
        window.EditPort->setText("25");
        WriteFileAtomic(window.DataFolder() + "defaultmail.txt", "Hallo $Prename $Name\r\n");
    }

    void Click(const char* name) { window.findChild<QToolButton*>(QString::fromLatin1(name))->click(); }
    // Works the modal window of type W that the next command shows, once it is up.
    template <class W>
    void WhenShown(std::function<void(W&)> act) {
        QTimer::singleShot(0, [act] {
            for (QWidget* top : QApplication::topLevelWidgets()) {
                if (auto* shown = qobject_cast<W*>(top); shown != nullptr && shown->isVisible()) return act(*shown);
            }
            ADD_FAILURE() << "the window did not show: " << W::staticMetaObject.className();
        });
    }

    DataHome home;
    FakeServices fakes;
    FakeTransport transport;
    TFormGrid grid;
    TFormNewMail window;
};

TEST_F(CheckWindowTest, FindingsStopTheRunUntilTheUserSendsAnywayAndLeadToPreviewAndList) {
    WriteFileAtomic(window.DataFolder() + "sendlist.csv",
                    "Meier;Hans;hans@x.de;Angebot;;;;\r\nOhne;;ohne@x.de;Angebot;;;;\r\nSchulz;Erika;erika@x.de;Angebot;;;;\r\n");

    // "Abbrechen": the finding was shown, nothing went out.
    WhenShown<TFormCheck>([](TFormCheck& check) {
        EXPECT_TRUE(check.ButtonSend->isVisible());
        ASSERT_EQ(check.TableFindings->rowCount(), 1);
        EXPECT_EQ(check.TableFindings->item(0, 0)->text(), "2");
        EXPECT_EQ(check.TableFindings->item(0, 2)->text(), "Fehler");
        QTest::mouseClick(check.ButtonClose, Qt::LeftButton);
    });
    Click("ToolButton3");
    EXPECT_TRUE(transport.sent.empty());

    // From "Mailing prüfen": the preview of the row, then the list editor at that line.
    WhenShown<TFormCheck>([this](TFormCheck& check) {
        EXPECT_FALSE(check.ButtonSend->isVisible());
        WhenShown<TFormPreview>([](TFormPreview& preview) {
            EXPECT_EQ(preview.EditTo->text(), "ohne@x.de");
            EXPECT_EQ(preview.EditSubject->text(), "Angebot");
            EXPECT_FALSE(preview.LabelProblem->text().isEmpty());
            QTest::mouseClick(preview.ButtonClose, Qt::LeftButton);
        });
        QTest::mouseClick(check.ButtonPreview, Qt::LeftButton);
        WhenShown<TFormGrid>([this](TFormGrid& shown) {
            EXPECT_EQ(shown.CurrentRow(), 2);
            // The editor's preview shows the row as edited, before it is saved.
            shown.Table().EditCell(2, 2, "Olga");
            WhenShown<TFormPreview>([](TFormPreview& preview) {
                EXPECT_EQ(preview.MemoBody->toPlainText(), "Hallo Olga Ohne");
                EXPECT_TRUE(preview.LabelProblem->text().isEmpty());
                QTest::mouseClick(preview.ButtonClose, Qt::LeftButton);
            });
            shown.findChild<QToolButton*>("ToolButtonPreview")->click();
            fakes.messages.choices.push_back(1);  // "Nein": the unsaved edit is dropped on closing
            grid.ToolButton15Click();
        });
        const QRect cell = check.TableFindings->visualItemRect(check.TableFindings->item(0, 1));
        QTest::mouseClick(check.TableFindings->viewport(), Qt::LeftButton, {}, cell.center());
        QTest::mouseDClick(check.TableFindings->viewport(), Qt::LeftButton, {}, cell.center());
        QTest::mouseClick(check.ButtonClose, Qt::LeftButton);
    });
    Click("ToolButtonCheckMailing");
    EXPECT_TRUE(transport.sent.empty());

    // "Trotzdem senden": the run goes as it would without the check.
    WhenShown<TFormCheck>([](TFormCheck& check) { QTest::mouseClick(check.ButtonSend, Qt::LeftButton); });
    Click("ToolButton3");
    EXPECT_EQ(transport.sent.size(), 2u);
    // Opened again after "Trotzdem senden", with the focus where the window system puts it back (on the
    // button pressed last), Enter still cancels.
    WhenShown<TFormCheck>([](TFormCheck& check) {
        check.ButtonSend->setFocus(Qt::ActiveWindowFocusReason);
        QTest::keyClick(QApplication::focusWidget(), Qt::Key_Return);
    });
    Click("ToolButton3");
    EXPECT_EQ(transport.sent.size(), 2u);

    // A clean list starts at once, also with a note (the size of an HTML text's picture); so does any list
    // with the option off.
    WriteFileAtomic(window.DataFolder() + "logo.png", "png");
    WriteFileAtomic(window.DataFolder() + "brief.html", "<p>Hallo</p><img src=\"logo.png\">");
    WriteFileAtomic(window.DataFolder() + "sendlist.csv", "Meier;Hans;hans@x.de;Angebot;" + window.DataFolder() + "brief.html;;;\r\n");
    Click("ToolButton3");
    ASSERT_EQ(transport.sent.size(), 3u);
    EXPECT_TRUE(transport.sent.back().html);
    QTimer::singleShot(0, [this] {
        TFormOptions& options = window.OptionsWindow();
        // On its box: the check box is as wide as the window, its text is not.
        QTest::mouseClick(options.CheckBeforeRun, Qt::LeftButton, {}, QPoint(8, options.CheckBeforeRun->height() / 2));
        QTest::mouseClick(options.ButtonOK, Qt::LeftButton);
    });
    Click("ToolButtonOptions");
    WriteFileAtomic(window.DataFolder() + "sendlist.csv", "Ohne;;ohne@x.de;Angebot;;;;\r\n");
    Click("ToolButton3");
    EXPECT_EQ(window.StatusText(), "Mailing komplett.");  // nothing sent: nothing to count
}

}  // namespace
