#include "help/help_manager.h"

#include <algorithm>

HelpManager& HelpManager::Instance() {
    static HelpManager manager;
    return manager;
}

HelpManager& HelpManager::RegisterViewer(ICustomHelpViewer* viewer) {
    const int id = nextId_++;
    viewers_.push_back({id, viewer});
    viewer->NotifyID(id);
    return *this;
}

void HelpManager::Release(int viewerId) {
    std::erase_if(viewers_, [viewerId](const Entry& entry) { return entry.id == viewerId; });
}

bool HelpManager::ContextHelp(int contextId) {
    // The first viewer that understands the context serves it.
    for (const Entry& entry : viewers_) {
        if (entry.viewer->UnderstandsContext(contextId, helpFile_)) {
            entry.viewer->DisplayHelpByContext(contextId, helpFile_);
            return true;
        }
    }
    return false;
}

bool HelpManager::ShowTableOfContents() {
    std::vector<ICustomHelpViewer*> capable;
    for (const Entry& entry : viewers_)
        if (entry.viewer->CanShowTableOfContents()) capable.push_back(entry.viewer);
    if (capable.empty()) return false;
    if (capable.size() == 1 || selector_ == nullptr) {
        capable.front()->ShowTableOfContents();
        return true;
    }
    // Several could: their names, sorted, go to the selector, which names the one to use.
    std::sort(capable.begin(), capable.end(), [](const ICustomHelpViewer* a, const ICustomHelpViewer* b) {
        return a->GetViewerName().compare(b->GetViewerName(), Qt::CaseInsensitive) < 0;
    });
    QStringList names;
    for (const ICustomHelpViewer* viewer : capable) names << viewer->GetViewerName();
    const int index = selector_->TableOfContents(names);
    if (index < 0 || index >= static_cast<int>(capable.size())) return false;
    capable[static_cast<size_t>(index)]->ShowTableOfContents();
    return true;
}

bool HelpManager::KeywordHelp(const QString& keyword) {
    QStringList strings;
    std::vector<ICustomHelpViewer*> owners;
    for (const Entry& entry : viewers_) {
        if (entry.viewer->UnderstandsKeyword(keyword) <= 0) continue;
        for (const QString& text : entry.viewer->GetHelpStrings(keyword)) {
            strings << text;
            owners.push_back(entry.viewer);
        }
    }
    if (strings.isEmpty()) return false;
    int index = 0;
    if (strings.size() > 1 && selector_ != nullptr) index = selector_->SelectKeyword(strings);
    if (index < 0 || index >= strings.size()) return false;
    owners[static_cast<size_t>(index)]->ShowHelp(strings[index]);
    return true;
}
