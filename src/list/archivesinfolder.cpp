// The archives that adding a whole folder finds in it.
#include "archivesinfolder.h"

#include "searchfiles.h"

QStringList archivesInFolder(const QString &folder, const QList<SupportType> &types)
{
    QStringList archives;
    if (types.isEmpty() || types.first().typeName.isEmpty())
        return archives;
    for (const SupportType &type : types) {
        for (const QString &path : searchFiles(folder, type.extension)) {
            // A matching sub-folder is no archive; what lies in it is listed
            // in its own right.
            if (!path.endsWith(u'/'))
                archives << path;
        }
    }
    return archives;
}
