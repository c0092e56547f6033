// Win32: the picture windows' sizes are followed through their picture areas, whose client size is
// in the screen's own pixels (the program is DPI aware). The library stretches its picture over
// that whole area, taking the nearest pixel, so a picture of exactly its size is drawn one to one.
// The library's windows have no zoom. A picture window moved to a monitor of another scale takes
// the size Windows suggests for it there, so its picture keeps its size to the eye: a picture
// that fits is then shown at the whole factor of the new scale.
#include "window/picture_display.h"

#include <windows.h>
#include <commctrl.h>

#include <opencv2/highgui.hpp>

#include "window/followed_views.h"
#include "window/win32/library_window.h"

namespace {

using Followed = FollowedView<HWND>;
FollowedViews<HWND> followed;

// Posted to a picture area after a resize: heard once the library has finished with the new size.
constexpr UINT kSizeSettled = WM_APP + 17;

LRESULT CALLBACK areaProc(HWND area, UINT message, WPARAM wParam, LPARAM lParam, UINT_PTR /*id*/, DWORD_PTR data) {
    Followed* entry = reinterpret_cast<Followed*>(data);
    if (message == WM_SIZE && !entry->pending) {
        entry->pending = true;
        PostMessageW(area, kSizeSettled, 0, 0);
    } else if (message == kSizeSettled) {
        entry->pending = false;
        followed.tellNewSize(*entry);
        return 0;
    } else if (message == WM_NCDESTROY) {
        entry->widget = nullptr;
    }
    return DefSubclassProc(area, message, wParam, lParam);
}

#ifndef WM_DPICHANGED
#define WM_DPICHANGED 0x02E0
#endif

LRESULT CALLBACK frameProc(HWND frame, UINT message, WPARAM wParam, LPARAM lParam, UINT_PTR /*id*/, DWORD_PTR data) {
    const Followed* entry = reinterpret_cast<const Followed*>(data);
    // A window the library sizes to its picture keeps that size: its picture stays one to one.
    if (message == WM_DPICHANGED && lParam != 0 &&
        cv::getWindowProperty(entry->window->id, cv::WND_PROP_AUTOSIZE) != cv::WINDOW_AUTOSIZE) {
        const RECT suggested = *reinterpret_cast<const RECT*>(lParam);
        // The area's WM_SIZE that follows hands the window its new view.
        SetWindowPos(frame, nullptr, suggested.left, suggested.top, suggested.right - suggested.left,
                     suggested.bottom - suggested.top, SWP_NOZORDER | SWP_NOACTIVATE);
        return 0;
    }
    return DefSubclassProc(frame, message, wParam, lParam);
}

}  // namespace

cv::Size viewSize(const WindowName& window, cv::Size /*picture*/) {
    const Followed* entry = followed.find(window);
    if (entry == nullptr || entry->widget == nullptr || !IsWindow(entry->widget)) return {};
    // A window sized to its picture would grow with whatever it is handed.
    if (cv::getWindowProperty(window.id, cv::WND_PROP_AUTOSIZE) == cv::WINDOW_AUTOSIZE) return {};
    RECT client{};
    GetClientRect(entry->widget, &client);
    const cv::Size view(static_cast<int>(client.right - client.left), static_cast<int>(client.bottom - client.top));
    return view.width > 0 && view.height > 0 ? view : cv::Size();
}

void viewHanded(const WindowName& /*window*/, const cv::Mat& /*shown*/) {}

void followPictureViews(void (*changed)(const WindowName&), FailureSink failed) {
    followed.follow(changed, failed);
    for (Followed& entry : followed) {
        entry.widget = libraryPictureArea(*entry.window);
        if (entry.widget == nullptr) continue;
        SetWindowSubclass(entry.widget, areaProc, 1, reinterpret_cast<DWORD_PTR>(&entry));
        SetWindowSubclass(GetAncestor(entry.widget, GA_ROOT), frameProc, 2, reinterpret_cast<DWORD_PTR>(&entry));
        followed.tellArranged(entry);
    }
}

void pictureZoomChanged(const WindowName& /*window*/, bool /*zoomedIn*/) {}
