// Win32: the start-up layout in the work area (SPI_GETWORKAREA) with the frames Windows draws,
// the titles and slider labels in Unicode, and sliders that keep the keyboard. The library sets
// texts through the narrow (ANSI) API, which shows our UTF-8 text as mojibake and cuts labels
// after ten bytes; here the titles are set again in Unicode, and each label window hears of every
// new text the library gives it and shows our label with the slider's value instead.
#include "window/window_arrangement.h"

#include <windows.h>
#include <commctrl.h>

#include <algorithm>
#include <cstdlib>
#include <map>
#include <string>
#include <utility>
#include <vector>

#include <opencv2/highgui.hpp>

#include "core/window_layout.h"
#include "window/win32/library_window.h"
#include "window/window_names.h"

namespace {

std::wstring wide(const char* utf8) {
    const int length = MultiByteToWideChar(CP_UTF8, 0, utf8, -1, nullptr, 0);
    std::wstring text(static_cast<size_t>(std::max(length, 1)), L'\0');
    MultiByteToWideChar(CP_UTF8, 0, utf8, -1, text.data(), length);
    text.resize(static_cast<size_t>(std::max(length - 1, 0)));
    return text;
}

HWND pictureArea(const WindowName& window) { return libraryPictureArea(window); }
HWND frameOf(HWND area) { return area != nullptr ? GetAncestor(area, GA_ROOT) : nullptr; }

// The library's windows are ANSI windows: text given to them through any API passes their
// window procedure in the ANSI code page, which cannot hold our labels. Windows' own handler
// stores it as given.
LRESULT setUnicodeText(HWND window, const std::wstring& text) {
    const LRESULT result = DefWindowProcW(window, WM_SETTEXT, 0, reinterpret_cast<LPARAM>(text.c_str()));
    InvalidateRect(window, nullptr, TRUE);
    return result;
}

struct LabelWindow {
    std::wstring label;
    HWND slider;
};

// The library writes "<cut name>: <value>" into the label window on every move, after the
// slider has moved: the label and the slider's own position are shown instead.
LRESULT CALLBACK labelProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam, UINT_PTR /*id*/,
                           DWORD_PTR data) {
    if (message == WM_SETTEXT) {
        const auto* label = reinterpret_cast<const LabelWindow*>(data);
        const LRESULT position = SendMessageW(label->slider, TBM_GETPOS, 0, 0);
        // A text window breaks lines at spaces, and is one line high: no-break spaces keep the
        // value beside the label.
        std::wstring shown = label->label + L" " + std::to_wstring(position);
        std::replace(shown.begin(), shown.end(), L' ', L'\u00a0');
        return setUnicodeText(window, shown);
    }
    return DefSubclassProc(window, message, wParam, lParam);
}

// The library gives the keyboard back to its window after every slider move, so a clicked
// slider would not answer arrow keys, Home or End: the slider that moved keeps it instead.
LRESULT CALLBACK sliderRowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam, UINT_PTR /*id*/,
                               DWORD_PTR /*data*/) {
    const LRESULT result = DefSubclassProc(window, message, wParam, lParam);
    const HWND slider = reinterpret_cast<HWND>(lParam);
    if (message == WM_HSCROLL && slider != nullptr && IsChild(window, slider)) SetFocus(slider);
    return result;
}

// The library reads typed keys (q) only from its own windows: a slider passes them on.
LRESULT CALLBACK sliderProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam, UINT_PTR /*id*/,
                            DWORD_PTR /*data*/) {
    if (message == WM_CHAR) {
        PostMessageW(GetAncestor(window, GA_ROOT), message, wParam, lParam);
        return 0;
    }
    return DefSubclassProc(window, message, wParam, lParam);
}

// The library paints its windows' background dark grey, which shows through its transparent slider
// rows as bars between them: the panel is painted in the colour of the sliders' own face instead.
// And the library keeps every resizable window 100 pixels taller than its sliders, room for a
// picture the panel never shows: the panel may be as short as its sliders.
LRESULT CALLBACK panelProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam, UINT_PTR /*id*/,
                           DWORD_PTR /*data*/) {
    if (message == WM_ERASEBKGND) {
        RECT client{};
        GetClientRect(window, &client);
        FillRect(reinterpret_cast<HDC>(wParam), &client, GetSysColorBrush(COLOR_BTNFACE));
        return 1;
    }
    const LRESULT result = DefSubclassProc(window, message, wParam, lParam);
    if (message == WM_GETMINMAXINFO) reinterpret_cast<MINMAXINFO*>(lParam)->ptMinTrackSize.y = GetSystemMetrics(SM_CYMIN);
    return result;
}

