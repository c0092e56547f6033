#include "window/picture_display.h"

#include <QBoxLayout>
#include <QLayout>
#include <QEvent>
#include <QGraphicsView>
#include <QPointer>
#include <QTimer>
#include <QWheelEvent>
#include <QWidget>

#include <opencv2/highgui.hpp>

#include <cmath>

#include "window/followed_views.h"
#include "window/qt/library_window.h"

namespace {

using Followed = FollowedView<QPointer<QGraphicsView>>;
FollowedViews<QPointer<QGraphicsView>> followed;

// Where the window keeps its picture's shape, the library fits the view into its window to the
// shape of the image it was last handed. A sample taken at a view's own size may be a pixel off
// the picture's shape, so two windows given one size (two tiles) could settle a row apart, by
// what each was handed before. The view is fitted to the picture's own shape instead, as the
// library fits it to the picture itself; not where the library would undo it at once, fitting it
// again to the image it holds.
void fitToPicture(QGraphicsView* view, const Followed& entry, cv::Size picture) {
    QWidget* window = view->parentWidget();
    if (window == nullptr || picture.empty() || entry.handed.empty() ||
        cv::getWindowProperty(entry.window->id, cv::WND_PROP_ASPECT_RATIO) != cv::WINDOW_KEEPRATIO) {
        return;
    }
    const QRect area = window->layout() != nullptr ? window->layout()->contentsRect() : window->contentsRect();
    const QSize shape(picture.width, picture.height);
    if (area.isEmpty() || nearlyShaped(area.size(), shape)) return;
    const QSize fitted = shape.scaled(area.size(), Qt::KeepAspectRatio);
    if (fitted.isEmpty() || view->size() == fitted ||
        !nearlyShaped(fitted, QSize(entry.handed.width, entry.handed.height))) {
        return;
    }
    view->setGeometry(QRect(area.topLeft() + QPoint((area.width() - fitted.width()) / 2,
                                                    (area.height() - fitted.height()) / 2),
                            fitted));
}

// Resizes and wheel turns on a picture view: both change what the window needs to be given.
class ViewWatch : public QObject {
public:
    ViewWatch(QObject* parent, Followed& entry) : QObject(parent), entry_(entry) {}

protected:
    bool eventFilter(QObject* watched, QEvent* event) override {
        if (event->type() == QEvent::Wheel) {
            // The view zooms in on a turn away from the user and never out past the whole
            // picture, so a turn that zooms in needs the whole picture, before it zooms; a turn
            // back that reaches the whole picture, the sample again, once the view has zoomed.
            const int turn = static_cast<QWheelEvent*>(event)->angleDelta().y();
            if (!entry_.zoomedIn && turn > 0) {
                entry_.zoomedIn = true;
                followed.tell(entry_, "showing the picture for the zoom");
            } else if (entry_.zoomedIn && turn < 0) {
                Followed* entry = &entry_;
                QTimer::singleShot(0, watched, [entry] {
                    if (entry->zoomedIn && backToWholePicture(entry->widget)) {
                        entry->zoomedIn = false;
                        followed.tell(*entry, "showing the picture zoomed out");
                    }
                });
            }
        } else if (event->type() == QEvent::Resize) {
            // After the toolkit has finished with the new size (it may still adjust it to the
            // picture's shape).
            Followed* entry = &entry_;
            QTimer::singleShot(0, watched, [entry] { followed.tellNewSize(*entry); });
        }
        return false;
    }

private:
    Followed& entry_;
};

}  // namespace

cv::Size viewSize(const WindowName& window, cv::Size picture) {
    const Followed* entry = followed.find(window);
    if (entry == nullptr || entry->widget == nullptr || entry->zoomedIn) return {};
    // A window sized to its picture would grow with whatever it is handed.
    if (cv::getWindowProperty(window.id, cv::WND_PROP_AUTOSIZE) == cv::WINDOW_AUTOSIZE) return {};
    fitToPicture(entry->widget, *entry, picture);
    // In device pixels: on a scaled desktop the view draws a picture of this size one to one.
    const QWidget* viewport = entry->widget->viewport();
    const double ratio = viewport->devicePixelRatioF();
    const cv::Size view(static_cast<int>(std::lround(viewport->width() * ratio)),
                        static_cast<int>(std::lround(viewport->height() * ratio)));
    return view.width > 0 && view.height > 0 ? view : cv::Size();
}

void viewHanded(const WindowName& window, const cv::Mat& shown) {
    if (Followed* entry = followed.find(window)) entry->handed = shown.size();
}

void followPictureViews(void (*changed)(const WindowName&), FailureSink failed) {
    followed.follow(changed, failed);
    for (Followed& entry : followed) {
        QWidget* window = libraryWindow(*entry.window);
        QGraphicsView* view = window != nullptr ? window->findChild<QGraphicsView*>() : nullptr;
        if (view == nullptr) continue;
        entry.widget = view;
        // Newer versions of the library centre the view in its window, which caps it at the size
        // of the picture last handed to it: a window enlarged after it was given a sample would
        // keep showing that sample small in its middle. The view fills its window again.
        if (auto* box = qobject_cast<QBoxLayout*>(window->layout())) {
            box->setAlignment(view, Qt::Alignment());
            box->setStretchFactor(view, 1);
        }
        view->viewport()->installEventFilter(new ViewWatch(view, entry));
        followed.tellArranged(entry);
    }
}

void pictureZoomChanged(const WindowName& window, bool zoomedIn) {
    Followed* entry = followed.find(window);
    if (entry == nullptr || entry->zoomedIn == zoomedIn) return;
    entry->zoomedIn = zoomedIn;
    followed.tellUnguarded(*entry);
}
