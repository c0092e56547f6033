#include "window_arrangement.h"

#include <QApplication>
#include <QDir>
#include <QGuiApplication>
#include <QElapsedTimer>
#include <QLibraryInfo>
#include <QGraphicsView>
#include <QScreen>
#include <QSlider>
#include <QStyle>
#include <QStyleOptionSlider>
#include <QThread>
#include <QWidget>

#include <algorithm>
#include <cmath>
#include <initializer_list>
#include <string>
#include <utility>
#include <vector>

#include <opencv2/highgui.hpp>

#include "core/window_layout.h"
#include "plain/library_windows.h"
#include "qt/library_window.h"
#include "window_names.h"

namespace {

void processEvents() { QApplication::processEvents(QEventLoop::AllEvents); }

// Handles the window system's events for a while (key presses stay queued for the key loop).
void settle(int milliseconds) {
    QElapsedTimer timer;
    timer.start();
    do {
        processEvents();
        QThread::msleep(2);
    } while (timer.elapsed() < milliseconds);
}

// The panel shows its sliders and nothing else: no picture area. Every slider gets a groove long
// enough for a mouse to reach each of its steps, the same length for all so they line up.
// Returns the panel's content size.
QSize fitPanelToSliders(QWidget* panel) {
    if (QGraphicsView* view = panel->findChild<QGraphicsView*>()) view->hide();
    const QList<QSlider*> sliders = panel->findChildren<QSlider*>();
    int width = 0;
    for (QSlider* slider : sliders) {
        QStyleOptionSlider option;
        option.initFrom(slider);
        option.orientation = Qt::Horizontal;
        const int handle = slider->style()->pixelMetric(QStyle::PM_SliderLength, &option, slider);
        // One pixel per step, plus the handle, which covers the groove's ends.
        width = std::max(width, slider->maximum() - slider->minimum() + 1 + handle + 8);
    }
    for (QSlider* slider : sliders) slider->setMinimumWidth(width);
    // A little room around the sliders, so no groove ends at the window's edge.
    panel->setContentsMargins(6, 4, 6, 4);
    processEvents();
    const QSize size = panel->minimumSizeHint();
    panel->resize(size);
    return size;
}

QMargins frameOf(const QWidget* window) {
    const QRect outer = window->frameGeometry();
    const QRect inner = window->geometry();
    // A frame is never negative; a bad reading must not push windows off the screen.
    return {std::max(0, inner.left() - outer.left()), std::max(0, inner.top() - outer.top()),
            std::max(0, outer.right() - inner.right()), std::max(0, outer.bottom() - inner.bottom())};
}

// Where a window stands, its frame included. Without a window manager there is no frame, and the
// toolkit's guess at one (from the window's place in the window tree) is wrong while a resize is
// under way, so the window's own position is the answer.
QPoint placeOf(const QWidget* window, bool windowManager) {
    return windowManager ? window->frameGeometry().topLeft() : window->geometry().topLeft();
}

// A window manager frames new windows a moment after they appear; the layout needs the frames.
void waitForFrames(std::initializer_list<QWidget*> windows) {
    QElapsedTimer timer;
    timer.start();
    while (timer.elapsed() < 1000) {
        processEvents();
        if (std::all_of(windows.begin(), windows.end(),
                        [](QWidget* w) { return !frameOf(w).isNull(); })) {
            return;
        }
        settle(5);
    }
}

void showAtOneToOne(const WindowName& window) {
    cv::setWindowProperty(window.id, cv::WND_PROP_AUTOSIZE, cv::WINDOW_AUTOSIZE);
}

// A scaled picture keeps its aspect when the window is resized, unless the view, rounded to whole
// pixels, is already too far from it for the toolkit (a 40000x10 picture shown 1300x1).
void showScaled(const WindowName& window, cv::Size picture, cv::Size view) {
    const double ratioX = static_cast<double>(view.width) / picture.width;
    const double ratioY = static_cast<double>(view.height) / picture.height;
    const bool keepsRatio = std::abs(ratioX - ratioY) * 100 <= ratioX;
    // Before the resize, which is when the toolkit fits the picture to the ratio.
    cv::setWindowProperty(window.id, cv::WND_PROP_ASPECT_RATIO,
                          keepsRatio ? cv::WINDOW_KEEPRATIO : cv::WINDOW_FREERATIO);
    cv::resizeWindow(window.id, view.width, view.height);
}

}  // namespace

