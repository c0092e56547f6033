// Win32: the start-up layout in the work area (SPI_GETWORKAREA) with the frames Windows draws,
// the titles and slider labels in Unicode, and sliders that keep the keyboard. The library sets
// texts through the narrow (ANSI) API, which shows our UTF-8 text as mojibake and cuts labels
// after ten bytes; here the titles are set again in Unicode, and each label window hears of every
// new text the library gives it and shows our label with the slider's value instead.
#include "window/window_arrangement.h"

#include <windows.h>
#include <commctrl.h>

#include <algorithm>
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

// The library's sliders are toolbar buttons as wide as the panel, each covered by a slider and its
// label, placed where the toolbar put the button when the slider was made. Where the toolbar let
// two buttons share a row (Wine at 200 %, below), half the sliders lie beyond the panel's edge.
// The toolbar lays its buttons out again, one to a row, and each slider and its label go where
// their button now is, the label `labelWidth` wide (0: as the library made it). Gives each slider
// with its label (null if it has none), top to bottom.
std::vector<std::pair<HWND, HWND>> stackSliderRows(HWND panel, int labelWidth) {
    std::vector<std::pair<HWND, HWND>> sliders;
    HWND toolbar = FindWindowExW(panel, nullptr, TOOLBARCLASSNAMEW, nullptr);
    if (toolbar == nullptr) return sliders;
    struct Row {
        HWND slider;
        HWND label;
        RECT sliderRect;
        RECT labelRect;
    };
    std::vector<Row> rows;
    std::vector<HWND> texts;
    for (HWND child = FindWindowExW(toolbar, nullptr, nullptr, nullptr); child != nullptr;
         child = FindWindowExW(toolbar, child, nullptr, nullptr)) {
        wchar_t name[64] = {};
        GetClassNameW(child, name, 64);
        if (lstrcmpiW(name, TRACKBAR_CLASSW) == 0) rows.push_back({child, nullptr, {}, {}});
        if (lstrcmpiW(name, L"Static") == 0) texts.push_back(child);
    }
    const auto inToolbar = [&](HWND window) {
        RECT rect = windowRect(window);
        MapWindowPoints(nullptr, toolbar, reinterpret_cast<POINT*>(&rect), 2);
        return rect;
    };
    // A slider's label is made at its button's left edge, in its row, ending where the slider starts.
    for (Row& row : rows) {
        row.sliderRect = inToolbar(row.slider);
        for (HWND text : texts) {
            const RECT rect = inToolbar(text);
            if (rect.top == row.sliderRect.top && rect.right == row.sliderRect.left) {
                row.label = text;
                row.labelRect = rect;
            }
        }
    }
    // The toolbar measures a button by its text (the library's is a long run of spaces), and lets a
    // button stand out past its edge by half of what that measure exceeds the button's picture:
    // at a large scale, a whole second slider. Measured no wider than the panel, none does; and each
    // as wide as the panel (made as wide as the panel now is first), none leaves room beside it for
    // the next when the panel has grown.
    SendMessageW(toolbar, TB_AUTOSIZE, 0, 0);
    RECT client{};
    GetClientRect(toolbar, &client);
    const WORD panelWidth = static_cast<WORD>(std::max<LONG>(1, client.right - client.left));
    SendMessageW(toolbar, TB_SETBUTTONWIDTH, 0, MAKELPARAM(0, panelWidth));
    for (const Row& row : rows) {
        TBBUTTONINFOW info{};
        info.cbSize = sizeof(info);
        info.dwMask = TBIF_SIZE;
        info.cx = panelWidth;
        SendMessageW(toolbar, TB_SETBUTTONINFOW, static_cast<WPARAM>(GetDlgCtrlID(row.slider)), reinterpret_cast<LPARAM>(&info));
    }
    SendMessageW(toolbar, TB_AUTOSIZE, 0, 0);
    for (const Row& row : rows) {
        const LRESULT index = SendMessageW(toolbar, TB_COMMANDTOINDEX, static_cast<WPARAM>(GetDlgCtrlID(row.slider)), 0);
        RECT button{};
        if (index < 0 || !SendMessageW(toolbar, TB_GETITEMRECT, static_cast<WPARAM>(index), reinterpret_cast<LPARAM>(&button))) {
            continue;
        }
        const int madeWidth = row.label != nullptr ? static_cast<int>(row.labelRect.right - row.labelRect.left) : 0;
        const int width = row.label != nullptr && labelWidth > 0 ? labelWidth : madeWidth;
        const int height = static_cast<int>(button.bottom - button.top);
        MoveWindow(row.slider, button.left + width, button.top, static_cast<int>(button.right - button.left) - width,
                   height, TRUE);
        if (row.label != nullptr) MoveWindow(row.label, button.left, button.top, width, height, TRUE);
    }
    for (const Row& row : rows) sliders.emplace_back(row.slider, row.label);
    std::sort(sliders.begin(), sliders.end(),
              [](const auto& a, const auto& b) { return windowRect(a.first).top < windowRect(b.first).top; });
    return sliders;
}

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

