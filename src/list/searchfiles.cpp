// The folder scan.
#include "searchfiles.h"

#include <QCollator>
#include <QLocale>
#include "nativepath.h"

#include <QQueue>
#include <QRegularExpression>
#include <QSet>

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
    if (::stat(nativePath(path).constData(), &info) != 0 || !S_ISDIR(info.st_mode))
        return false;
    id = FolderId(info.st_dev, info.st_ino);
    return true;
}

// True for a later volume or part of a set whose first one lies beside it
// in folder: a set is extracted from its first, so it is listed once.
bool laterVolumeOfASet(const QString &folder, const QString &name)
{
    return firstVolumeOf(folder + name) != folder + name;
}

} // namespace

QString firstVolumeOf(const QString &path)
{
    static const QRegularExpression rarPart(QStringLiteral("^(.*\\.part)(\\d+)(\\.rar)$"),
                                            QRegularExpression::CaseInsensitiveOption);
    static const QRegularExpression numbered(QStringLiteral("^(.+\\.)(\\d{3,9})$"));
    static const QRegularExpression lettered(QStringLiteral("^(.+\\.)([rRzZ])(\\d\\d)$"));
    const qsizetype slash = path.lastIndexOf(u'/');
    const QString name = path.mid(slash + 1);
    // A regular expression refuses a text holding lone surrogates (a name
    // that is not UTF-8): it reads a stand-in of the same length.
    QString probe = name;
    for (QChar &c : probe) {
        if (c.isSurrogate())
            c = QChar::ReplacementCharacter;
    }
    QString first;
    QRegularExpressionMatch match;
    if ((match = rarPart.match(probe)).hasMatch()) {
        if (match.captured(2).toULongLong() != 1)
            first = name.left(match.capturedEnd(1))
                + QStringLiteral("1").rightJustified(match.capturedLength(2), u'0') + match.captured(3);
    } else if ((match = numbered.match(probe)).hasMatch()) {
        if (match.captured(2).toULongLong() != 1)
            first = name.left(match.capturedEnd(1)) + QStringLiteral("1").rightJustified(match.capturedLength(2), u'0');
    } else if ((match = lettered.match(probe)).hasMatch()) {
        // "x.r00" follows "x.rar", "x.z01" (zip -s) comes before "x.zip".
        const QChar letter = match.captured(2).at(0);
        const bool upper = letter.isUpper();
        const QString extension = letter.toLower() == u'r' ? QStringLiteral("rar") : QStringLiteral("zip");
        first = name.left(match.capturedEnd(1)) + (upper ? extension.toUpper() : extension);
    }
    if (first.isEmpty() || !isFileAt(path.left(slash + 1) + first))
        return path;
    return path.left(slash + 1) + first;
}

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
        // Read with the system's own calls, as Qt's listing would pass over
        // names that are not UTF-8. A folder that cannot be opened yields no
        // entry at all.
        DIR *dir = ::opendir(nativePath(current).constData());
        if (!dir)
            continue;
        QStringList names;
        while (const dirent *entry = ::readdir(dir)) {
            const QString name = pathFromNative(QByteArray(entry->d_name));
            // The pattern "*.EXT" needs at least the suffix itself, matched as
            // file names are on the desktop: without regard to case. Dot
            // names (also "." and "..") are hidden.
            if (name.startsWith(u'.') || !name.endsWith(suffix, Qt::CaseInsensitive)
                || laterVolumeOfASet(current, name))
                continue;
            names << name;
        }
        ::closedir(dir);
        // The disk's own order means nothing to the user, and the list's
        // order becomes the extraction's.
        std::sort(names.begin(), names.end(), naturalLess);
        for (const QString &name : std::as_const(names)) {
            QString path = current + name;
            // Broken links, devices, pipes and sockets are left out.
            struct stat info;
            if (::stat(nativePath(path).constData(), &info) != 0)
                continue;
            if (S_ISDIR(info.st_mode)) {
                path += u'/';
                // A link back to a folder already entered would walk in
                // circles; it is listed but not entered again.
                const FolderId id(info.st_dev, info.st_ino);
                if (!entered.contains(id)) {
                    entered.insert(id);
                    pending.enqueue(path);
                }
            } else if (!S_ISREG(info.st_mode)) {
                continue;
            }
            result.append(path);
        }
    }
    return result;
}
