// tonemorph: shows 1.jpg (or the picture named on its command line) beside its contrast/brightness-
// adjusted, eroded or dilated version, and re-renders the result on every slider move until q is
// pressed.
#include <cctype>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <mutex>
#include <new>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include <opencv2/core.hpp>
#include <opencv2/highgui.hpp>
#include <opencv2/imgcodecs.hpp>

#include "app_state.h"
#include "control_panel.h"
#include "core/command_line.h"
#include "core/decode_work.h"
#include "core/memory_budget.h"
#include "core/picture_header.h"
#include "effect_render.h"
#include "handler_failure.h"
#include "window/picture_display.h"
#include "window/picture_shortcuts.h"
#include "picture_view.h"
#include "platform/command_line_args.h"
#include "platform/console.h"
#include "platform/decode_guard.h"
#include "platform/display_check.h"
#include "platform/memory_available.h"
#include "platform/text_locale.h"
#include "window/window_arrangement.h"
#include "window/window_names.h"

namespace {

// The picture to open: 1.jpg in the working folder unless the command line names one. Its name as
// given (UTF-8) is the one messages use.
std::string pictureName = "1.jpg";
std::filesystem::path picturePath = "1.jpg";
constexpr char kLoadFailed[] = "读取srcImage错误";
constexpr char kBannerRunning[] = "\t运行成功，请调整滚动条（·8·）\n\n";
constexpr char kBannerQuit[] = "\tq键，退出程序\n";

std::string withoutTrailingSpace(std::string text) {
    while (!text.empty() && std::isspace(static_cast<unsigned char>(text.back()))) text.pop_back();
    return text;
}

void reportLoadFailure(const std::string& reason) {
    std::cout << kLoadFailed << std::endl;
    if (!reason.empty()) std::cerr << "tonemorph: " << reason << std::endl;
}

// A picture the machine cannot hold is a load failure, with the reason on stderr. held: what of
// it the process already holds (the decoded source), which the system no longer counts as
// available.
bool fitsInMemory(cv::Size picture, int64_t held = 0, int64_t decoderBytes = 0) {
    const std::optional<int64_t> available = tonemorph::memoryAvailable();
    const int64_t needed = tonemorph::memoryNeeded(picture) + decoderBytes;
    if (!available || needed - held <= *available) return true;
    reportLoadFailure(pictureName + " is " + std::to_string(picture.width) + "x" +
                      std::to_string(picture.height) + " pixels and needs about " +
                      tonemorph::describeBytes(needed) + " of memory, but only " +
                      tonemorph::describeBytes(*available + held) + " is available");
    return false;
}

// What stands at 1.jpg when it is not a file (or a link to one): reading a named pipe or a
// device can block or never end, so it is refused before anything opens it. Empty for a file,
// and for nothing at all, which the load itself reports.
std::string notAFile() {
    std::error_code error;
    switch (std::filesystem::status(picturePath, error).type()) {
        case std::filesystem::file_type::regular:
        case std::filesystem::file_type::not_found:
        case std::filesystem::file_type::none:
            return {};
        case std::filesystem::file_type::directory:
            return "a folder";
        case std::filesystem::file_type::fifo:
            return "a named pipe";
        case std::filesystem::file_type::socket:
            return "a socket";
        case std::filesystem::file_type::block:
        case std::filesystem::file_type::character:
            return "a device";
        default:
            return "not a file";
    }
}

bool outOfMemoryText(const std::string& text) {
    for (const char* sign : {"Insufficient memory", "Failed to allocate", "bad_alloc", "Out of memory"}) {
        if (text.find(sign) != std::string::npos) return true;
    }
    return false;
}

// The whole of 1.jpg, read once, so that what is judged before decoding is what is decoded. Empty,
// with the message given, when it cannot be read (a missing file is the load failure alone) or
// would not fit in the memory available.
std::vector<uchar> readPictureFile() {
    std::ifstream in(picturePath, std::ios::binary | std::ios::ate);
    if (!in) {
        std::error_code error;
        if (!std::filesystem::exists(picturePath, error) && !error) {
            // Where it was looked for: the working folder, or the folder the name leads to.
            std::filesystem::path folder = std::filesystem::absolute(picturePath, error).parent_path();
            reportLoadFailure("there is no " + picturePath.filename().u8string() + " in " + folder.u8string());
        } else {
            reportLoadFailure("cannot open " + pictureName + " to read it");
        }
        return {};
    }
    const std::streamoff size = in.tellg();
    const std::optional<int64_t> available = tonemorph::memoryAvailable();
    if (size >= 0 && available && size > *available) {
        reportLoadFailure(pictureName + " is a file of " + tonemorph::describeBytes(size) + ", but only " +
                          tonemorph::describeBytes(*available) + " of memory is available");
        return {};
    }
    std::vector<uchar> bytes(size > 0 ? static_cast<size_t>(size) : 0);
    in.seekg(0);
    if (size <= 0 || !in.read(reinterpret_cast<char*>(bytes.data()), size)) {
        reportLoadFailure(size == 0 ? std::string() : "cannot read " + pictureName);
        return {};
    }
    return bytes;
}

// Tells the user, after a second, what is being decoded when that takes long (a picture of
// hundreds of megapixels takes tens of seconds), through the decode guard's own way to the
// terminal. Quiet for a decode that ends sooner.
class SlowDecodeNotice {
public:
    explicit SlowDecodeNotice(std::string text) {
        try {
            waiter_ = std::thread([this, text] {
                std::unique_lock<std::mutex> lock(mutex_);
                if (!done_.wait_for(lock, std::chrono::seconds(1), [this] { return finished_; })) {
                    writeBesideGuard(text.c_str());
                }
            });
        } catch (const std::exception&) {
            // No thread to be had: the decode goes on without the notice.
        }
    }
    ~SlowDecodeNotice() {
        {
            const std::lock_guard<std::mutex> lock(mutex_);
            finished_ = true;
        }
        done_.notify_one();
        if (waiter_.joinable()) waiter_.join();
    }
    SlowDecodeNotice(const SlowDecodeNotice&) = delete;
    SlowDecodeNotice& operator=(const SlowDecodeNotice&) = delete;

private:
    std::mutex mutex_;
    std::condition_variable done_;
    bool finished_ = false;
    std::thread waiter_;
};

// Decodes bytes (the file read whole) into appState.srcImage, no larger than the memory available
// lets it be; false, with the message given, when it cannot. fileBytes: the file's own size (the
// bytes may be padded for the decoder); declared: the size its header gives.
bool decodePicture(const std::vector<uchar>& bytes, int64_t fileBytes, std::optional<cv::Size> declared) {
    const std::optional<int64_t> available = tonemorph::memoryAvailable();
    std::string failure;
    bool outOfMemory = false;
    beginGuardedDecode(available);
    try {
        const SlowDecodeNotice notice("tonemorph: decoding " + pictureName + ", " +
                                      (declared ? "a picture of " + std::to_string(declared->width) + "x" +
                                                      std::to_string(declared->height) + " pixels in "
                                                : std::string()) +
                                      "a file of " + tonemorph::describeBytes(fileBytes) +
                                      "; this takes a while\n");
        appState.srcImage = cv::imdecode(bytes, cv::IMREAD_COLOR);
    } catch (const cv::Exception& error) {
        // A decoder that refuses the file by throwing is a load failure like any other.
        outOfMemory = error.code == cv::Error::StsNoMem;
        failure = withoutTrailingSpace(error.what());
    } catch (const std::bad_alloc&) {
        outOfMemory = true;
    }
    const std::string printed = endGuardedDecode();
    outOfMemory = outOfMemory || (appState.srcImage.empty() && outOfMemoryText(printed));
    if (outOfMemory) {
        // The library's own words for it (an allocation it could not make) would say less than ours.
        appState.srcImage.release();
        reportLoadFailure(pictureName + " needs more memory than the " +
                          (available ? tonemorph::describeBytes(*available) : std::string("memory")) +
                          " available");
        return false;
    }
    std::cerr << printed << std::flush;  // the decoder's warnings, as it gave them
    if (!failure.empty()) {
        reportLoadFailure("cannot decode " + pictureName + ": " + failure);
        return false;
    }
    if (appState.srcImage.empty()) {
        reportLoadFailure({});
        return false;
    }
    return true;
}

// With all three closed nothing is left to press q in.
bool allWindowsClosed() {
    for (const WindowName* window : {&panelWindow, &sourceWindow, &effectWindow}) {
        if (!windowClosed(*window)) return false;
    }
    return true;
}

// A picture window whose size or zoom changed is handed its picture anew: the effect window a
// new sample of the present result, or where it now shows the whole picture, the whole result.
void showAgain(const WindowName& window) {
    if (&window == &sourceWindow) {
        showPicture(sourceWindow, appState.srcImage);
    } else if (shownGrid(effectWindow, appState.srcImage.size()) == nullptr) {
        showPicture(effectWindow, wholeEffect());
    } else {
        renderEffect();
    }
}

const cv::Mat& sourcePicture() { return appState.srcImage; }

}  // namespace

