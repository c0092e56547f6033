// Preloaded into the program by the GUI tests, which watch what it does without changing it:
// - every cv::imshow call appends its window's name to the file named by TONEMORPH_IMSHOW_LOG
//   (counting the effect window's lines counts render passes), and, when TONEMORPH_IMSHOW_DUMP_DIR
//   is set, the exact image shown is saved there as <window>.png (the screen may scale tiny or
//   huge pictures; this copy is pixel for pixel);
// - every slider notification appends "slider <label> <position>" to the same log before the
//   program's handler runs, so a test reads back the values a slider really reaches;
// - when TONEMORPH_SLIDER_REPORT names a file, the sliders as the toolkit (Qt or GTK) knows them are
//   written there whenever they change (checked every 50 ms inside the program's event
//   processing), one line each, top to bottom:
//   label TAB minimum maximum value focused groove-x groove-y groove-w groove-h handle-x handle-y
//   handle-w handle-h, the rectangles in device pixels within the slider's top-level window. Tests
//   find, click and read sliders from it whatever the widget style, theme or font;
// - when TONEMORPH_SPY_FAIL_RENDER is set, the first picture shown after a slider notification (the
//   program renders a move once the key wait has taken it) throws std::bad_alloc instead, as an
//   allocation that fails in the middle of a render pass.
#include <dlfcn.h>

#include <algorithm>
#include <cstdio>
#include <string>
#include <utility>
#include <vector>

#ifdef TONEMORPH_SPY_GTK
#include <gtk/gtk.h>
#endif
#ifdef TONEMORPH_SPY_QT
#include <QApplication>
#include <QLayout>
#include <QSlider>
#include <QStyle>
#include <QStyleOptionSlider>
#include <QTimer>
#endif

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <new>
#include <string>
#include <vector>

#include <opencv2/highgui.hpp>
#include <opencv2/imgcodecs.hpp>

