// Whether a window can be opened at all: without a reachable display the GUI library aborts the
// whole process, so the tool asks first and explains.
#pragma once

#include <string>

// Empty when windows can be opened; otherwise one line saying what is missing.
std::string displayProblem();
