// Runs a piece of code under a UTF-8 locale on this thread only.
#include "utf8locale.h"

#include <initializer_list>

namespace tenvo::engine {

locale_t ScopedUtf8Locale::utf8Locale()
{
    // Loaded once and kept for the life of the process: a locale_t is not
    // changed after it is made, so every thread may use the same one, and
    // decoder processes forked later find it already loaded. Only the
    // character type is UTF-8's (the rest stays the built-in C locale):
    // that is all name conversion reads, and loading no other category
    // saves each decoder program a dozen files at start.
    static const locale_t utf8 = [] {
        for (const char *name : {"C.UTF-8", "C.utf8", "en_US.UTF-8"}) {
            if (const locale_t found = ::newlocale(LC_CTYPE_MASK, name, nullptr))
                return found;
        }
        return locale_t(nullptr);
    }();
    return utf8;
}

ScopedUtf8Locale::ScopedUtf8Locale()
    : m_utf8(utf8Locale())
{
    if (m_utf8)
        m_previous = ::uselocale(m_utf8);
}

ScopedUtf8Locale::~ScopedUtf8Locale()
{
    if (m_utf8)
        ::uselocale(m_previous);
}

} // namespace tenvo::engine
