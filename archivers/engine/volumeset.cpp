// Finding the volumes of a multi-volume RAR archive by their names.
#include "volumeset.h"

#include <sys/stat.h>

namespace tenvo::engine {

namespace {

bool equalsIgnoringCase(const std::string &text, std::size_t at, const char *word)
{
    for (std::size_t i = 0; word[i]; ++i) {
        if (at + i >= text.size())
            return false;
        char c = text[at + i];
        if (c >= 'A' && c <= 'Z')
            c = char(c - 'A' + 'a');
        if (c != word[i])
            return false;
    }
    return true;
}

bool isDigit(char c) { return c >= '0' && c <= '9'; }

// The position of the digits of "...partN.rar" at the end of path, and
// their count; false when the name is not of that form.
bool partNumber(const std::string &path, std::size_t &digitsAt, std::size_t &digits)
{
    if (path.size() < 4 || !equalsIgnoringCase(path, path.size() - 4, ".rar"))
        return false;
    std::size_t end = path.size() - 4;
    std::size_t begin = end;
    while (begin > 0 && isDigit(path[begin - 1]))
        --begin;
    if (begin == end || begin < 5 || !equalsIgnoringCase(path, begin - 5, ".part"))
        return false;
    digitsAt = begin;
    digits = end - begin;
    return true;
}

} // namespace

std::string rarVolumeName(const std::string &firstPath, std::size_t index, bool newNumbering)
{
    if (newNumbering) {
        std::size_t at = 0, digits = 0;
        if (!partNumber(firstPath, at, digits))
            return {};
        std::string number = std::to_string(index + 1);
        if (number.size() < digits)
            number.insert(0, digits - number.size(), '0');
        return firstPath.substr(0, at) + number + firstPath.substr(at + digits);
    }
    if (firstPath.size() < 4 || !equalsIgnoringCase(firstPath, firstPath.size() - 4, ".rar"))
        return {};
    if (index == 0)
        return firstPath;
    const std::size_t step = index - 1;
    const bool upper = firstPath[firstPath.size() - 3] == 'R';
    const char letter = char((upper ? 'R' : 'r') + step / 100);
    std::string tail(1, letter);
    tail += char('0' + (step % 100) / 10);
    tail += char('0' + step % 10);
    return firstPath.substr(0, firstPath.size() - 3) + tail;
}

bool isLaterRarVolumeName(const std::string &path)
{
    std::size_t at = 0, digits = 0;
    if (partNumber(path, at, digits)) {
        const std::string number = path.substr(at, digits);
        const std::size_t first = number.find_first_not_of('0');
        return first == std::string::npos || number.substr(first) != "1";
    }
    // ".r00" to ".z99": the volumes after "x.rar" in the old naming.
    if (path.size() < 4 || path[path.size() - 4] != '.')
        return false;
    char letter = path[path.size() - 3];
    if (letter >= 'A' && letter <= 'Z')
        letter = char(letter - 'A' + 'a');
    return letter >= 'r' && letter <= 'z' && isDigit(path[path.size() - 2])
        && isDigit(path[path.size() - 1]);
}

std::size_t numberedPartNumber(const std::string &path)
{
    const std::size_t dot = path.rfind('.');
    if (dot == std::string::npos || path.size() - dot - 1 < 3 || path.size() - dot - 1 > 9
        || path.find('/', dot) != std::string::npos)
        return 0;
    std::size_t number = 0;
    for (std::size_t i = dot + 1; i < path.size(); ++i) {
        if (!isDigit(path[i]))
            return 0;
        number = number * 10 + std::size_t(path[i] - '0');
    }
    return number;
}

std::string numberedPartName(const std::string &path, std::size_t index)
{
    if (numberedPartNumber(path) == 0)
        return {};
    const std::size_t dot = path.rfind('.');
    std::string number = std::to_string(index + 1);
    if (number.size() < path.size() - dot - 1)
        number.insert(0, path.size() - dot - 1 - number.size(), '0');
    return path.substr(0, dot + 1) + number;
}

NumberedParts numberedParts(const std::string &firstPath)
{
    NumberedParts parts;
    if (numberedPartNumber(firstPath) != 1 || !volumeExists(firstPath))
        return parts;
    parts.paths.push_back(firstPath);
    for (std::size_t index = 1;; ++index) {
        std::string next = numberedPartName(firstPath, index);
        if (volumeExists(next)) {
            parts.paths.push_back(std::move(next));
            continue;
        }
        // A part beyond a missing one tells the row is cut, not ended.
        for (std::size_t skip = 1; skip <= 8; ++skip) {
            if (volumeExists(numberedPartName(firstPath, index + skip))) {
                parts.missing = next;
                break;
            }
        }
        return parts;
    }
}

bool volumeExists(const std::string &path)
{
    struct stat st;
    return ::stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode);
}

} // namespace tenvo::engine
