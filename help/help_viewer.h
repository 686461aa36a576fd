#pragma once
// The viewer that serves the application's help requests from the compiled HTML help file, and the tester
// that keeps the older WinHelp viewer from claiming any request. The viewer only decides which engine
// command a request becomes; the engine behind it does the showing.

#include "help/help_manager.h"

#include <QVariant>

#include <memory>

// The HTML help commands the viewer uses.
enum HtmlHelpCommand : int {
    HH_DISPLAY_TOPIC = 0,
    HH_DISPLAY_TOC = 1,
    HH_DISPLAY_INDEX = 2,
    HH_HELP_CONTEXT = 15,
    HH_CLOSE_ALL = 18,
    HH_GET_LAST_ERROR = 20,
};

// The engine that shows help: an owner window, a file name (possibly with "::/topic"), a command and
// its data (a number or a text). Its result is not used.
class HtmlHelpEngine {
public:
    virtual ~HtmlHelpEngine() = default;
    virtual void HtmlHelp(QWidget* owner, const QString& file, int command, const QVariant& data) = 0;
};

// True when the name's last "." starts ".chm", in any letter case.
bool IsChmFile(const QString& name);

class TVelHtmlHelpViewer : public ICustomHelpViewer, public IHelpSelector {
public:
    static constexpr const char* kViewerName = "VelHtmlHelp";
    static constexpr const char* kDefaultExtension = ".htm";

    // `engine` may be null: every request then does nothing, silently.
    explicit TVelHtmlHelpViewer(std::unique_ptr<HtmlHelpEngine> engine);
    ~TVelHtmlHelpViewer() override;

    // Registers with the manager and becomes its help selector.
    void Register(HelpManager& manager);
    // At program end: gives back the viewer number and forgets the manager.
    void Unregister();

    QString GetViewerName() const override;
    int UnderstandsKeyword(const QString& helpString) const override;
    QStringList GetHelpStrings(const QString& helpString) const override;
    bool CanShowTableOfContents() const override { return true; }
    void ShowTableOfContents() override;
    void ShowHelp(const QString& helpString) override;
    void NotifyID(int viewerId) override { viewerId_ = viewerId; }
    void SoftShutDown() override;
    void ShutDown() override;
    bool UnderstandsTopic(const QString& topic) const override;
    void DisplayTopic(const QString& topic) override;
    bool UnderstandsContext(int contextId, const QString& helpFileName) const override;
    void DisplayHelpByContext(int contextId, const QString& helpFileName) override;

    int SelectKeyword(const QStringList& keywords) const override;
    int TableOfContents(const QStringList& contents) const override;

    // The help file the requests are about: the manager's, else the application's; a bare name is taken
    // from the program's folder.
    QString GetHelpFile() const;
    void DoHtmlHelp(const QString& file, int command, const QVariant& data);

    int ViewerId() const { return viewerId_; }
    bool HasManager() const { return manager_ != nullptr; }

private:
    bool IsHtmlHelp() const { return IsChmFile(GetHelpFile()); }

    std::unique_ptr<HtmlHelpEngine> engine_;
    HelpManager* manager_ = nullptr;
    int viewerId_ = 0;
};

class TVelWinHelpTester : public IWinHelpTester {
public:
    bool CanShowALink(const QString&, const QString&) const override { return false; }
    bool CanShowTopic(const QString&, const QString&) const override { return false; }
    bool CanShowContext(int, const QString&) const override { return false; }
    QStringList GetHelpStrings(const QString& aLink) const override { return {QStringLiteral(": ") + aLink}; }
    QString GetHelpPath() const override { return {}; }
    QString GetDefaultHelpFile() const override { return {}; }
};
