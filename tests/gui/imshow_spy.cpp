// Preloaded into the program by the GUI tests, which watch what it does without changing it:
// - every cv::imshow call appends its window's name to the file named by TONEMORPH_IMSHOW_LOG
//   (counting the effect window's lines counts render passes), and, when TONEMORPH_IMSHOW_DUMP_DIR
//   is set, the exact image shown is saved there as <window>.png (the screen may scale tiny or
//   huge pictures; this copy is pixel for pixel);
// - every slider notification appends "slider <label> <position>" to the same log before the
//   program's handler runs, so a test reads back the values a slider really reaches.
#include <dlfcn.h>

#include <cstdio>
#include <cstdlib>
#include <string>

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

void loggingHandler(int position, void* hook) {
    const auto* slider = static_cast<const SliderHook*>(hook);
    appendToLog("slider " + slider->label + " " + std::to_string(position));
    if (slider->handler != nullptr) slider->handler(position, slider->userData);
}

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
    return real(trackbarname, winname, value, count, loggingHandler, hook);
}

}  // namespace cv
