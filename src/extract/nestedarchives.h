// Extracting the archives that an archive held, each beside itself.
#pragma once

#include <QString>
#include <QStringList>

#include <atomic>

class clsArchive;

// What extracting the archives inside one archive did.
struct NestedArchives
{
    int extracted = 0;  // inner archives extracted whole (and removed)
    QStringList left;   // "inner path relative to the folder\tcause"
};

// How many levels below the archive of the list are looked into.
constexpr int nestedDepth = 3;

// Finds the archives in folder (regular files only, never through a link)
// whose name is of a registered type and whose first bytes say an archive,
// and extracts each into a folder named after it beside it (the next free
// name), with archive's library calls; then does the same inside those
// folders, down to nestedDepth levels. A volume set ("x.part1.rar", ...) is
// extracted once, from its first volume. An archive extracted whole is
// removed (every volume of a set); one that was not stays, its folder
// removed when empty, and is
// listed in left with its cause. password (null: none) is handed to inner
// archives that take one. The calls end early once stop is set; processes
// caps the decoder processes of each call. Runs on the calling thread.
NestedArchives extractNestedArchives(clsArchive &archive, const QString &folder, const QString &password,
                                     const std::atomic<bool> &stop, int processes);
