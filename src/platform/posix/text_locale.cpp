#include "platform/text_locale.h"

#include <langinfo.h>
#include <locale.h>

#include <cstdlib>
#include <algorithm>
#include <cstring>
#include <string>

namespace {

// The categories LC_ALL stands for, apart from LC_CTYPE.
constexpr const char* kOtherCategories[] = {
    "LC_COLLATE", "LC_MONETARY", "LC_NUMERIC",   "LC_TIME",        "LC_MESSAGES",
    "LC_PAPER",   "LC_NAME",     "LC_ADDRESS",   "LC_TELEPHONE",   "LC_MEASUREMENT",
    "LC_IDENTIFICATION"};

bool localeExists(const std::string& name) {
    const locale_t probe = ::newlocale(LC_CTYPE_MASK, name.c_str(), static_cast<locale_t>(nullptr));
    if (probe == static_cast<locale_t>(nullptr)) return false;
    ::freelocale(probe);
    return true;
}

// "de_DE.ISO-8859-1@euro" -> "de_DE.UTF-8@euro"; "C" and "POSIX" -> "C.UTF-8".
std::string utf8Variant(const std::string& name) {
    if (name == "C" || name == "POSIX" || name.empty()) return "C.UTF-8";
    const size_t modifier = name.find('@');
    const std::string base = name.substr(0, std::min(name.find('.'), modifier));
    return base + ".UTF-8" + (modifier == std::string::npos ? "" : name.substr(modifier));
}

}  // namespace

void useUtf8CharacterType() {
    const char* current = ::setlocale(LC_CTYPE, "");
    if (current == nullptr) return;  // a locale that does not exist: the toolkit falls back too
    if (std::strcmp(::nl_langinfo(CODESET), "UTF-8") == 0) return;
    std::string wanted = utf8Variant(current);
    if (!localeExists(wanted)) wanted = "C.UTF-8";
    if (!localeExists(wanted)) return;
    // The toolkit reads the locale from the environment again when it starts, so the change goes
    // there. LC_ALL would override LC_CTYPE: it is spread over the other categories instead.
    if (const char* all = std::getenv("LC_ALL"); all != nullptr && *all != '\0') {
        const std::string value = all;
        for (const char* category : kOtherCategories) ::setenv(category, value.c_str(), 1);
        ::unsetenv("LC_ALL");
    }
    ::setenv("LC_CTYPE", wanted.c_str(), 1);
    ::setlocale(LC_CTYPE, "");
}
