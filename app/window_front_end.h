#pragma once
// The main window as the front end of a mailing run and of a single send: the run's data shows in the
// window's fields, its questions and messages in the window's boxes.

#include "mailing/mailing_run.h"

class TFormNewMail;

class WindowFrontEnd : public RunFrontEnd {
public:
    explicit WindowFrontEnd(TFormNewMail& window) : window_(window) {}

    AccountSettings Account() override;
    SendOptions Options() override;
    std::shared_ptr<TIdAccessTokenSource> AccessTokens() override;
    std::string CopyList() override;
    void ProcessPendingInput() override;
    bool StopRequested() override;
    void ClearStopRequest() override;
    bool Ask(const std::string& text) override;
    std::optional<std::string> PickListFile(const std::string& folder, const std::string& proposedName) override;
    void ShowError(const std::string& text) override;
    void ShowInformation(const std::string& text) override;
    void SetProgressMaximum(int maximum) override;
    void SetProgress(int value) override;
    void SetStatus(const std::string& text, bool aborted) override;
    void ShowLineFields(const std::string& address, const std::string& subject,
                        const std::string& attachment) override;
    void ShowMessageText(const std::string& text, bool fileWasWindows1252) override;
    void ShowMailNumber(int number) override;
    void SetCurrentTextFile(const std::string& path) override;
    void ShowSendError(const std::string& details) override;
    bool ShowRunSendError(const std::string& details) override;
    void ShowProgressText(const std::string& text) override;
    void Pause(std::chrono::milliseconds duration) override;
    void ShowConnected() override;

private:
    TFormNewMail& window_;
};
