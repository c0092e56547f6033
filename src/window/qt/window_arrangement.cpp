#include "window/window_arrangement.h"

#include <QApplication>
#include <QDir>
#include <QGuiApplication>
#include <QElapsedTimer>
#include <QLibraryInfo>
#include <QGraphicsView>
#include <QLayout>
#include <QScreen>
#include <QSlider>
#include <QStyle>
#include <QStyleOptionSlider>
#include <QThread>
#include <QWidget>

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <initializer_list>
#include <string>
#include <utility>
#include <vector>

#include <opencv2/highgui.hpp>

#if defined(__has_include)
#if __has_include(<xcb/xcb.h>)
#include <xcb/xcb.h>
#define TONEMORPH_QT_XCB 1
#endif
#endif
#ifndef TONEMORPH_QT_XCB
#define TONEMORPH_QT_XCB 0
#endif

#include "core/window_layout.h"
#include "window/plain/library_windows.h"
#include "window/qt/library_window.h"
#include "window/window_names.h"

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
    // The panel's layout would hold it to the sliders' height, and a tiling window manager's
    // tile is taller: the part of it outside the panel would never be drawn.
    if (QLayout* box = panel->layout()) box->setSizeConstraint(QLayout::SetMinimumSize);
    panel->setMaximumSize(QWIDGETSIZE_MAX, QWIDGETSIZE_MAX);
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
    const bool keepsRatio = nearlyShaped(QSize(view.width, view.height), QSize(picture.width, picture.height));
    // Before the resize, which is when the toolkit fits the picture to the ratio.
    cv::setWindowProperty(window.id, cv::WND_PROP_ASPECT_RATIO,
                          keepsRatio ? cv::WINDOW_KEEPRATIO : cv::WINDOW_FREERATIO);
    cv::resizeWindow(window.id, view.width, view.height);
}

// The sizes the X server has for the windows, whatever the toolkit believes.
class ServerSizes {
public:
    ServerSizes() {
#if TONEMORPH_QT_XCB
        if (QGuiApplication::platformName() == QLatin1String("xcb")) {
            connection_ = xcb_connect(nullptr, nullptr);
            if (xcb_connection_has_error(connection_) != 0) {
                xcb_disconnect(connection_);
                connection_ = nullptr;
            }
        }
#endif
    }
    ~ServerSizes() {
#if TONEMORPH_QT_XCB
        if (connection_ != nullptr) xcb_disconnect(connection_);
#endif
    }
    ServerSizes(const ServerSizes&) = delete;
    ServerSizes& operator=(const ServerSizes&) = delete;

    // In the toolkit's units (the server's pixels over the scale); empty where not known (no X11).
    QSize size(QWidget* window) const {
#if TONEMORPH_QT_XCB
        if (connection_ == nullptr) return {};
        xcb_get_geometry_reply_t* reply = xcb_get_geometry_reply(
            connection_, xcb_get_geometry(connection_, static_cast<xcb_window_t>(window->winId())), nullptr);
        if (reply == nullptr) return {};
        const double scale = window->devicePixelRatioF();
        const QSize size(static_cast<int>(std::lround(reply->width / scale)),
                         static_cast<int>(std::lround(reply->height / scale)));
        std::free(reply);
        return size;
#else
        (void)window;
        return {};
#endif
    }

private:
#if TONEMORPH_QT_XCB
    xcb_connection_t* connection_ = nullptr;
#endif
};

bool onWayland() { return QGuiApplication::platformName().startsWith(QLatin1String("wayland")); }

}  // namespace

