// Preloaded into the program by the GUI tests, which watch what it shows without changing it:
// every cv::imshow call appends its window's name to the file named by TONEMORPH_IMSHOW_LOG
// (counting the effect window's lines counts render passes), and, when TONEMORPH_IMSHOW_DUMP_DIR
// is set, the exact image shown is saved there as <window>.png (the screen may scale tiny or
// huge pictures; this copy is pixel for pixel).
#include <dlfcn.h>

#include <cstdio>
#include <cstdlib>
#include <string>

#include <opencv2/highgui.hpp>
#include <opencv2/imgcodecs.hpp>

namespace cv {

void imshow(const String& winname, InputArray mat) {
    using Show = void (*)(const String&, InputArray);
    static const Show real = reinterpret_cast<Show>(dlsym(
        RTLD_NEXT,
        "_ZN2cv6imshowERKNSt7__cxx1112basic_stringIcSt11char_traitsIcESaIcEEERKNS_11_InputArrayE"));
    if (const char* dir = std::getenv("TONEMORPH_IMSHOW_DUMP_DIR")) {
        // Written aside and renamed, so a reader never sees half a file.
        const std::string path = std::string(dir) + "/" + winname + ".png";
        if (cv::imwrite(path + ".tmp.png", mat)) std::rename((path + ".tmp.png").c_str(), path.c_str());
    }
    if (const char* path = std::getenv("TONEMORPH_IMSHOW_LOG")) {
        if (std::FILE* log = std::fopen(path, "a")) {
            std::fprintf(log, "%s\n", winname.c_str());
            std::fclose(log);
        }
    }
    real(winname, mat);
}

}  // namespace cv