namespace {

void appendToLog(const std::string& line) {
    if (const char* path = std::getenv("TONEMORPH_IMSHOW_LOG")) {
        if (std::FILE* log = std::fopen(path, "a")) {
            std::fprintf(log, "%s\n", line.c_str());
            std::fclose(log);
        }
    }
}

// The program's own handler for each slider, called after the notification is logged.
struct SliderHook {
    std::string label;
    cv::TrackbarCallback handler;
    void* userData;
};

bool notified = false;  // a slider notification came

void loggingHandler(int position, void* hook) {
    const auto* slider = static_cast<const SliderHook*>(hook);
    appendToLog("slider " + slider->label + " " + std::to_string(position));
    notified = true;
    if (slider->handler != nullptr) slider->handler(position, slider->userData);
}

#ifdef TONEMORPH_SPY_QT
// The objectName of the layout under root that holds widget: the library names each slider's
// row after the slider's label.
QString rowNameOf(QLayout* root, QWidget* widget) {
    if (root == nullptr) return {};
    if (root->indexOf(widget) >= 0) return root->objectName();
    for (int i = 0; i < root->count(); ++i) {
        const QString name = rowNameOf(root->itemAt(i)->layout(), widget);
        if (!name.isEmpty()) return name;
    }
    return {};
}

QString rowNameOf(QSlider* slider) {
    for (QWidget* w = slider->parentWidget(); w != nullptr; w = w->parentWidget()) {
        const QString name = rowNameOf(w->layout(), slider);
        if (!name.isEmpty()) return name;
    }
    return {};
}

// One line per slider, in the order they stand in their window, top to bottom.
std::string sliderReport() {
    std::vector<QSlider*> sliders;
    for (QWidget* widget : QApplication::allWidgets()) {
        if (auto* slider = qobject_cast<QSlider*>(widget); slider != nullptr && slider->isVisible()) {
            sliders.push_back(slider);
        }
    }
    std::sort(sliders.begin(), sliders.end(), [](QSlider* a, QSlider* b) {
        return a->mapTo(a->window(), QPoint(0, 0)).y() < b->mapTo(b->window(), QPoint(0, 0)).y();
    });
    std::string report;
    for (QSlider* slider : sliders) {
        QStyleOptionSlider option;
        option.initFrom(slider);
        option.subControls = QStyle::SC_None;
        option.activeSubControls = QStyle::SC_None;
        option.orientation = slider->orientation();
        option.maximum = slider->maximum();
        option.minimum = slider->minimum();
        option.tickPosition = slider->tickPosition();
        option.tickInterval = slider->tickInterval();
        option.upsideDown = slider->invertedAppearance() != (slider->layoutDirection() == Qt::RightToLeft);
        option.direction = slider->layoutDirection();
        option.sliderPosition = slider->sliderPosition();
        option.sliderValue = slider->value();
        option.singleStep = slider->singleStep();
        option.pageStep = slider->pageStep();
        const QStyle* style = slider->style();
        const QPoint origin = slider->mapTo(slider->window(), QPoint(0, 0));
        const double scale = slider->devicePixelRatioF();
        const auto place = [&](QRect rect) {
            rect.translate(origin);
            char text[96];
            std::snprintf(text, sizeof text, " %d %d %d %d", static_cast<int>(rect.x() * scale),
                          static_cast<int>(rect.y() * scale), static_cast<int>(rect.width() * scale),
                          static_cast<int>(rect.height() * scale));
            return std::string(text);
        };
        report += rowNameOf(slider).toStdString() + "\t" + std::to_string(slider->minimum()) + " " +
                  std::to_string(slider->maximum()) + " " + std::to_string(slider->value()) + " " +
                  (slider->hasFocus() ? "1" : "0") +
                  place(style->subControlRect(QStyle::CC_Slider, &option, QStyle::SC_SliderGroove, slider)) +
                  place(style->subControlRect(QStyle::CC_Slider, &option, QStyle::SC_SliderHandle, slider)) + "\n";
    }
    return report;
}

// Started with the first slider, on the program's own thread, so it runs inside its key wait.
void startSliderReport() {
    static bool started = false;
    const char* path = std::getenv("TONEMORPH_SLIDER_REPORT");
    if (started || path == nullptr || qApp == nullptr) return;
    started = true;
    auto* timer = new QTimer(qApp);
    QObject::connect(timer, &QTimer::timeout, [target = std::string(path)] {
        static std::string last;
        const std::string report = sliderReport();
        if (report == last) return;
        last = report;
        // Written aside and renamed, so a reader never sees half a report.
        const std::string aside = target + ".tmp";
        if (std::FILE* file = std::fopen(aside.c_str(), "w")) {
            std::fputs(report.c_str(), file);
            std::fclose(file);
            std::rename(aside.c_str(), target.c_str());
        }
    });
    timer->start(50);
}

#elif defined(TONEMORPH_SPY_GTK)
// GTK: the library puts each slider in a row of its own with a label of the slider's name.
void reportRow(GtkWidget* row, std::vector<std::pair<int, std::string>>& lines) {
    GtkWidget* range = nullptr;
    std::string label;
    GList* parts = gtk_container_get_children(GTK_CONTAINER(row));
    for (GList* part = parts; part != nullptr; part = part->next) {
        if (GTK_IS_RANGE(part->data)) range = GTK_WIDGET(part->data);
        if (GTK_IS_LABEL(part->data)) label = gtk_label_get_text(GTK_LABEL(part->data));
    }
    g_list_free(parts);
    if (range == nullptr || !gtk_widget_get_visible(range)) return;
    GtkAdjustment* steps = gtk_range_get_adjustment(GTK_RANGE(range));
    GdkRectangle groove{};
    gtk_range_get_range_rect(GTK_RANGE(range), &groove);
    int start = 0;
    int end = 0;
    gtk_range_get_slider_range(GTK_RANGE(range), &start, &end);
    int x = 0;
    int y = 0;
    // From the window's content: on Wayland, GTK may draw a shadow of its own around it, which the
    // toplevel's surface includes and the compositor's window does not.
    GtkWidget* top = gtk_widget_get_toplevel(range);
    GtkWidget* content = GTK_IS_BIN(top) && gtk_bin_get_child(GTK_BIN(top)) != nullptr ? gtk_bin_get_child(GTK_BIN(top)) : top;
    gtk_widget_translate_coordinates(range, content, 0, 0, &x, &y);
    const int scale = gtk_widget_get_scale_factor(range);
    char text[160];
    std::snprintf(text, sizeof text, "\t%d %d %d %d %d %d %d %d %d %d %d %d\n",
                  static_cast<int>(gtk_adjustment_get_lower(steps)), static_cast<int>(gtk_adjustment_get_upper(steps)),
                  static_cast<int>(gtk_adjustment_get_value(steps)), gtk_widget_has_focus(range) ? 1 : 0,
                  (x + groove.x) * scale, (y + groove.y) * scale, groove.width * scale, groove.height * scale,
                  (x + start) * scale, (y + groove.y) * scale, (end - start) * scale, groove.height * scale);
    lines.emplace_back(y, label + text);
}

void collectRows(GtkWidget* widget, std::vector<std::pair<int, std::string>>& lines) {
    if (!GTK_IS_CONTAINER(widget)) return;
    if (GTK_IS_BOX(widget)) reportRow(widget, lines);
    GList* children = gtk_container_get_children(GTK_CONTAINER(widget));
    for (GList* child = children; child != nullptr; child = child->next) collectRows(GTK_WIDGET(child->data), lines);
    g_list_free(children);
}

gboolean writeSliderReport(gpointer target) {
    static std::string last;
    std::vector<std::pair<int, std::string>> lines;
    GList* windows = gtk_window_list_toplevels();
    for (GList* window = windows; window != nullptr; window = window->next) collectRows(GTK_WIDGET(window->data), lines);
    g_list_free(windows);
    std::sort(lines.begin(), lines.end());
    std::string report;
    for (const auto& line : lines) report += line.second;
    if (report != last) {
        last = report;
        const std::string path = static_cast<const char*>(target);
        const std::string aside = path + ".tmp";
        if (std::FILE* file = std::fopen(aside.c_str(), "w")) {
            std::fputs(report.c_str(), file);
            std::fclose(file);
            std::rename(aside.c_str(), path.c_str());
        }
    }
    return G_SOURCE_CONTINUE;
}

// Started with the first slider; the library's key wait runs GTK's main loop, and with it this.
void startSliderReport() {
    static bool started = false;
    const char* path = std::getenv("TONEMORPH_SLIDER_REPORT");
    if (started || path == nullptr) return;
    started = true;
    g_timeout_add(50, writeSliderReport, const_cast<char*>(path));
}
#else
// Other toolkits: no report.
void startSliderReport() {}
#endif

template <typename F>
F next(const char* mangledName) {
    return reinterpret_cast<F>(dlsym(RTLD_NEXT, mangledName));
}

}  // namespace

