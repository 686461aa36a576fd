#pragma once
// Files dragged from the file manager onto a window. The window's own text fields and the viewport of its
// message field accept drops themselves and would insert the file's address ("file:///...") as text; this
// filter sees every drag aimed at the window or at any of its children first and hands the dropped files'
// paths to the window instead. Drags that carry no local file (text moved between fields) pass through.

#include <QObject>
#include <QStringList>

#include <functional>

class QMimeData;
class QWidget;

// The paths of the local files that a drag carries, in the order given; links that are not files are left out.
QStringList DroppedLocalFiles(const QMimeData* data);

class FileDropCatcher : public QObject {
public:
    // Watches drags aimed at `window` and its children once the window accepts drops; `onDrop` gets the
    // paths of each drop. The catcher is a child of the window and filters the application's events.
    FileDropCatcher(QWidget& window, std::function<void(const QStringList&)> onDrop);
    ~FileDropCatcher() override;

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    QWidget& window_;
    std::function<void(const QStringList&)> onDrop_;
};