RECT windowRect(HWND window) {
    RECT rect{};
    GetWindowRect(window, &rect);
    return rect;
}

int middleRow(HWND window) {
    const RECT rect = windowRect(window);
    return static_cast<int>(rect.top + rect.bottom) / 2;
}

// Each slider, top to bottom (the order they were made in), with its label: the text window
// standing in its row.
std::vector<std::pair<HWND, HWND>> labelWindows(HWND panelFrame) {
    struct Found {
        std::vector<HWND> sliders;
        std::vector<HWND> texts;
    } found;
    EnumChildWindows(
        panelFrame,
        [](HWND child, LPARAM into) -> BOOL {
            wchar_t name[64] = {};
            GetClassNameW(child, name, 64);
            auto* lists = reinterpret_cast<Found*>(into);
            if (lstrcmpiW(name, TRACKBAR_CLASSW) == 0) lists->sliders.push_back(child);
            if (lstrcmpiW(name, L"Static") == 0) lists->texts.push_back(child);
            return TRUE;
        },
        reinterpret_cast<LPARAM>(&found));
    std::sort(found.sliders.begin(), found.sliders.end(),
              [](HWND a, HWND b) { return middleRow(a) < middleRow(b); });
    std::vector<std::pair<HWND, HWND>> labels;
    for (HWND slider : found.sliders) {
        HWND nearest = nullptr;
        for (HWND text : found.texts) {
            if (nearest == nullptr ||
                std::abs(middleRow(text) - middleRow(slider)) < std::abs(middleRow(nearest) - middleRow(slider))) {
                nearest = text;
            }
        }
        labels.emplace_back(slider, nearest);
    }
    return labels;
}

// Titles and labels in Unicode, sliders that keep the keyboard; gives the sliders with their labels.
std::vector<std::pair<HWND, HWND>> prepareWindows(const std::vector<const char*>& labels) {
    for (const WindowName* window : {&panelWindow, &sourceWindow, &effectWindow}) {
        if (HWND frame = frameOf(pictureArea(*window))) setUnicodeText(frame, wide(window->title));
    }
    HWND panel = frameOf(pictureArea(panelWindow));
    if (panel != nullptr) {
        // The panel shows no picture: its picture area goes, and the panel's own face shows.
        ShowWindow(pictureArea(panelWindow), SW_HIDE);
        SetWindowSubclass(panel, panelProc, 1, 0);
        InvalidateRect(panel, nullptr, TRUE);
    }
    const std::vector<std::pair<HWND, HWND>> windows = labelWindows(panel);
    for (size_t i = 0; i < windows.size() && i < labels.size(); ++i) {
        const auto [slider, text] = windows[i];
        SetWindowSubclass(slider, sliderProc, 1, 0);
        SetWindowSubclass(GetParent(slider), sliderRowProc, 1, 0);  // a second call changes nothing
        if (text == nullptr) continue;
        // Lives as long as the window, which is as long as the process.
        auto* label = new LabelWindow{wide(labels[i]), slider};
        SetWindowSubclass(text, labelProc, 1, reinterpret_cast<DWORD_PTR>(label));
        SetWindowTextW(text, L"");  // shown at once, with the slider's value
    }
    return windows;
}

// The frame Windows draws around a picture area: title bar, borders.
// The scale of the monitor the window is on (1.0 at 96 DPI): asked of the window where Windows
// can tell (10, version 1607 on), else of the screen.
double screenScale(HWND window) {
    using DpiForWindow = UINT(WINAPI*)(HWND);
    static const auto dpiForWindow =
        reinterpret_cast<DpiForWindow>(reinterpret_cast<void*>(GetProcAddress(GetModuleHandleW(L"user32.dll"), "GetDpiForWindow")));
    UINT dpi = dpiForWindow != nullptr ? dpiForWindow(window) : 0;
    if (dpi == 0) {
        HDC screen = GetDC(nullptr);
        dpi = static_cast<UINT>(GetDeviceCaps(screen, LOGPIXELSX));
        ReleaseDC(nullptr, screen);
    }
    return dpi > 0 ? dpi / 96.0 : 1.0;
}

