#pragma once
// F1 in any control of a window asks that window for help. The window sees the key before its
// controls, so a field that would take F1 for itself cannot swallow it.

#include <QObject>

#include <functional>

class QWidget;

class HelpKeyWatcher : public QObject {
public:
    HelpKeyWatcher(QWidget* window, std::function<void()> onHelp);
    ~HelpKeyWatcher() override;

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    QWidget* window_;
    std::function<void()> onHelp_;
};
