// Runs a piece of code under a UTF-8 locale on this thread only.
#pragma once

#include <locale.h>

namespace tenvo::engine {

// While it lives, the calling thread uses "C.UTF-8" (uselocale), so that
// libarchive's name conversions (which follow nl_langinfo(CODESET) and the
// multibyte functions) give the same UTF-8 whatever the process locale is.
// Restores the thread's previous locale on destruction. Where no UTF-8
// locale exists, nothing changes.
class ScopedUtf8Locale {
public:
    ScopedUtf8Locale();
    ~ScopedUtf8Locale();
    ScopedUtf8Locale(const ScopedUtf8Locale &) = delete;
    ScopedUtf8Locale &operator=(const ScopedUtf8Locale &) = delete;

    // The UTF-8 locale itself, loaded on first use; nullptr where none exists.
    static locale_t utf8Locale();

private:
    locale_t m_utf8 = nullptr;
    locale_t m_previous = nullptr;
};

} // namespace tenvo::engine
