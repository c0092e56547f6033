// Windows: titles and labels reach the system through its wide-character API (the window code
// converts them from UTF-8), so the process's locale has no part in them.
#include "platform/text_locale.h"

void useUtf8CharacterType() {}
