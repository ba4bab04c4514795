// The files that make up one archive: every volume of a set, found by name.
#pragma once

#include <QString>
#include <QStringList>

// path and every other volume of its set that lies beside it, in name
// order: "x.part1.rar" with "x.part2.rar", ...; "x.rar" with "x.r00",
// "x.r01", ...; "x.zip" with "x.z01", ...; "x.7z.001" (or "x.zip.001",
// "x.001") with "x.7z.002", .... Extensions in any case, the rest of the
// name as it is. Only path when it is no volume of a set; never a folder.
QStringList volumeFilesOf(const QString &path);
