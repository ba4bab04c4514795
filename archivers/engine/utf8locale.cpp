// Runs a piece of code under a UTF-8 locale on this thread only.
#include "utf8locale.h"

#include <initializer_list>

namespace tenvo::engine {

ScopedUtf8Locale::ScopedUtf8Locale()
{
    for (const char *name : {"C.UTF-8", "C.utf8", "en_US.UTF-8"}) {
        m_utf8 = ::newlocale(LC_ALL_MASK, name, nullptr);
        if (m_utf8)
            break;
    }
    if (m_utf8)
        m_previous = ::uselocale(m_utf8);
}

ScopedUtf8Locale::~ScopedUtf8Locale()
{
    if (m_utf8) {
        ::uselocale(m_previous);
        ::freelocale(m_utf8);
    }
}

} // namespace tenvo::engine
