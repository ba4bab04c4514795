// Final names of the files of one archive extracted without its folders, and
// the shortened names of names too long for the file system.
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

namespace {

constexpr std::size_t kMaxKeptExtension = 32;

std::size_t extensionStart(const std::string &name, std::size_t maxExtension)
{
    const std::size_t dot = name.rfind('.');
    if (dot == std::string::npos || dot == 0 || name.size() - dot > maxExtension)
        return name.size();
    return dot;
}

// name with its stem cut (on a UTF-8 character boundary) so that stem,
// mark and extension fit in maxBytes.
std::string fitted(const std::string &name, std::size_t dot, const std::string &mark,
                   std::size_t maxBytes)
{
    std::string stem = name.substr(0, dot);
    const std::string extension = name.substr(dot);
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

} // namespace

std::string numberedName(const std::string &name, unsigned number, std::size_t maxBytes)
{
    return fitted(name, extensionStart(name, name.size()), " (" + std::to_string(number) + ")",
                  maxBytes);
}

std::size_t keptExtensionBytes(const std::string &name)
{
    return name.size() - extensionStart(name, kMaxKeptExtension);
}

std::string shortenedName(const std::string &name, std::size_t maxBytes, unsigned number)
{
    return fitted(name, extensionStart(name, kMaxKeptExtension),
                  number > 1 ? " (" + std::to_string(number) + ")" : std::string(), maxBytes);
}

} // namespace tenvo::engine
