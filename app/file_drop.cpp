#include "app/file_drop.h"

#include <QCoreApplication>
#include <QDropEvent>
#include <QMimeData>
#include <QUrl>
#include <QWidget>

QStringList DroppedLocalFiles(const QMimeData* data) {
    QStringList paths;
    if (data == nullptr || !data->hasUrls()) return paths;
    for (const QUrl& url : data->urls()) {
        if (url.isLocalFile()) paths << url.toLocalFile();
    }
    return paths;
}

FileDropCatcher::FileDropCatcher(QWidget& window, std::function<void(const QStringList&)> onDrop)
    : QObject(&window), window_(window), onDrop_(std::move(onDrop)) {
    QCoreApplication::instance()->installEventFilter(this);
}

FileDropCatcher::~FileDropCatcher() { QCoreApplication::instance()->removeEventFilter(this); }

bool FileDropCatcher::eventFilter(QObject* watched, QEvent* event) {
    const QEvent::Type type = event->type();
    if (type != QEvent::DragEnter && type != QEvent::DragMove && type != QEvent::Drop) return false;
    if (!window_.acceptDrops() || !watched->isWidgetType()) return false;
    if (static_cast<QWidget*>(watched)->window() != &window_) return false;
    // QDragEnterEvent and QDragMoveEvent are drop events too.
    auto* drag = static_cast<QDropEvent*>(event);
    const QStringList paths = DroppedLocalFiles(drag->mimeData());
    if (paths.isEmpty()) return false;
    drag->acceptProposedAction();
    if (type == QEvent::Drop) onDrop_(paths);
    return true;  // the field under the pointer never sees a file drag
}
