// Windows: the available physical memory (GlobalMemoryStatusEx) and, when the process runs in a
// job with a memory limit, what that limit still leaves.
#include "platform/memory_available.h"

#include <windows.h>
#include <psapi.h>

#include <algorithm>

namespace tonemorph {

namespace {

// The job's limits, if the process is in a job that sets one.
std::optional<int64_t> jobHeadroom() {
    JOBOBJECT_EXTENDED_LIMIT_INFORMATION job{};
    if (!QueryInformationJobObject(nullptr, JobObjectExtendedLimitInformation, &job, sizeof job, nullptr)) {
        return std::nullopt;
    }
    std::optional<int64_t> least;
    const DWORD flags = job.BasicLimitInformation.LimitFlags;
    if ((flags & JOB_OBJECT_LIMIT_PROCESS_MEMORY) != 0) {
        PROCESS_MEMORY_COUNTERS_EX counters{};
        counters.cb = sizeof counters;
        SIZE_T used = 0;
        if (GetProcessMemoryInfo(GetCurrentProcess(), reinterpret_cast<PROCESS_MEMORY_COUNTERS*>(&counters),
                                 sizeof counters)) {
            used = counters.PrivateUsage;
        }
        least = static_cast<int64_t>(job.ProcessMemoryLimit) - static_cast<int64_t>(used);
    }
    if ((flags & JOB_OBJECT_LIMIT_JOB_MEMORY) != 0) {
        // The job's current commit is not given here; its peak is, and is never less.
        const int64_t left = static_cast<int64_t>(job.JobMemoryLimit) - static_cast<int64_t>(job.PeakJobMemoryUsed);
        least = least ? std::min(*least, left) : left;
    }
    return least;
}

}  // namespace

std::optional<int64_t> memoryAvailable() {
    std::optional<int64_t> least;
    MEMORYSTATUSEX status{};
    status.dwLength = sizeof status;
    if (GlobalMemoryStatusEx(&status)) least = static_cast<int64_t>(status.ullAvailPhys);
    if (const std::optional<int64_t> job = jobHeadroom()) least = least ? std::min(*least, *job) : *job;
    if (least) least = std::max<int64_t>(*least, 0);
    return least;
}

}  // namespace tonemorph
