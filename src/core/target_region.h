// Compiles a stretch of a file for one instruction-set level: every function defined between
// TONEMORPH_TARGET_BEGIN("avx2") and TONEMORPH_TARGET_END may use that level's instructions, and
// nothing included before it is affected. Internal to the core.
#pragma once

// Two steps, so that the level's name is substituted before the pragma's text is made.
#define TONEMORPH_PRAGMA_TEXT(text) _Pragma(#text)
#define TONEMORPH_PRAGMA(text) TONEMORPH_PRAGMA_TEXT(text)
#if defined(__clang__)
#define TONEMORPH_TARGET_BEGIN(level) \
    TONEMORPH_PRAGMA(clang attribute push(__attribute__((target(level))), apply_to = function))
#define TONEMORPH_TARGET_END TONEMORPH_PRAGMA(clang attribute pop)
#else
#define TONEMORPH_TARGET_BEGIN(level) TONEMORPH_PRAGMA(GCC push_options) TONEMORPH_PRAGMA(GCC target(level))
#define TONEMORPH_TARGET_END TONEMORPH_PRAGMA(GCC pop_options)
#endif
