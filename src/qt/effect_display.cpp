#include "effect_display.h"

#include <QApplication>
#include <QEvent>
#include <QGraphicsView>
#include <QPointer>
#include <QTimer>
#include <QWidget>

#include <opencv2/highgui.hpp>
#include <opencv2/imgproc.hpp>

#include "qt/library_window.h"
#include "window_names.h"

namespace {

struct Followed {
    QPointer<QGraphicsView> view;  // null until followed, or where the toolkit is not Qt
    const cv::Mat* effect = nullptr;
    bool zoomedIn = false;
    cv::Mat sample;  // kept between notifications, so a pass allocates nothing for it
    FailureSink failed = nullptr;
};
Followed followed;

// The view's size where the picture is shown scaled down and not zoomed in; empty otherwise.
cv::Size sampleSize(const cv::Mat& effect) {
    if (followed.view == nullptr || followed.zoomedIn) return {};
    const QSize view = followed.view->viewport()->size();
    const bool smaller = view.width() <= effect.cols && view.height() <= effect.rows &&
                         view.width() * view.height() < effect.cols * effect.rows;
    return smaller && !view.isEmpty() ? cv::Size(view.width(), view.height()) : cv::Size();
}

// Resizes and wheel turns on the effect view: both change what the window needs to be given.
class ViewWatch : public QObject {
public:
    using QObject::QObject;

protected:
    bool eventFilter(QObject* watched, QEvent* event) override {
        if (followed.effect == nullptr) return false;
        if (event->type() == QEvent::Wheel && !followed.zoomedIn) {
            // Before the view zooms: it magnifies whatever it holds.
            followed.zoomedIn = true;
            inCallback(followed.failed, "showing the effect for the zoom", [] { showEffect(*followed.effect); });
        } else if (event->type() == QEvent::Resize) {
            // After the toolkit has finished with the new size (it may still adjust it to the
            // picture's aspect), and only if the sample no longer fits.
            QTimer::singleShot(0, watched, [] {
                if (followed.effect == nullptr) return;
                const cv::Size size = sampleSize(*followed.effect);
                if (size.empty() ? !followed.sample.empty() : size != followed.sample.size()) {
                    inCallback(followed.failed, "showing the effect at its new size", [] { showEffect(*followed.effect); });
                }
            });
        }
        return false;
    }
};

}  // namespace

void showEffect(const cv::Mat& effect) {
    const cv::Size size = sampleSize(effect);
    if (size.empty()) {
        followed.sample.release();
        cv::imshow(effectWindow.id, effect);
        return;
    }
    // One pixel of the result per shown pixel, taken where the toolkit's own scaling takes it
    // (the first row and column of each step), so the window looks as it did with the whole
    // picture.
    cv::resize(effect, followed.sample, size, 0, 0, cv::INTER_NEAREST);
    cv::imshow(effectWindow.id, followed.sample);
}

void followEffectWindow(const cv::Mat& effect, FailureSink failed) {
    QWidget* window = libraryWindow(effectWindow);
    QGraphicsView* view = window != nullptr ? window->findChild<QGraphicsView*>() : nullptr;
    if (view == nullptr) return;
    followed.view = view;
    followed.effect = &effect;
    followed.failed = failed;
    view->viewport()->installEventFilter(new ViewWatch(view));
    // Given the whole picture before the windows were arranged, the window now needs a sample.
    if (!sampleSize(effect).empty()) showEffect(effect);
}

void effectZoomChanged(bool zoomedIn) {
    if (followed.effect == nullptr || followed.zoomedIn == zoomedIn) return;
    followed.zoomedIn = zoomedIn;
    showEffect(*followed.effect);  // from a shortcut, which guards it
}