// The labels in Windows' message font at the panel's scale. The library leaves them in the system
// font, which does not follow the scale (under Wine it stays at its 150 % size at 200 %). Made
// once: the panel keeps the scale it started at.
HFONT labelFont(HWND panel) {
    static HFONT font = nullptr;
    if (font != nullptr) return font;
    const UINT dpi = static_cast<UINT>(screenScale(panel) * 96.0 + 0.5);
    NONCLIENTMETRICSW metrics{};
    metrics.cbSize = sizeof(metrics);
    using ForDpi = BOOL(WINAPI*)(UINT, UINT, PVOID, UINT, UINT);
    static const auto forDpi = reinterpret_cast<ForDpi>(
        reinterpret_cast<void*>(GetProcAddress(GetModuleHandleW(L"user32.dll"), "SystemParametersInfoForDpi")));
    if (forDpi == nullptr || !forDpi(SPI_GETNONCLIENTMETRICS, sizeof(metrics), &metrics, 0, dpi)) {
        // Before Windows 10 (1607) the sizes come at the system's scale.
        if (!SystemParametersInfoW(SPI_GETNONCLIENTMETRICS, sizeof(metrics), &metrics, 0)) return nullptr;
        HDC screen = GetDC(nullptr);
        const int systemDpi = GetDeviceCaps(screen, LOGPIXELSY);
        ReleaseDC(nullptr, screen);
        if (systemDpi > 0) metrics.lfMessageFont.lfHeight = MulDiv(metrics.lfMessageFont.lfHeight, static_cast<int>(dpi), systemDpi);
    }
    font = CreateFontIndirectW(&metrics.lfMessageFont);
    return font;
}

// How wide a label must be to show its text and a slider's largest value whole in `font`.
int labelWidthFor(HWND panel, HFONT font, const std::vector<const char*>& labels) {
    LRESULT largest = 0;
    EnumChildWindows(
        panel,
        [](HWND child, LPARAM into) -> BOOL {
            wchar_t name[64] = {};
            GetClassNameW(child, name, 64);
            auto* maximum = reinterpret_cast<LRESULT*>(into);
            if (lstrcmpiW(name, TRACKBAR_CLASSW) == 0) *maximum = std::max(*maximum, SendMessageW(child, TBM_GETRANGEMAX, 0, 0));
            return TRUE;
        },
        reinterpret_cast<LPARAM>(&largest));
    HDC dc = GetDC(panel);
    const HGDIOBJ old = SelectObject(dc, font);
    int widest = 0;
    for (const char* label : labels) {
        const std::wstring text = wide(label) + L" " + std::to_wstring(largest);
        SIZE size{};
        if (GetTextExtentPoint32W(dc, text.c_str(), static_cast<int>(text.size()), &size)) widest = std::max<int>(widest, size.cx);
    }
    SelectObject(dc, old);
    ReleaseDC(panel, dc);
    return widest + static_cast<int>(8 * screenScale(panel));  // a gap before the slider
}

// Above 100 % the panel grows with the scale: labels as wide as their text in the scaled font,
// sliders as long in the desktop's units as the library makes them at 100 %. Gives the labels'
// width (0: the library's, at 100 % or when the font cannot be had).
int scalePanel(HWND panel, HFONT font, const std::vector<const char*>& labels) {
    constexpr int kLibraryLabelWidth = 130;  // what the library gives every label, at any scale
    const double scale = screenScale(panel);
    if (scale <= 1.0 || font == nullptr) return 0;
    const int labelWidth = std::max(kLibraryLabelWidth, labelWidthFor(panel, font, labels));
    RECT client{};
    GetClientRect(panel, &client);
    const int width = static_cast<int>(client.right - client.left);
    const int sliderLength = static_cast<int>((width - kLibraryLabelWidth) * scale + 0.5);
    const int grown = std::max(width, labelWidth + sliderLength) - width;
    if (grown > 0) {
        const RECT outer = windowRect(panel);
        SetWindowPos(panel, nullptr, 0, 0, static_cast<int>(outer.right - outer.left) + grown,
                     static_cast<int>(outer.bottom - outer.top), SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE);
    }
    return labelWidth;
}

// Titles and labels in Unicode, sliders that keep the keyboard; gives the sliders with their labels.
std::vector<std::pair<HWND, HWND>> prepareWindows(const std::vector<const char*>& labels) {
    for (const WindowName* window : {&panelWindow, &sourceWindow, &effectWindow}) {
        if (HWND frame = frameOf(pictureArea(*window))) setUnicodeText(frame, wide(window->title));
    }
    std::vector<std::pair<HWND, HWND>> windows;
    HWND panel = frameOf(pictureArea(panelWindow));
    int labelWidth = 0;  // the library's, unless the panel was scaled
    if (panel != nullptr) {
        // The panel shows no picture: its picture area goes, and the panel's own face shows.
        ShowWindow(pictureArea(panelWindow), SW_HIDE);
        SetWindowSubclass(panel, panelProc, 1, 0);
        labelWidth = scalePanel(panel, labelFont(panel), labels);
        windows = stackSliderRows(panel, labelWidth);
        InvalidateRect(panel, nullptr, TRUE);
    }
    for (size_t i = 0; i < windows.size() && i < labels.size(); ++i) {
        const auto [slider, text] = windows[i];
        SetWindowSubclass(slider, sliderProc, 1, 0);
        SetWindowSubclass(GetParent(slider), sliderRowProc, 1, 0);  // a second call changes nothing
        if (text == nullptr) continue;
        // Lives as long as the window, which is as long as the process.
        auto* label = new LabelWindow{wide(labels[i]), slider};
        SetWindowSubclass(text, labelProc, 1, reinterpret_cast<DWORD_PTR>(label));
        if (labelWidth > 0) SendMessageW(text, WM_SETFONT, reinterpret_cast<WPARAM>(labelFont(panel)), FALSE);
        SetWindowTextW(text, L"");  // shown at once, with the slider's value
    }
    return windows;
}

// The frame Windows draws around a picture area: title bar, borders.
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
