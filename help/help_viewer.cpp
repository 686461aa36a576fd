#include "help/help_viewer.h"

#include <QApplication>
#include <QFileInfo>

bool IsChmFile(const QString& name) {
    const qsizetype dot = name.lastIndexOf(QLatin1Char('.'));
    if (dot < 0) return false;
    return name.mid(dot).compare(QLatin1String(".chm"), Qt::CaseInsensitive) == 0;
}

TVelHtmlHelpViewer::TVelHtmlHelpViewer(std::unique_ptr<HtmlHelpEngine> engine) : engine_(std::move(engine)) {}

TVelHtmlHelpViewer::~TVelHtmlHelpViewer() { Unregister(); }

void TVelHtmlHelpViewer::Register(HelpManager& manager) {
    manager_ = &manager;
    manager.RegisterViewer(this);
    manager.SetHelpSelector(this);
}

void TVelHtmlHelpViewer::Unregister() {
    if (manager_ == nullptr) return;
    manager_->Release(viewerId_);
    manager_->SetHelpSelector(nullptr);
    manager_ = nullptr;
}

QString TVelHtmlHelpViewer::GetViewerName() const { return QString::fromLatin1(kViewerName); }

int TVelHtmlHelpViewer::UnderstandsKeyword(const QString&) const { return IsHtmlHelp() ? 1 : 0; }

QStringList TVelHtmlHelpViewer::GetHelpStrings(const QString& helpString) const {
    return {QStringLiteral("%1: %2").arg(GetViewerName(), helpString)};
}

void TVelHtmlHelpViewer::ShowTableOfContents() {
    if (IsHtmlHelp()) DoHtmlHelp(GetHelpFile(), HH_DISPLAY_TOC, 0);
}

void TVelHtmlHelpViewer::ShowHelp(const QString& helpString) {
    if (!IsHtmlHelp()) return;
    QString keyword = helpString;
    const qsizetype colon = keyword.indexOf(QLatin1Char(':'));
    if (colon >= 0) keyword = keyword.mid(colon + 1);
    DoHtmlHelp(GetHelpFile(), HH_DISPLAY_INDEX, keyword.trimmed());
}

void TVelHtmlHelpViewer::SoftShutDown() { DoHtmlHelp(QString(), HH_CLOSE_ALL, 0); }

void TVelHtmlHelpViewer::ShutDown() {
    SoftShutDown();
    manager_ = nullptr;
}

bool TVelHtmlHelpViewer::UnderstandsTopic(const QString&) const { return IsHtmlHelp(); }

void TVelHtmlHelpViewer::DisplayTopic(const QString& topic) {
    if (!IsHtmlHelp()) return;
    QString page = topic;
    const QString suffix = QFileInfo(page).fileName().contains(QLatin1Char('.'))
                               ? page.mid(page.lastIndexOf(QLatin1Char('.'))).toLower()
                               : QString();
    if (suffix != QLatin1String(".htm") && suffix != QLatin1String(".html")) page += QLatin1String(kDefaultExtension);
    DoHtmlHelp(GetHelpFile() + QStringLiteral("::/") + page, HH_DISPLAY_TOPIC, 0);
}

bool TVelHtmlHelpViewer::UnderstandsContext(int, const QString& helpFileName) const {
    return IsChmFile(helpFileName);
}

void TVelHtmlHelpViewer::DisplayHelpByContext(int contextId, const QString&) {
    if (IsHtmlHelp()) DoHtmlHelp(GetHelpFile(), HH_HELP_CONTEXT, contextId);
}

int TVelHtmlHelpViewer::SelectKeyword(const QStringList& keywords) const {
    const QString name = GetViewerName();
    for (int i = 0; i < keywords.size(); ++i) {
        const QString& entry = keywords[i];
        const qsizetype colon = entry.indexOf(QLatin1Char(':'));
        if ((colon < 0 ? entry : entry.left(colon)) == name) return i;
    }
    return 0;
}

int TVelHtmlHelpViewer::TableOfContents(const QStringList& contents) const {
    for (int i = 0; i < contents.size(); ++i)
        if (contents[i].compare(GetViewerName(), Qt::CaseInsensitive) == 0) return i;
    return -1;
}

QString TVelHtmlHelpViewer::GetHelpFile() const {
    QString file;
    if (manager_ != nullptr) file = manager_->GetHelpFile();
    if (file.isEmpty()) file = HelpManager::Instance().GetHelpFile();
    if (!file.isEmpty() && !file.contains(QLatin1Char('/'))) {
        file = QCoreApplication::applicationDirPath() + QLatin1Char('/') + file;
    }
    return file;
}

void TVelHtmlHelpViewer::DoHtmlHelp(const QString& file, int command, const QVariant& data) {
    if (!engine_) return;
    if (command == HH_GET_LAST_ERROR) return;
    if (command == HH_CLOSE_ALL) {
        engine_->HtmlHelp(nullptr, QString(), command, data);
        return;
    }
    engine_->HtmlHelp(manager_ != nullptr ? manager_->GetHandle() : nullptr, file, command, data);
}
