// The archives that adding a whole folder finds in it.
#include "archivesinfolder.h"

#include "clsarchive.h"
#include "searchfiles.h"

#include <algorithm>
#include <tuple>

QStringList archivesInFolder(const QString &folder, const QList<SupportType> &types)
{
    QStringList archives;
    if (types.isEmpty() || types.first().typeName.isEmpty())
        return archives;
    for (const SupportType &type : types) {
        for (const QString &extension : extensionsOf(type)) {
            for (const QString &path : searchFiles(folder, extension)) {
                // A matching sub-folder is no archive; what lies in it is
                // listed in its own right.
                if (!path.endsWith(u'/'))
                    archives << path;
            }
        }
    }
    // Archives cut into numbered parts, by their first part: of a type by
    // their bytes or by the extension before the number ("x.zip.001").
    for (const QString &path : searchFiles(folder, QStringLiteral("001"))) {
        if (path.endsWith(u'/'))
            continue;
        const QString byContent = clsArchive::typeNameByContent(path);
        const QString name = path.mid(path.lastIndexOf(u'/') + 1).chopped(4);
        const qsizetype dot = name.lastIndexOf(u'.');
        const QString inner = dot >= 0 ? name.mid(dot + 1).toUpper() : QString();
        const bool known = std::any_of(types.begin(), types.end(), [&](const SupportType &type) {
            return (!byContent.isEmpty() && type.typeName == byContent)
                || (!inner.isEmpty() && extensionsOf(type).contains(inner));
        });
        if (known)
            archives << path;
    }
    // Breadth first as the scans are: by depth, then by folder, then by name.
    const auto key = [](const QString &path) {
        const qsizetype slash = path.lastIndexOf(u'/');
        return std::tuple(path.count(u'/'), path.left(slash + 1), path.mid(slash + 1));
    };
    std::stable_sort(archives.begin(), archives.end(), [&key](const QString &a, const QString &b) {
        const auto [depthA, folderA, nameA] = key(a);
        const auto [depthB, folderB, nameB] = key(b);
        if (depthA != depthB)
            return depthA < depthB;
        if (folderA != folderB)
            return naturalLess(folderA, folderB);
        return naturalLess(nameA, nameB);
    });
    return archives;
}
