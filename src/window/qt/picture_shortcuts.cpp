#include "window/picture_shortcuts.h"

#include <QApplication>
#include <QClipboard>
#include <QDir>
#include <QFile>
#include <QFileDialog>
#include <QFileInfo>
#include <QGraphicsView>
#include <QImage>
#include <QKeySequence>
#include <QLineEdit>
#include <QMessageBox>
#include <QShortcut>
#include <QWidget>

#include <functional>
#include <string>

#include <opencv2/imgcodecs.hpp>
#include <opencv2/imgproc.hpp>

#include "window/qt/library_window.h"

namespace {

void onKeys(QWidget* window, FailureSink failed, const QKeySequence& keys, const std::function<void()>& action) {
    QObject::connect(new QShortcut(keys, window), &QShortcut::activated, window,
                     [action, failed] { inCallback(failed, "a picture shortcut", action); });
}

// The window's name without its brackets, for file names: 【效果图】 -> 效果图.
QString bareTitle(const QWidget* window) {
    QString title = window->windowTitle();
    return title.remove(QStringLiteral("【")).remove(QStringLiteral("】"));
}

void savePicture(QWidget* window, const cv::Mat& picture) {
    const QString title = QStringLiteral("保存") + window->windowTitle();
    QFileDialog dialog(window, title, QDir::current().filePath(bareTitle(window) + QStringLiteral(".png")),
                       QStringLiteral("PNG (*.png);;JPEG (*.jpg *.jpeg);;TIFF (*.tif *.tiff);;BMP (*.bmp);;WebP (*.webp)"));
    dialog.setAcceptMode(QFileDialog::AcceptSave);
    dialog.setFileMode(QFileDialog::AnyFile);
    // No completion popup under the name field: it is a window of its own that can still be
    // closing when the dialog goes, and the window system then complains on stderr.
    for (QLineEdit* field : dialog.findChildren<QLineEdit*>()) field->setCompleter(nullptr);
    if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty()) return;
    QString path = dialog.selectedFiles().first();
    if (QFileInfo(path).suffix().isEmpty()) path += QStringLiteral(".png");
    QString reason;
    try {
        if (!cv::imwrite(QFile::encodeName(path).toStdString(), picture)) {
            reason = QStringLiteral("the file could not be written");
        }
    } catch (const cv::Exception& error) {
        reason = QString::fromStdString(error.err);
    }
    if (!reason.isEmpty()) {
        QMessageBox::warning(window, title, QStringLiteral("无法保存 %1：%2").arg(path, reason));
    }
}

void copyPicture(const cv::Mat& picture) {
    cv::Mat rgb;
    cv::cvtColor(picture, rgb, cv::COLOR_BGR2RGB);
    // The clipboard keeps its own copy; rgb goes with this call.
    QApplication::clipboard()->setImage(
        QImage(rgb.data, rgb.cols, rgb.rows, static_cast<int>(rgb.step), QImage::Format_RGB888).copy());
}

}  // namespace

void addPictureShortcuts(const WindowName& name, const cv::Mat& (*picture)(),
                         void (*zoomChanged)(const WindowName& window, bool zoomedIn),
                         FailureSink failed) {
    QWidget* window = libraryWindow(name);
    QGraphicsView* view = window != nullptr ? window->findChild<QGraphicsView*>() : nullptr;
    if (view == nullptr) return;
    // The view's own zoom and pan steps, by the names the toolkit gives them. Some of them leave
    // the repaint to the toolbar's status display, which these windows do not have.
    enum class Zoom { kKept, kIn, kOut, kReset };
    const WindowName* shownIn = &name;
    const auto viewStep = [view, zoomChanged, shownIn](const char* step, Zoom zoom = Zoom::kKept) {
        return [view, step, zoom, zoomChanged, shownIn] {
            if (zoom == Zoom::kIn && zoomChanged != nullptr) zoomChanged(*shownIn, true);
            QMetaObject::invokeMethod(view, step);
            const bool back = zoom == Zoom::kReset || (zoom == Zoom::kOut && backToWholePicture(view));
            if (back && zoomChanged != nullptr) zoomChanged(*shownIn, false);
            view->viewport()->update();
        };
    };
    onKeys(window, failed, QKeySequence(Qt::CTRL | Qt::Key_Plus), viewStep("ZoomIn", Zoom::kIn));
    onKeys(window, failed, QKeySequence(Qt::CTRL | Qt::Key_Equal), viewStep("ZoomIn", Zoom::kIn));
    onKeys(window, failed, QKeySequence(Qt::CTRL | Qt::Key_Minus), viewStep("ZoomOut", Zoom::kOut));
    onKeys(window, failed, QKeySequence(Qt::CTRL | Qt::Key_Z), viewStep("resetZoom", Zoom::kReset));
    onKeys(window, failed, QKeySequence(Qt::CTRL | Qt::Key_X), viewStep("imgRegion", Zoom::kIn));
    onKeys(window, failed, QKeySequence(Qt::CTRL | Qt::Key_Left), viewStep("siftWindowOnLeft"));
    onKeys(window, failed, QKeySequence(Qt::CTRL | Qt::Key_Right), viewStep("siftWindowOnRight"));
    onKeys(window, failed, QKeySequence(Qt::CTRL | Qt::Key_Up), viewStep("siftWindowOnUp"));
    onKeys(window, failed, QKeySequence(Qt::CTRL | Qt::Key_Down), viewStep("siftWindowOnDown"));
    onKeys(window, failed, QKeySequence(Qt::CTRL | Qt::Key_S), [window, picture] { savePicture(window, picture()); });
    onKeys(window, failed, QKeySequence(Qt::CTRL | Qt::Key_C), [picture] { copyPicture(picture()); });
}
