// The main window's check of the whole mailing: "Mailing prüfen", the check before every run, and the
// preview and the list editor opened from the check's findings.

#include "app/main_window.h"

#include "app/check_window.h"
#include "listedit/form_grid.h"
#include "listedit/preview_window.h"
#include "mailing/data_folder.h"
#include "mailing/file_io.h"
#include "mailing/list_file.h"
#include "mailing/text_codec.h"
#include "ui/services.h"

#include <QLineEdit>

CheckInput TFormNewMail::CheckInputNow() const {
    CheckInput input;
    input.dataFolder = dataFolder_;
    input.listPath = DataFilePath(dataFolder_, kListFileName);
    input.account = AccountFields();
    input.options = sendOptions_;
    input.cc = ToLocal(EditCC->text());
    return input;
}

TFormCheck& TFormNewMail::CheckWindow() {
    if (checkWindow_ == nullptr) {
        checkWindow_ = new TFormCheck(this);
        checkWindow_->onPreview = [this](int line) {
            RunGuarded([&] {
                const MailPreview preview = PreviewLine(CheckInputNow(), line);
                TFormPreview(checkWindow_).ShowPreview(preview, line);
            });
        };
        checkWindow_->onOpenLine = [this](int line) {
            if (windows_.grid == nullptr) return;
            windows_.grid->SetDataFolder(dataFolder_);
            windows_.grid->SetLineToShow(line);
            windows_.grid->exec();
        };
    }
    return *checkWindow_;
}

void TFormNewMail::BitBtnCheckMailingClick() {
    const CheckInput input = CheckInputNow();
    if (!FileExists(input.listPath)) {
        services::Messages().Warning(QString::fromUtf8("Keine Empfängerliste gefunden: %1").arg(FromLocal(input.listPath)));
        return;
    }
    CheckReport report;
    {
        BusyCursor busy;
        report = CheckMailing(input);
        if (sendOptions_.sentCopy) CheckSentFolderInto(report);
    }
    CheckWindow().ShowReport(report, TFormCheck::Purpose::Check);
}

bool TFormNewMail::CheckBeforeRun() {
    if (!sendOptions_.checkBeforeRun) return true;
    const CheckInput input = CheckInputNow();
    // Without the list the run asks for one itself.
    if (!FileExists(input.listPath)) return true;
    CheckReport report;
    {
        BusyCursor busy;
        report = CheckMailing(input);
    }
    return report.Clean() || CheckWindow().ShowReport(report, TFormCheck::Purpose::BeforeRun);
}
