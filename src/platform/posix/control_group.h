// The memory limits of Linux control groups that bind this process: its own group's and every
// group's above it (a limit is usually set on a slice above the session), cgroup v2 and v1 alike.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

namespace tonemorph {

// The least headroom (limit less usage, reclaimable page cache counted as free) over the groups
// named in /proc/self/cgroup and all their ancestors, found through /proc/self/mountinfo. Every
// file is looked up under root: empty for the running system, a folder of stand-ins in tests.
// Nothing if no group sets a limit.
std::optional<int64_t> controlGroupHeadroom(const std::string& root = {});

}  // namespace tonemorph