std::string useSessionDisplay(const std::string& display, bool xServer) {
    const QByteArray chosen = qgetenv("QT_QPA_PLATFORM");
    if (!chosen.isEmpty()) {
        if (xServer || !chosen.startsWith("xcb")) return {};
        return "QT_QPA_PLATFORM=" + chosen.toStdString() + " keeps Qt from drawing on the Wayland display \"" + display + "\"";
    }
    if (xServer) {
        qputenv("QT_QPA_PLATFORM", "xcb");
        return {};
    }
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
    request.picture = tonemorph::pictureUnits(request, picture, screen->devicePixelRatio(), screen->devicePixelRatio());
    tonemorph::WindowLayout layout = tonemorph::layOutWindows(request);
    // A window sized to its picture draws it at the screen's scale: a whole factor only where
    // that is the factor chosen. Elsewhere the window is sized, and the picture views place the
    // picture in it.
    const bool sizedToPicture = layout.oneToOne && request.picture == picture;

    // A Wayland compositor places every window itself, and a tiling one sizes it too: the
    // windows are only asked for their sizes once, never held to them, and a window of one fixed
    // size would be floated over the others, so even a picture shown whole stays resizable.
    // A stacking one places a window when it first appears, at the size it has then, and keeps
    // it there as it grows: the windows are shown anew at their sizes, set while they are hidden,
    // since a late answer to their first showing could still size them back.
    if (onWayland()) {
        settle(20);
        for (QWidget* window : {panel, source, effect}) window->hide();
        processEvents();
        panel->resize(panelSize);
        for (const WindowName* window : {&sourceWindow, &effectWindow}) showScaled(*window, request.picture, layout.view);
        for (QWidget* window : {panel, source, effect}) window->show();
        settle(40);
        return;
    }
    for (const WindowName* window : {&sourceWindow, &effectWindow}) {
        if (sizedToPicture) {
            showAtOneToOne(*window);
        } else {
            showScaled(*window, request.picture, layout.view);
        }
    }
    settle(10);
    // Asked for a size; sized to the picture, what the toolkit's fixed size came to (it makes a
    // window for a tiny picture larger than the picture).
    const QSize pictureWindow =
        sizedToPicture ? source->size() : QSize(layout.view.width, layout.view.height);
    tonemorph::adjustToPictureWindows(layout, request, cv::Size(pictureWindow.width(), pictureWindow.height()));
    // A window manager still busy taking the windows on may place or size them its own way once
    // they are shown, and tells the toolkit only afterwards: ask again until every window has
    // stayed where it belongs for two looks in a row.
    struct Wanted {
        const WindowName* name;
        QWidget* window;
        QPoint at;
        QSize size;       // empty: the window keeps the size it has
        int missed = 0;   // looks in a row it was not where and as large as asked
    };
    Wanted wanted[] = {
        {&panelWindow, panel, QPoint(layout.panel.x, layout.panel.y), panelSize},
        {&sourceWindow, source, QPoint(layout.source.x, layout.source.y), sizedToPicture ? QSize() : pictureWindow},
        {&effectWindow, effect, QPoint(layout.effect.x, layout.effect.y), sizedToPicture ? QSize() : pictureWindow}};
    // A tiling window manager puts every window in a tile of its choosing, however often asked
    // otherwise; a window it keeps refusing is left where it put it, at the size it gave it,
    // which the picture views then fit.
    const int kRefused = 4;
    const ServerSizes server;
    int calmLooks = 0;
    for (int attempt = 0; attempt < 40 && calmLooks < 2; ++attempt) {
        bool placed = true;
        for (Wanted& want : wanted) {
            if (want.missed >= kRefused) continue;
            const bool off = placeOf(want.window, windowManager) != want.at;
            const bool sized = want.size.isEmpty() || want.window->size() == want.size;
            // Some refuse without a word, and the toolkit goes on believing it has the size it
            // asked for, drawing only that much of the window.
            const QSize real = server.size(want.window);
            const bool believed = !real.isEmpty() && real != want.window->size();
            if (!off && sized && !believed) {
                want.missed = 0;
                continue;
            }
            placed = false;
            if (++want.missed >= kRefused) {
                if (!real.isEmpty() && real != want.window->size()) {
                    // A picture shown at its own size has a window of that size only: the
                    // window manager's size needs a window that scales its picture.
                    if (want.name != &panelWindow && sizedToPicture) {
                        cv::setWindowProperty(want.name->id, cv::WND_PROP_AUTOSIZE, cv::WINDOW_NORMAL);
                        cv::setWindowProperty(want.name->id, cv::WND_PROP_ASPECT_RATIO, cv::WINDOW_KEEPRATIO);
                        want.window->setMaximumSize(QWIDGETSIZE_MAX, QWIDGETSIZE_MAX);
                    }
                    want.window->resize(real);
                    // Where the picture was drawn before it was fitted to the new size.
                    want.window->setAutoFillBackground(true);
                    want.window->update();
                }
                continue;
            }
            if (off) want.window->move(want.at);
            if (!sized) want.window->resize(want.size);
        }
        calmLooks = placed ? calmLooks + 1 : 0;
        settle(40);
    }
}
