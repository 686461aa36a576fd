#pragma once
// The application's help manager: it knows the help file and the window that owns help windows, and
// passes every help request on to the viewers registered with it. It shows nothing by itself.

#include <QString>
#include <QStringList>

#include <vector>

class QWidget;

// What a help viewer must answer and do.
class ICustomHelpViewer {
public:
    virtual ~ICustomHelpViewer() = default;
    virtual QString GetViewerName() const = 0;
    virtual int UnderstandsKeyword(const QString& helpString) const = 0;
    virtual QStringList GetHelpStrings(const QString& helpString) const = 0;
    virtual bool CanShowTableOfContents() const = 0;
    virtual void ShowTableOfContents() = 0;
    virtual void ShowHelp(const QString& helpString) = 0;
    virtual void NotifyID(int viewerId) = 0;
    virtual void SoftShutDown() = 0;
    virtual void ShutDown() = 0;
    // The extended part: topics and context numbers.
    virtual bool UnderstandsTopic(const QString& topic) const = 0;
    virtual void DisplayTopic(const QString& topic) = 0;
    virtual bool UnderstandsContext(int contextId, const QString& helpFileName) const = 0;
    virtual void DisplayHelpByContext(int contextId, const QString& helpFileName) = 0;
};

// Picks one viewer when several could serve a request.
class IHelpSelector {
public:
    virtual ~IHelpSelector() = default;
    virtual int SelectKeyword(const QStringList& keywords) const = 0;
    virtual int TableOfContents(const QStringList& contents) const = 0;
};

// The older WinHelp viewer's questions; the program's tester declines them all.
class IWinHelpTester {
public:
    virtual ~IWinHelpTester() = default;
    virtual bool CanShowALink(const QString& aLink, const QString& fileName) const = 0;
    virtual bool CanShowTopic(const QString& topic, const QString& fileName) const = 0;
    virtual bool CanShowContext(int context, const QString& fileName) const = 0;
    virtual QStringList GetHelpStrings(const QString& aLink) const = 0;
    virtual QString GetHelpPath() const = 0;
    virtual QString GetDefaultHelpFile() const = 0;
};

class HelpManager {
public:
    // The application's help manager, for the whole run.
    static HelpManager& Instance();

    // The window that owns help windows; the help file the requests are about.
    QWidget* GetHandle() const { return owner_; }
    void SetHandle(QWidget* owner) { owner_ = owner; }
    QString GetHelpFile() const { return helpFile_; }
    void SetHelpFile(const QString& file) { helpFile_ = file; }

    // Registers a viewer and tells it its number. The viewer stays owned by the caller.
    HelpManager& RegisterViewer(ICustomHelpViewer* viewer);
    void Release(int viewerId);
    void SetHelpSelector(IHelpSelector* selector) { selector_ = selector; }
    void SetWinHelpTester(IWinHelpTester* tester) { winHelpTester_ = tester; }
    IWinHelpTester* WinHelpTester() const { return winHelpTester_; }
    size_t ViewerCount() const { return viewers_.size(); }

    // Requests. Each returns false when no viewer took it.
    bool ContextHelp(int contextId);
    bool ShowTableOfContents();
    bool KeywordHelp(const QString& keyword);

private:
    struct Entry {
        int id;
        ICustomHelpViewer* viewer;
    };
    std::vector<Entry> viewers_;
    int nextId_ = 1;
    IHelpSelector* selector_ = nullptr;
    IWinHelpTester* winHelpTester_ = nullptr;
    QWidget* owner_ = nullptr;
    QString helpFile_;
};
