// The folder scan that finds the archives of one type in a folder.
#pragma once

#include <QStringList>

// True when name a comes before name b in the order a file manager shows:
// digits compare by their value ("2" before "10"), letters without regard to
// case, Japanese as a Japanese desktop sorts it, in every locale alike.
bool naturalLess(const QString &a, const QString &b);

// Lists the entries of folder (with or without a trailing "/") whose names end
// in extension (with or without its leading "."), without regard to case, as
// full paths, each folder's entries in naturalLess order of their names. Matching
// sub-folders are listed too, with a trailing "/", and entered after the
// folder's own matches (breadth first, one folder open at a time); other
// sub-folders are not entered. Hidden entries (names starting with ".") and
// special files are left out, a folder that cannot be read contributes
// nothing, and a folder reached again through links is entered only once.
// A name that is not UTF-8 comes with its odd bytes kept as nativepath.h
// says, so the path still leads to the file. Of a set of volumes or parts
// only the first is listed: later ones are left out when their first lies
// beside them (see firstVolumeOf).
// Reads the file system only.
QStringList searchFiles(const QString &folder, const QString &extension);

// The file a set is extracted from, when path is another file of the set
// and that file lies beside it: "x.part1.rar" for "x.part2.rar" (the number
// as wide), "x.rar" for "x.r00", "x.zip.001" (or "x.001") for "x.zip.002",
// "x.zip" for the "x.z01" of a split ZIP. Otherwise path itself.
QString firstVolumeOf(const QString &path);
