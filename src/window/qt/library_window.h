// The toolkit's top-level widget behind one of the library's windows, found by the object name the
// library gives each of its windows (the window's id); null when there is none, or no Qt.
#pragma once

#include <QApplication>
#include <QGraphicsView>
#include <QMetaObject>
#include <QString>
#include <QWidget>

#include <cmath>

#include "window/toolkit_failure.h"
#include "window/window_names.h"

// The library's view keeps a picture's shape by this rule: an area off the shape by more than a
// hundredth of its scale is fitted to it, otherwise the view fills the area.
inline bool nearlyShaped(QSize area, QSize shape) {
    const double ratioX = static_cast<double>(area.width()) / shape.width();
    const double ratioY = static_cast<double>(area.height()) / shape.height();
    return std::abs(ratioX - ratioY) * 100 <= ratioX;
}

inline QWidget* libraryWindow(const WindowName& window) {
    if (QApplication::instance() == nullptr) return nullptr;
    const QString name = QString::fromUtf8(window.id);
    for (QWidget* widget : QApplication::topLevelWidgets()) {
        if (widget->parentWidget() == nullptr && widget->objectName() == name) return widget;
    }
    return nullptr;
}

// After a zoom step of the library's picture view: true when the step brought it back to the
// whole picture, which it then shows with exactly its first transform (steps out stop at a scale
// that is only nearly one, and the view would pick other pixels at it). The view keeps no zoom
// level we can read, but every step sets its hand cursor when zoomed in and unsets it otherwise.
inline bool backToWholePicture(QGraphicsView* view) {
    if (view == nullptr || view->testAttribute(Qt::WA_SetCursor)) return false;
    QMetaObject::invokeMethod(view, "resetZoom");
    view->viewport()->update();
    return true;
}