namespace cv {

void imshow(const String& winname, InputArray mat) {
    using Show = void (*)(const String&, InputArray);
    static const Show real = next<Show>(
        "_ZN2cv6imshowERKNSt7__cxx1112basic_stringIcSt11char_traitsIcESaIcEEERKNS_11_InputArrayE");
    if (const char* dir = std::getenv("TONEMORPH_IMSHOW_DUMP_DIR")) {
        // Written aside and renamed, so a reader never sees half a file.
        const std::string path = std::string(dir) + "/" + winname + ".png";
        if (cv::imwrite(path + ".tmp.png", mat)) std::rename((path + ".tmp.png").c_str(), path.c_str());
    }
    static bool failed = false;
    if (notified && !failed && std::getenv("TONEMORPH_SPY_FAIL_RENDER") != nullptr) {
        failed = true;
        throw std::bad_alloc();
    }
    appendToLog(winname);
    real(winname, mat);
}

int createTrackbar(const String& trackbarname, const String& winname, int* value, int count,
                   TrackbarCallback onChange, void* userdata) {
    using Create = int (*)(const String&, const String&, int*, int, TrackbarCallback, void*);
    static const Create real = next<Create>(
        "_ZN2cv14createTrackbarERKNSt7__cxx1112basic_stringIcSt11char_traitsIcESaIcEEES7_PiiPFviPvES9_");
    // Lives as long as the slider, which is as long as the process.
    auto* hook = new SliderHook{trackbarname, onChange, userdata};
    const int result = real(trackbarname, winname, value, count, loggingHandler, hook);
    startSliderReport();
    return result;
}

}  // namespace cv
