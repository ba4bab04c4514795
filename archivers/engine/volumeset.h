// Finding the volumes of a multi-volume RAR archive by their names.
#pragma once

#include <cstddef>
#include <string>

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

// True when path names a regular file (links followed).
bool volumeExists(const std::string &path);

} // namespace tenvo::engine
