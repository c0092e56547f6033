// tonemorph: shows 1.jpg (or the picture named on its command line) beside its contrast/brightness-
// adjusted, eroded or dilated version, and re-renders the result on every slider move until q is
// pressed.
#include <iostream>
#include <optional>
#include <string>

#include <opencv2/core.hpp>
#include <opencv2/highgui.hpp>

#include "app_state.h"
#include "control_panel.h"
#include "core/command_line.h"
#include "effect_render.h"
#include "handler_failure.h"
#include "window/picture_display.h"
#include "window/picture_shortcuts.h"
#include "picture_load.h"
#include "picture_view.h"
#include "platform/command_line_args.h"
#include "platform/console.h"
#include "platform/display_check.h"
#include "platform/text_locale.h"
#include "window/window_arrangement.h"
#include "window/window_names.h"

namespace {

constexpr char kBannerRunning[] = "\t运行成功，请调整滚动条（·8·）\n\n";
constexpr char kBannerQuit[] = "\tq键，退出程序\n";

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
    prepareConsole();
    try {
        // Read and judged before anything is decoded; the display checked before decoding too,
        // which can take long for a large picture.
        std::optional<PictureFile> picture = readJudgedPicture(invocation.picture);
        if (!picture) return 1;
        const std::string problem = displayProblem(useSessionDisplay);
        if (!problem.empty()) {
            std::cerr << "tonemorph: " << problem << std::endl;
            return 1;
        }
        if (!decodeJudgedPicture(*picture)) return 1;

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
            if (moreMovesMayCome()) continue;
            if (afterKeyWait()) continue;
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
