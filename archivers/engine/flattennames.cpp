// Final names of the files of one archive extracted without its folders.
#include "flattennames.h"

#include "namecodec.h"

namespace tenvo::engine {

std::string FlattenNames::place(const std::string &name)
{
    if (m_taken.insert(name).second)
        return name;
    for (unsigned number = 2;; ++number) {
        std::string candidate = numberedName(name, number, kMaxComponentBytes);
        if (m_taken.count(candidate) == 0) {
            m_taken.insert(candidate);
            return candidate;
        }
    }
}

std::string numberedName(const std::string &name, unsigned number, std::size_t maxBytes)
{
    std::size_t dot = name.rfind('.');
    if (dot == std::string::npos || dot == 0)
        dot = name.size();
    std::string stem = name.substr(0, dot);
    const std::string extension = name.substr(dot);
    const std::string mark = " (" + std::to_string(number) + ")";
    const std::size_t room = maxBytes > mark.size() + extension.size()
        ? maxBytes - mark.size() - extension.size()
        : 0;
    if (stem.size() > room) {
        std::size_t cut = room;
        // Back up to the start of a UTF-8 character.
        while (cut > 0 && (static_cast<unsigned char>(stem[cut]) & 0xC0) == 0x80)
            --cut;
        stem.resize(cut);
    }
    return stem + mark + extension;
}

} // namespace tenvo::engine