std::string useWaylandDisplay(const std::string& display) {
    // Qt draws on Wayland through a platform plugin of its own, packaged apart from Qt itself.
    std::vector<QString> folders;
    const QByteArray pluginPath = qgetenv("QT_QPA_PLATFORM_PLUGIN_PATH");
    if (!pluginPath.isEmpty()) {
        folders.push_back(QString::fromLocal8Bit(pluginPath));
    } else {
#if QT_VERSION_MAJOR >= 6
        folders.push_back(QLibraryInfo::path(QLibraryInfo::PluginsPath) + QStringLiteral("/platforms"));
#else
        folders.push_back(QLibraryInfo::location(QLibraryInfo::PluginsPath) + QStringLiteral("/platforms"));
#endif
        for (const QString& folder : QString::fromLocal8Bit(qgetenv("QT_PLUGIN_PATH")).split(QLatin1Char(':'), Qt::SkipEmptyParts)) {
            folders.push_back(folder + QStringLiteral("/platforms"));
        }
    }
    for (const QString& folder : folders) {
        if (!QDir(folder).entryList({QStringLiteral("*qwayland*")}, QDir::Files).isEmpty()) {
            qputenv("QT_QPA_PLATFORM", "wayland");
            return {};
        }
    }
    return "Qt " + std::to_string(QT_VERSION_MAJOR) + " cannot draw on the Wayland display \"" + display +
           "\" without its Wayland plugin: install " + (QT_VERSION_MAJOR >= 6 ? "qt6-wayland" : "qtwayland5");
}

int pictureWindowFlags(cv::Size) { return cv::WINDOW_NORMAL | cv::WINDOW_KEEPRATIO | cv::WINDOW_GUI_NORMAL; }

void openWindow(const WindowName& window, int flags) { library_windows::open(window, flags); }

// The close button only hides a window here.
bool windowClosed(const WindowName& window) {
    const QWidget* widget = libraryWindow(window);
    return widget == nullptr || !widget->isVisible();
}

void arrangeWindows(cv::Size picture, bool windowManager, const std::vector<const char*>& /*sliderLabels*/) {
    QWidget* panel = libraryWindow(panelWindow);
    QWidget* source = libraryWindow(sourceWindow);
    QWidget* effect = libraryWindow(effectWindow);
    QScreen* screen = panel != nullptr ? panel->screen() : nullptr;
    if (source == nullptr || effect == nullptr || screen == nullptr) {
        showAtOneToOne(sourceWindow);
        showAtOneToOne(effectWindow);
        return;
    }
    // The size asked for, not the one the toolkit reports meanwhile: a window manager's late
    // notice of an earlier size can overwrite that for a moment.
    const QSize panelSize = fitPanelToSliders(panel);
    if (windowManager) waitForFrames({panel, source, effect});

    const QRect area = screen->availableGeometry();
    const QMargins frame = windowManager ? frameOf(panel) : QMargins();
    tonemorph::LayoutRequest request;
    request.area = cv::Rect(area.x(), area.y(), area.width(), area.height());
    request.frame = {frame.left(), frame.top(), frame.right(), frame.bottom()};
    request.panel = cv::Size(panelSize.width(), panelSize.height());
    request.picture = picture;
    tonemorph::WindowLayout layout = tonemorph::layOutWindows(request);

    for (const WindowName* window : {&sourceWindow, &effectWindow}) {
        if (layout.oneToOne) {
            showAtOneToOne(*window);
        } else {
            showScaled(*window, picture, layout.view);
        }
    }
    settle(10);
    // Asked for a scaled view; at 1:1 what the toolkit's fixed size came to (it makes a window
    // for a tiny picture larger than the picture).
    const QSize pictureWindow =
        layout.oneToOne ? source->size() : QSize(layout.view.width, layout.view.height);
    tonemorph::adjustToPictureWindows(layout, request, cv::Size(pictureWindow.width(), pictureWindow.height()));
    // A window manager still busy taking the windows on may place or size them its own way once
    // they are shown, and tells the toolkit only afterwards: ask again until every window has
    // stayed where it belongs for two looks in a row.
    const std::pair<QWidget*, cv::Point> places[] = {
        {panel, layout.panel}, {source, layout.source}, {effect, layout.effect}};
    // A Wayland compositor places every window itself and ignores a program's moves: waiting for
    // them to take would only hold up the start; the sizes still apply.
    const bool canPlace = !QGuiApplication::platformName().startsWith(QLatin1String("wayland"));
    int calmLooks = 0;
    for (int attempt = 0; attempt < 40 && calmLooks < 2; ++attempt) {
        bool placed = panel->size() == panelSize;
        if (!placed) panel->resize(panelSize);
        for (const auto& [window, at] : places) {
            if (canPlace && placeOf(window, windowManager) != QPoint(at.x, at.y)) {
                window->move(at.x, at.y);
                placed = false;
            }
        }
        for (QWidget* window : {source, effect}) {
            if (!layout.oneToOne && window->size() != pictureWindow) {
                window->resize(pictureWindow);
                placed = false;
            }
        }
        calmLooks = placed ? calmLooks + 1 : 0;
        settle(40);
    }
}
