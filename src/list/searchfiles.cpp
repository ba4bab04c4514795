// The folder scan.
#include "searchfiles.h"

#include <QDirIterator>
#include <QFile>
#include <QQueue>
#include <QSet>

#include <sys/stat.h>

#include <utility>

namespace {

using FolderId = std::pair<quint64, quint64>; // device, inode

// The identity of the folder at path after following links; false when it
// cannot be looked at.
bool folderId(const QString &path, FolderId &id)
{
    struct stat info;
    if (::stat(QFile::encodeName(path).constData(), &info) != 0 || !S_ISDIR(info.st_mode))
        return false;
    id = FolderId(info.st_dev, info.st_ino);
    return true;
}

} // namespace

QStringList searchFiles(const QString &folder, const QString &extension)
{
    QString start = folder;
    if (!start.endsWith(u'/'))
        start += u'/';
    const QString suffix = extension.startsWith(u'.') ? extension : u'.' + extension;

    QStringList result;
    QQueue<QString> pending;
    QSet<FolderId> entered;
    FolderId startId;
    if (folderId(start, startId)) {
        entered.insert(startId);
        pending.enqueue(start);
    }

    while (!pending.isEmpty()) {
        const QString current = pending.dequeue();
        // Without QDir::Hidden and QDir::System the iterator leaves out dot
        // names, broken links, devices, pipes and sockets. A folder that
        // cannot be opened yields no entry at all.
        QDirIterator entries(current, QDir::Files | QDir::Dirs | QDir::NoDotAndDotDot);
        while (entries.hasNext()) {
            entries.next();
            const QString name = entries.fileName();
            // The pattern "*.EXT" needs at least the suffix itself, matched as
            // file names are on the desktop: without regard to case.
            if (name.startsWith(u'.') || !name.endsWith(suffix, Qt::CaseInsensitive))
                continue;
            QString path = current + name;
            if (entries.fileInfo().isDir()) {
                path += u'/';
                // A link back to a folder already entered would walk in
                // circles; it is listed but not entered again.
                FolderId id;
                if (folderId(path, id) && !entered.contains(id)) {
                    entered.insert(id);
                    pending.enqueue(path);
                }
            }
            result.append(path);
        }
    }
    return result;
}
