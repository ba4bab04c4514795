// Finding the volumes of a multi-volume RAR archive by their names.
#pragma once

#include <cstddef>
#include <string>
#include <vector>

namespace tenvo::engine {

// The path of volume `index` (0 is the first) of the set whose first volume
// is firstPath. With newNumbering "x.part1.rar" gives "x.part2.rar", ...
// (the number as wide as in the first name, at least); otherwise "x.rar"
// gives "x.r00", ..., "x.r99", "x.s00", ... Empty when firstPath is not
// named as a first volume of that kind.
std::string rarVolumeName(const std::string &firstPath, std::size_t index, bool newNumbering);

// True when the name is that of a volume after the first: "x.part2.rar"
// (any number but 1) or "x.r00" and the like.
bool isLaterRarVolumeName(const std::string &path);

// The number of a numbered part's name, "x.zip.001" or "x.001" giving 1
// (at least three digits after the last dot); 0 for any other name.
std::size_t numberedPartNumber(const std::string &path);

// The name of part `index` (0 is the first) of the numbered set path is a
// part of, the number as wide as in path (at least); empty when path is not
// a numbered part.
std::string numberedPartName(const std::string &path, std::size_t index);

// The parts of a set cut into numbered pieces, from its first part on: the
// ones present in a row, and the first one missing before a later one that
// is present (empty when the row ends without a gap).
struct NumberedParts {
    std::vector<std::string> paths;
    std::string missing;
};
NumberedParts numberedParts(const std::string &firstPath);

// The parts of a ZIP split by zip -s, given its last part "x.zip" (whose end
// record names it a later disk): "x.z01", "x.z02", ... present in a row,
// then x.zip when none is missing. missing names the first one not found.
// Both empty when x.zip is no such part.
NumberedParts splitZipParts(const std::string &zipPath);

// The files that read joined as the archive at path (see FileReader):
// numbered parts from their first, a split ZIP from its ".zip"; empty for
// any other file.
NumberedParts joinedParts(const std::string &path);

// True when path names a regular file (links followed).
bool volumeExists(const std::string &path);

} // namespace tenvo::engine