int main(int argc, char** argv) {
    const tonemorph::Invocation invocation = tonemorph::parseCommandLine(utf8Arguments(argc, argv));
    switch (invocation.action) {
        case tonemorph::Invocation::Action::kHelp:
            std::cout << tonemorph::helpText() << std::flush;
            return 0;
        case tonemorph::Invocation::Action::kVersion:
            std::cout << "tonemorph " << TONEMORPH_VERSION << ", OpenCV " << CV_VERSION << std::endl;
            return 0;
        case tonemorph::Invocation::Action::kMistake:
            std::cerr << "tonemorph: " << invocation.mistake << "\n" << tonemorph::usageLine() << std::endl;
            return 2;
        case tonemorph::Invocation::Action::kRun:
            break;
    }
    pictureName = invocation.picture;
    picturePath = std::filesystem::u8path(invocation.picture);
    prepareConsole();
    try {
        const std::string thing = notAFile();
        if (!thing.empty()) {
            reportLoadFailure(pictureName + " is " + thing + ", not a picture file");
            return 1;
        }
        std::vector<uchar> bytes = readPictureFile();
        if (bytes.empty()) return 1;
        // Judged from the header first, so a small file declaring a huge picture is refused
        // before anything is decoded, and one that would keep the decoder busy far longer than
        // its size asks too.
        const std::optional<cv::Size> declared = tonemorph::declaredSize(bytes.data(), bytes.size());
        if (declared && !fitsInMemory(*declared, 0, tonemorph::decoderBytesBeyondPicture(bytes.data(), bytes.size()))) {
            return 1;
        }
        const std::string excessive = tonemorph::excessiveDecodeWork(bytes.data(), bytes.size());
        if (!excessive.empty()) {
            reportLoadFailure(pictureName + " " + excessive);
            return 1;
        }
        // Before decoding, which can take long for a large picture.
        const std::string problem = displayProblem(useSessionDisplay);
        if (!problem.empty()) {
            std::cerr << "tonemorph: " << problem << std::endl;
            return 1;
        }
        const int64_t fileBytes = static_cast<int64_t>(bytes.size());
        tonemorph::endJpegAsFromAFile(bytes);
        if (!decodePicture(bytes, fileBytes, declared)) return 1;
        std::vector<uchar>().swap(bytes);  // the file's bytes are done with
        // Judged again by what it decoded to (headers that understate), before the work images
        // and windows multiply it; the source itself is already held.
        const cv::Size decoded = appState.srcImage.size();
        if (!fitsInMemory(decoded, tonemorph::memoryNeeded(decoded) - tonemorph::memoryNeededBesideSource(decoded))) {
            return 1;
        }

        appState.effectImage = cv::Mat::zeros(appState.srcImage.size(), appState.srcImage.type());
        appState.toneImage = cv::Mat::zeros(appState.srcImage.size(), appState.srcImage.type());

        useUtf8CharacterType();
        // No toolbar or status bar: each window hugs its content.
        openWindow(panelWindow, cv::WINDOW_NORMAL | cv::WINDOW_GUI_NORMAL);
        releaseDisplayCheck();  // the toolkit holds its own connection now
        openWindow(sourceWindow, pictureWindowFlags(appState.srcImage.size()));
        showPicture(sourceWindow, appState.srcImage);
        openWindow(effectWindow, pictureWindowFlags(appState.srcImage.size()));
        renderEffect();
        installControlPanel();
        arrangeWindows(appState.srcImage.size(), windowManagerRunning(), sliderLabels());
        followPictures(showAgain, recordHandlerFailure);
        addPictureShortcuts(sourceWindow, sourcePicture, pictureZoomChanged, recordHandlerFailure);
        addPictureShortcuts(effectWindow, wholeEffect, pictureZoomChanged, recordHandlerFailure);

        std::cout << std::endl << std::endl;
        std::cout << kBannerRunning << kBannerQuit;
        std::cout.flush();  // show the banner now, also when the output is a pipe

        // Slider events are handled inside the key wait, so its 1 ms timeout is the loop's pacing.
        for (;;) {
            const int key = cv::waitKey(1);
            if (handlerFailure()[0] != '\0') {
                printFailure(handlerFailure());
                return 1;
            }
            if (static_cast<char>(key & 0xFF) == 'q') break;
            if (allWindowsClosed()) break;
            // The slider moves the key wait took, the ones later moves replaced folded away.
            if (renderWaitingMove()) continue;
            // Idle: the full-resolution images a render left, one band per turn, so that the
            // next slider move waits at most for one band.
            if (key < 0) runHandler("making the full-resolution effect", [] { completeEffectBand(); });
        }
    } catch (const std::exception& error) {
        printFailure(error.what());  // also when memory has run out
        return 1;
    }
    return 0;
}
