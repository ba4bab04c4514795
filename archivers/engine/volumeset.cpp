// Finding the volumes of a multi-volume RAR archive by their names.
#include "volumeset.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstring>
#include <vector>

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

namespace {

// The "number of this disk" of a ZIP's end record (0 for a whole archive);
// 0 too when no end record is found.
unsigned zipDiskNumber(const std::string &path)
{
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
    if (fd < 0)
        return 0;
    struct stat st {};
    unsigned disk = 0;
    if (::fstat(fd, &st) == 0 && S_ISREG(st.st_mode) && st.st_size >= 22) {
        // The record sits within its comment's greatest length of the end.
        const off_t tail = std::min<off_t>(st.st_size, 22 + 0xFFFF);
        std::vector<unsigned char> bytes(std::size_t(tail), 0);
        if (::pread(fd, bytes.data(), bytes.size(), st.st_size - tail) == ssize_t(bytes.size())) {
            for (std::size_t at = bytes.size() - 22 + 1; at-- > 0;) {
                if (std::memcmp(bytes.data() + at, "PK\5\6", 4) == 0) {
                    disk = unsigned(bytes[at + 4] | (bytes[at + 5] << 8));
                    break;
                }
            }
        }
    }
    ::close(fd);
    return disk;
}

} // namespace

NumberedParts splitZipParts(const std::string &zipPath)
{
    NumberedParts parts;
    if (zipPath.size() < 4 || !equalsIgnoringCase(zipPath, zipPath.size() - 4, ".zip"))
        return parts;
    const unsigned disks = zipDiskNumber(zipPath);
    if (disks == 0)
        return parts;
    const std::string stem = zipPath.substr(0, zipPath.size() - 3);
    const char letter = zipPath[zipPath.size() - 3];
    for (unsigned disk = 1; disk <= disks; ++disk) {
        std::string number = std::to_string(disk);
        if (number.size() < 2)
            number.insert(0, 1, '0');
        std::string name = stem + letter + number;
        if (!volumeExists(name)) {
            parts.missing = std::move(name);
            return parts;
        }
        parts.paths.push_back(std::move(name));
    }
    parts.paths.push_back(zipPath);
    return parts;
}

NumberedParts joinedParts(const std::string &path)
{
    if (numberedPartNumber(path) == 1)
        return numberedParts(path);
    return splitZipParts(path);
}

bool volumeExists(const std::string &path)
{
    struct stat st;
    return ::stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode);
}

} // namespace tenvo::engine
