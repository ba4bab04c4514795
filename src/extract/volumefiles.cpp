// The files that make up one archive: every volume of a set, found by name.
#include "volumefiles.h"

#include "nativepath.h"

#include <QRegularExpression>

#include <algorithm>
#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>

namespace {

// The names of the other volumes of the set file belongs to, as a pattern
// on names in the same folder; null when file is no volume of a set.
QRegularExpression siblingsOf(const QString &file)
{
    const auto pattern = [](const QString &stem, const QString &tail) {
        return QRegularExpression(u'^' + QRegularExpression::escape(stem) + QStringLiteral("(?i:") + tail
                                  + QStringLiteral(")$"));
    };
    static const QRegularExpression part(QStringLiteral("^(.+)\\.part\\d+\\.rar$"),
                                         QRegularExpression::CaseInsensitiveOption);
    static const QRegularExpression rar(QStringLiteral("^(.+)\\.(rar|r\\d\\d)$"),
                                        QRegularExpression::CaseInsensitiveOption);
    static const QRegularExpression zip(QStringLiteral("^(.+)\\.(zip|z\\d\\d)$"),
                                        QRegularExpression::CaseInsensitiveOption);
    static const QRegularExpression numbered(QStringLiteral("^(.+)\\.(\\d{3,9})$"));
    QRegularExpressionMatch match;
    if ((match = part.match(file)).hasMatch())
        return pattern(match.captured(1), QStringLiteral("\\.part\\d+\\.rar"));
    if ((match = rar.match(file)).hasMatch())
        return pattern(match.captured(1), QStringLiteral("\\.(rar|r\\d\\d)"));
    if ((match = zip.match(file)).hasMatch())
        return pattern(match.captured(1), QStringLiteral("\\.(zip|z\\d\\d)"));
    if ((match = numbered.match(file)).hasMatch())
        // The parts are numbered as wide as the first.
        return pattern(match.captured(1), QStringLiteral("\\.\\d{%1}").arg(match.capturedLength(2)));
    return QRegularExpression();
}

} // namespace

QStringList volumeFilesOf(const QString &path)
{
    const qsizetype slash = path.lastIndexOf(u'/');
    const QString folder = path.left(slash + 1);
    const QRegularExpression siblings = siblingsOf(path.mid(slash + 1));
    if (!siblings.isValid() || siblings.pattern().isEmpty())
        return {path};
    QStringList files{path};
    DIR *dir = ::opendir(nativePath(folder.isEmpty() ? QStringLiteral(".") : folder).constData());
    if (!dir)
        return files;
    while (const dirent *entry = ::readdir(dir)) {
        const QString name = pathFromNative(QByteArray(entry->d_name));
        const QString sibling = folder + name;
        if (sibling == path || !siblings.match(name).hasMatch())
            continue;
        struct stat status;
        if (::fstatat(::dirfd(dir), entry->d_name, &status, AT_SYMLINK_NOFOLLOW) == 0 && !S_ISDIR(status.st_mode))
            files.append(sibling);
    }
    ::closedir(dir);
    std::sort(files.begin(), files.end());
    return files;
}
