// The character set the toolkit writes window titles in: UTF-8, whatever locale the user runs.
// One implementation per system family.
#pragma once

// Under a locale whose character set is not UTF-8 (LANG=C, say) the toolkit stores the legacy
// window title (WM_NAME) as mangled bytes. Call before the first window: if the environment's
// character type is not UTF-8, it becomes the UTF-8 variant of the same locale (C.UTF-8 for C and
// POSIX), every other category left as it was.
void useUtf8CharacterType();
