// How the window code of a toolkit reports a failure inside one of its own callbacks (a resize, a
// zoom, a shortcut): nothing may be thrown through the toolkit's event loop, so the failure is
// handed to a function the program gives, which keeps it for the key loop.
#pragma once

#include <string>

using FailureSink = void (*)(const std::string& what);
