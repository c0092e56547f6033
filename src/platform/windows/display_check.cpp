// Windows: windows can be opened when the process runs on an interactive window station (not as a
// service); there is always a window manager, and nothing is held between the check and the
// toolkit.
#include "platform/display_check.h"

#include <windows.h>

std::string displayProblem(std::string (*/*useSession*/)(const std::string&, bool)) {
    USEROBJECTFLAGS flags{};
    const HWINSTA station = GetProcessWindowStation();
    if (station == nullptr ||
        !GetUserObjectInformationW(station, UOI_FLAGS, &flags, sizeof flags, nullptr)) {
        return {};  // cannot tell: let the toolkit try
    }
    if ((flags.dwFlags & WSF_VISIBLE) == 0) {
        return "no display: the process runs on a window station without a desktop (as a service), "
               "so no window can be opened";
    }
    return {};
}

bool windowManagerRunning() { return true; }

void releaseDisplayCheck() {}
