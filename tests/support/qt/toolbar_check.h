#pragma once
// The toolbar check the window tests share.

#include "tests/support/qt/qt_printers.h"

#include <QAction>
#include <QToolBar>
#include <QToolButton>

#include <gtest/gtest.h>

#include <utility>
#include <vector>

// Checks a toolbar left to right: each entry is a widget's object name and its tooltip, or "|" for a
// separator. Every button must show a picture.
inline void ExpectToolBar(QToolBar* bar, const std::vector<std::pair<QString, QString>>& expected) {
    const QList<QAction*> actions = bar->actions();
    ASSERT_EQ(actions.size(), static_cast<qsizetype>(expected.size()));
    for (size_t i = 0; i < expected.size(); ++i) {
        SCOPED_TRACE(expected[i].first.toStdString());
        if (expected[i].first == "|") {
            EXPECT_TRUE(actions[i]->isSeparator());
            continue;
        }
        QWidget* widget = bar->widgetForAction(actions[i]);
        ASSERT_NE(widget, nullptr);
        EXPECT_EQ(widget->objectName(), expected[i].first);
        EXPECT_EQ(widget->toolTip(), expected[i].second);
        if (auto* button = qobject_cast<QToolButton*>(widget)) {
            EXPECT_FALSE(button->icon().isNull());
        }
    }
}
