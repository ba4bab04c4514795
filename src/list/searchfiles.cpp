// The folder scan.
#include "searchfiles.h"

#include <QCollator>
#include <QDirIterator>
#include <QFile>
#include <QFileInfo>
#include <QQueue>
#include <QRegularExpression>
#include <QSet>
#include <QStringDecoder>

#include <dirent.h>

#include <sys/stat.h>

#include <algorithm>
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

// How many entries of folder end in suffix but have names that are not
// UTF-8 (written in CP932 on an older system, say). Qt's own listing passes
// over them, as no path in a QString leads back to them.
int countUnnamable(const QString &folder, const QString &suffix)
{
    DIR *dir = ::opendir(QFile::encodeName(folder).constData());
    if (!dir)
        return 0;
    const QByteArray wanted = suffix.toLower().toUtf8();
    int count = 0;
    while (const dirent *entry = ::readdir(dir)) {
        const QByteArray name(entry->d_name);
        if (name.startsWith('.') || !name.toLower().endsWith(wanted))
            continue;
        QStringDecoder utf8(QStringDecoder::Utf8);
        const QString decoded = utf8(name);
        if (utf8.hasError())
            ++count;
    }
    ::closedir(dir);
    return count;
}

// True for "x.part2.rar" and any later volume of a set whose first volume
// "x.part1.rar" (the number as wide) lies beside it in folder: a set is
// extracted from its first volume, so it is listed once.
bool laterVolumeOfASet(const QString &folder, const QString &name)
{
    static const QRegularExpression volume(QStringLiteral("^(.*\\.part)(\\d+)(\\.rar)$"),
                                           QRegularExpression::CaseInsensitiveOption);
    const QRegularExpressionMatch match = volume.match(name);
    if (!match.hasMatch() || match.captured(2).toULongLong() == 1)
        return false;
    const QString first = match.captured(1)
        + QStringLiteral("1").rightJustified(match.capturedLength(2), u'0') + match.captured(3);
    return QFileInfo(folder + first).isFile();
}

} // namespace

bool naturalLess(const QString &a, const QString &b)
{
    static const QCollator collator = [] {
        QCollator japanese(QLocale(QLocale::Japanese, QLocale::Japan));
        japanese.setNumericMode(true);
        japanese.setCaseSensitivity(Qt::CaseInsensitive);
        return japanese;
    }();
    const int order = collator.compare(a, b);
    // Names the collation holds equal ("x01", "x1") still keep one order.
    return order != 0 ? order < 0 : a < b;
}

QStringList searchFiles(const QString &folder, const QString &extension, int *unnamable)
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
        QStringList names;
        while (entries.hasNext()) {
            entries.next();
            const QString name = entries.fileName();
            // The pattern "*.EXT" needs at least the suffix itself, matched as
            // file names are on the desktop: without regard to case.
            if (name.startsWith(u'.') || !name.endsWith(suffix, Qt::CaseInsensitive)
                || laterVolumeOfASet(current, name))
                continue;
            names << name;
        }
        // The disk's own order means nothing to the user, and the list's
        // order becomes the extraction's.
        std::sort(names.begin(), names.end(), naturalLess);
        for (const QString &name : std::as_const(names)) {
            QString path = current + name;
            if (QFileInfo(path).isDir()) {
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
        if (unnamable)
            *unnamable += countUnnamable(current, suffix);
    }
    return result;
}
