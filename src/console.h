// The console: safe standard streams, and the tool's blue-and-white colours while it runs, restored
// on every way out.
#pragma once

// Reopens closed standard descriptors on /dev/null (so no later file lands on them and receives
// our output), ignores SIGPIPE (a closed pipe must not kill the tool), and, when standard output is
// a terminal, sets blue background with bright white text. Nothing is written to a non-terminal.
void prepareConsole();

// Puts the terminal's own colours back if prepareConsole changed them; safe to call repeatedly.
void restoreConsole();
