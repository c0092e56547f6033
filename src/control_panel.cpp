#include "control_panel.h"

#include <algorithm>
#include <chrono>

#include <opencv2/highgui.hpp>

#include "app_state.h"
#include "effect_render.h"
#include "handler_failure.h"
#include "window/window_names.h"

namespace {

constexpr char kMorphOperationLabel[] = "腐蚀/膨胀";
constexpr char kKernelSizeLabel[] = "内核尺寸";
constexpr char kKernelShapeLabel[] = "内核形状";
constexpr char kContrastLabel[] = "对比度：";
constexpr char kBrightnessLabel[] = "亮   度：";

// Giving a slider its initial position makes the library call its handler; those calls are not
// user moves and must not render (start-up already rendered once).
bool panelReady = false;
int lastPositions[5] = {};  // where each slider was last moved to, rendered or not

void addSlider(const char* label, int initialValue, int maximum, cv::TrackbarCallback handler) {
    // No value pointer: the library deprecates it and warns; handlers keep the settings instead.
    cv::createTrackbar(label, panelWindow.id, nullptr, maximum, handler, nullptr);
    if (initialValue != 0) cv::setTrackbarPos(label, panelWindow.id, initialValue);
}

}  // namespace

const std::vector<const char*>& sliderLabels() {
    static const std::vector<const char*> labels{kMorphOperationLabel, kKernelSizeLabel, kKernelShapeLabel,
                                                 kContrastLabel, kBrightnessLabel};
    return labels;
}

void installControlPanel() {
    addSlider(kMorphOperationLabel, appState.morphOperation, 1, onMorphOperationChange);
    addSlider(kKernelSizeLabel, appState.kernelSize, 21, onKernelSizeChange);
    addSlider(kKernelShapeLabel, appState.kernelShape, 2, onKernelShapeChange);
    addSlider(kContrastLabel, appState.contrastValue, 300, onToneChange);
    addSlider(kBrightnessLabel, appState.brightnessValue, 200, onToneChange);
    const int positions[5] = {appState.morphOperation, appState.kernelSize, appState.kernelShape, appState.contrastValue,
                              appState.brightnessValue};
    std::copy(positions, positions + 5, lastPositions);
    panelReady = true;
}

namespace {

// A move not rendered yet: which slider (its place in sliderLabels) and where it went. A move
// renders at once, inside the key wait, unless it queued behind a pass (the passes slower than
// the moves: a held key, a quick drag); such a move waits for the key wait to end, and a move that
// a later move of the same slider has replaced meanwhile is folded into it, since no pass of it
// could ever have been seen. Another slider's move renders the waiting one first, so every
// setting any window could show is still rendered.
struct WaitingMove {
    int slider = -1;
    int position = 0;
};
WaitingMove waiting;
// A move taken in the same key wait as a pass, or sooner after a pass ended than that pass took
// (2 ms at least), was queued behind it: moves come faster than passes. A toolkit may draw the
// last result before it hands over the next move, and GTK ends its key wait after every pass.
std::chrono::steady_clock::time_point lastPassEnded;
std::chrono::steady_clock::duration lastPassTook{};
constexpr std::chrono::milliseconds kQueuedWithin(2);
bool passInThisKeyWait = false;
// Moves queued since the key loop last looked, and since when a move waits: a toolkit may hand
// over one queued move per key wait (GTK does), so the loop takes them all before rendering, for a
// tenth of a second at most.
int movesSinceLook = 0;
std::chrono::steady_clock::time_point waitingSince;
constexpr std::chrono::milliseconds kMostWaiting(100);

void applyMove(const WaitingMove& move) {
    int* const settings[5] = {&appState.morphOperation, &appState.kernelSize, &appState.kernelShape,
                              &appState.contrastValue, &appState.brightnessValue};
    *settings[move.slider] = move.position;
}

void takeMove(int slider, int position) {
    if (!panelReady) return;
    if (waiting.slider >= 0 && waiting.slider != slider) renderWaitingMove();
    const auto now = std::chrono::steady_clock::now();
    const auto sincePass = now - lastPassEnded;
    const bool queued = waiting.slider >= 0 || passInThisKeyWait || sincePass < kQueuedWithin || sincePass < lastPassTook;
    if (queued && waiting.slider < 0) waitingSince = now;
    waiting = {slider, position};
    lastPositions[slider] = position;
    if (queued) {
        ++movesSinceLook;
    } else {
        renderWaitingMove();
    }
}

}  // namespace

bool renderWaitingMove() {
    if (waiting.slider < 0) return false;
    static const char* const kWhat[5] = {"rendering the new operation", "rendering the new kernel size",
                                         "rendering the new kernel shape", "rendering the new contrast and brightness",
                                         "rendering the new contrast and brightness"};
    const WaitingMove move = waiting;
    waiting.slider = -1;
    const auto started = std::chrono::steady_clock::now();
    runHandler(kWhat[move.slider], [&move] {
        applyMove(move);
        renderEffect();
    });
    lastPassEnded = std::chrono::steady_clock::now();
    lastPassTook = lastPassEnded - started;
    passInThisKeyWait = true;
    return true;
}

bool moreMovesMayCome() {
    const bool more = waiting.slider >= 0 && movesSinceLook > 0 && std::chrono::steady_clock::now() - waitingSince < kMostWaiting;
    movesSinceLook = 0;
    return more;
}

bool afterKeyWait() {
    passInThisKeyWait = false;
    const bool rendered = renderWaitingMove();
    passInThisKeyWait = false;
    return rendered;
}

void onMorphOperationChange(int position, void* /*userData*/) { takeMove(0, position); }

void onKernelSizeChange(int position, void* /*userData*/) { takeMove(1, position); }

void onKernelShapeChange(int position, void* /*userData*/) { takeMove(2, position); }

void onToneChange(int position, void* /*userData*/) {
    if (!panelReady) return;
    // Contrast and brightness share this handler, so read both sliders to know which moved.
    const int contrast = cv::getTrackbarPos(kContrastLabel, panelWindow.id);
    const int brightness = cv::getTrackbarPos(kBrightnessLabel, panelWindow.id);
    if (contrast != lastPositions[3]) {
        takeMove(3, contrast);
    } else if (brightness != lastPositions[4]) {
        takeMove(4, brightness);
    } else {
        takeMove(position == contrast ? 3 : 4, position);  // told of a position it already had
    }
}