tonemorph::FrameMargins marginsOf(HWND area, HWND frame) {
    const RECT outer = windowRect(frame);
    const RECT inner = windowRect(area);
    return {std::max(0, static_cast<int>(inner.left - outer.left)), std::max(0, static_cast<int>(inner.top - outer.top)),
            std::max(0, static_cast<int>(outer.right - inner.right)),
            std::max(0, static_cast<int>(outer.bottom - inner.bottom))};
}

}  // namespace

// Resizable, so that no window grows past the screen before it is arranged; the library stretches
// the picture to the window.
std::string useSessionDisplay(const std::string& /*display*/, bool /*xServer*/) { return {}; }  // never asked on Windows

int pictureWindowFlags(cv::Size) { return cv::WINDOW_NORMAL; }

void openWindow(const WindowName& window, int flags) {
    cv::namedWindow(window.id, flags);
    libraryFrames()[&window] = FindWindowW(L"Main HighGUI class", wide(window.id).c_str());
    cv::setWindowTitle(window.id, window.title);
    if (HWND frame = libraryFrames()[&window]) setUnicodeText(frame, wide(window.title));
}

// The library destroys a window that is closed.
bool windowClosed(const WindowName& window) {
    const auto frame = libraryFrames().find(&window);
    return frame == libraryFrames().end() || !IsWindow(frame->second) || !IsWindowVisible(frame->second);
}

void arrangeWindows(cv::Size picture, bool /*windowManager*/, const std::vector<const char*>& sliderLabels) {
    const std::vector<std::pair<HWND, HWND>> sliders = prepareWindows(sliderLabels);
    HWND panelArea = pictureArea(panelWindow);
    HWND sourceArea = pictureArea(sourceWindow);
    HWND panel = frameOf(panelArea);
    if (panel == nullptr || sourceArea == nullptr) return;
    RECT work{};
    if (!SystemParametersInfoW(SPI_GETWORKAREA, 0, &work, 0)) return;

    // The panel shows its sliders and no picture: its content is the frame's client area above
    // the (empty) picture area.
    RECT client{};
    GetClientRect(panel, &client);
    POINT panelTop{0, 0};
    ClientToScreen(panel, &panelTop);
    // The sliders end at the lowest of them and its label (the library's toolbar and hidden
    // picture area reach further down, to where the picture would start), with a small margin.
    LONG slidersBottom = panelTop.y;
    for (const auto& [slider, label] : sliders) {
        slidersBottom = std::max(slidersBottom, windowRect(slider).bottom);
        if (label != nullptr) slidersBottom = std::max(slidersBottom, windowRect(label).bottom);
    }
    slidersBottom += 4;
    const int sliderHeight = std::max<int>(1, static_cast<int>(slidersBottom - panelTop.y));

    tonemorph::LayoutRequest request;
    request.area = cv::Rect(work.left, work.top, work.right - work.left, work.bottom - work.top);
    request.frame = marginsOf(sourceArea, frameOf(sourceArea));
    request.panel = cv::Size(std::max<int>(1, client.right - client.left), sliderHeight);
    // Windows counts in the screen's own pixels: at 200 % a picture that fits twice as large
    // starts so.
    request.picture = tonemorph::pictureUnits(request, picture, screenScale(panel), 1.0);
    tonemorph::WindowLayout layout = tonemorph::layOutWindows(request);
    tonemorph::adjustToPictureWindows(layout, request, layout.view);

    // The panel's picture area shrinks to nothing; resizeWindow sizes a picture area, moveWindow
    // places a window's frame.
    const RECT panelOuter = windowRect(panel);
    SetWindowPos(panel, nullptr, layout.panel.x, layout.panel.y, panelOuter.right - panelOuter.left,
                 static_cast<int>(slidersBottom - panelOuter.top) + request.frame.bottom,
                 SWP_NOZORDER | SWP_NOACTIVATE);
    const std::pair<const WindowName*, cv::Point> pictures[] = {{&sourceWindow, layout.source},
                                                               {&effectWindow, layout.effect}};
    for (const auto& [window, at] : pictures) {
        cv::resizeWindow(window->id, layout.view.width, layout.view.height);
        cv::moveWindow(window->id, at.x, at.y);
    }
}
