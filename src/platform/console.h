// The console: safe standard streams, and the tool's blue-and-white colours while it runs, put
// back on every way the process can end. One implementation per system family.
#pragma once

// Makes the standard streams safe to write to (a closed one, or a pipe whose reader has gone,
// must neither receive a later file's data nor end the tool) and, when standard output is a
// terminal or console, sets blue background with bright white text and UTF-8 output. Nothing is
// written to anything else.
void prepareConsole();

// Puts the console's own colours (and output encoding) back if prepareConsole changed them; safe
// to call repeatedly.
void restoreConsole();
