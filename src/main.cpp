// tonemorph: shows 1.jpg beside its contrast/brightness-adjusted, eroded or dilated version, and
// re-renders the result on every slider move until q is pressed.
#include <cctype>
#include <cstdint>
#include <iostream>
#include <optional>
#include <string>

#include <opencv2/core.hpp>
#include <opencv2/highgui.hpp>
#include <opencv2/imgcodecs.hpp>

#include "app_state.h"
#include "control_panel.h"
#include "core/memory_budget.h"
#include "core/picture_header.h"
#include "effect_display.h"
#include "effect_render.h"
#include "picture_shortcuts.h"
#include "platform/console.h"
#include "platform/display_check.h"
#include "platform/memory_available.h"
#include "platform/text_locale.h"
#include "window_arrangement.h"
#include "window_names.h"

namespace {

constexpr char kInputFile[] = "1.jpg";
constexpr char kLoadFailed[] = "读取srcImage错误";
constexpr char kBannerRunning[] = "\t运行成功，请调整滚动条（·8·）\n\n";
constexpr char kBannerQuit[] = "\tq键，退出程序\n";

std::string withoutTrailingSpace(std::string text) {
    while (!text.empty() && std::isspace(static_cast<unsigned char>(text.back()))) text.pop_back();
    return text;
}

// A picture the machine cannot hold is a load failure, with the reason on stderr.
bool fitsInMemory(cv::Size picture) {
    const std::optional<int64_t> available = tonemorph::memoryAvailable();
    const int64_t needed = tonemorph::memoryNeeded(picture);
    if (!available || needed <= *available) return true;
    std::cout << kLoadFailed << std::endl;
    std::cerr << "tonemorph: " << kInputFile << " is " << picture.width << "x" << picture.height
              << " pixels and needs about " << tonemorph::describeBytes(needed)
              << " of memory, but only " << tonemorph::describeBytes(*available) << " is available"
              << std::endl;
    return false;
}

void openWindow(const WindowName& window, int flags) {
    cv::namedWindow(window.id, flags);
    cv::setWindowTitle(window.id, window.title);
}

// The close button only hides a window here; with all three hidden nothing is left to press q in.
bool allWindowsClosed() {
    for (const WindowName* window : {&panelWindow, &sourceWindow, &effectWindow}) {
        if (cv::getWindowProperty(window->id, cv::WND_PROP_VISIBLE) > 0) return false;
    }
    return true;
}

}  // namespace

int main() {
    prepareConsole();
    try {
        // Judged from the header first, so a small file declaring a huge picture is refused
        // before anything is decoded.
        const std::optional<cv::Size> declared = tonemorph::declaredSize(kInputFile);
        if (declared && !fitsInMemory(*declared)) return 1;
        try {
            appState.srcImage = cv::imread(kInputFile, cv::IMREAD_COLOR);
        } catch (const cv::Exception& error) {
            // A decoder that refuses the file by throwing is a load failure like any other.
            std::cout << kLoadFailed << std::endl;
            std::cerr << "tonemorph: cannot decode " << kInputFile << ": "
                      << withoutTrailingSpace(error.what()) << std::endl;
            return 1;
        }
        if (appState.srcImage.empty()) {
            std::cout << kLoadFailed << std::endl;
            return 1;
        }
        // Judged again by what it decoded to: formats whose header is not read above, and headers
        // that understate, before the work images and windows multiply it.
        if (!fitsInMemory(appState.srcImage.size())) return 1;
        const std::string problem = displayProblem();
        if (!problem.empty()) {
            std::cerr << "tonemorph: " << problem << std::endl;
            return 1;
        }

        appState.effectImage = cv::Mat::zeros(appState.srcImage.size(), appState.srcImage.type());
        appState.toneImage = cv::Mat::zeros(appState.srcImage.size(), appState.srcImage.type());

        useUtf8CharacterType();
        // No toolbar or status bar: each window hugs its content.
        openWindow(panelWindow, cv::WINDOW_NORMAL | cv::WINDOW_GUI_NORMAL);
        releaseDisplayCheck();  // the toolkit holds its own connection now
        openWindow(sourceWindow, pictureWindowFlags());
        cv::imshow(sourceWindow.id, appState.srcImage);
        openWindow(effectWindow, pictureWindowFlags());
        renderEffect();
        installControlPanel();
        arrangeWindows(appState.srcImage.size(), windowManagerRunning());
        followEffectWindow(appState.effectImage);
        addPictureShortcuts(sourceWindow, appState.srcImage, nullptr);
        addPictureShortcuts(effectWindow, appState.effectImage, effectZoomChanged);

        std::cout << std::endl << std::endl;
        std::cout << kBannerRunning << kBannerQuit;
        std::cout.flush();  // show the banner now, also when the output is a pipe

        // Slider events are handled inside the key wait, so its 1 ms timeout is the loop's pacing.
        for (;;) {
            const int key = cv::waitKey(1);
            if (static_cast<char>(key & 0xFF) == 'q') break;
            if (allWindowsClosed()) break;
        }
    } catch (const std::exception& error) {
        std::cerr << "tonemorph: " << withoutTrailingSpace(error.what()) << std::endl;
        return 1;
    }
    return 0;
}
