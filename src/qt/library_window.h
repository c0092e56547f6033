// The toolkit's top-level widget behind one of the library's windows, found by the object name the
// library gives each of its windows (the window's id); null when there is none, or no Qt.
#pragma once

#include <QApplication>
#include <QString>
#include <QWidget>

#include "toolkit_failure.h"
#include "window_names.h"

inline QWidget* libraryWindow(const WindowName& window) {
    if (QApplication::instance() == nullptr) return nullptr;
    const QString name = QString::fromUtf8(window.id);
    for (QWidget* widget : QApplication::topLevelWidgets()) {
        if (widget->parentWidget() == nullptr && widget->objectName() == name) return widget;
    }
    return nullptr;
}
