// The hidden folder one archive is extracted into before its files are
// moved into place.
#include "stagefolder.h"

#include "nativepath.h"

#include <QFile>
#include <QList>
#include <QPair>
#include <QSet>
#include <QRegularExpression>

#include <atomic>
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

std::atomic<int> stageCounter{0};

const QRegularExpression &stageName()
{
    static const QRegularExpression pattern(QStringLiteral("^\\.tenvo-(\\d+)-s\\d+$"));
    return pattern;
}

// Runs each(name, isFolder) for every entry of the folder open at fd. The
// type comes with the name where the file system gives it: a folder of
// thousands of files is walked without a stat of each.
template<typename Each>
void forEachEntry(int fd, Each each)
{
    const int copy = ::fcntl(fd, F_DUPFD_CLOEXEC, 0);
    if (copy < 0)
        return;
    DIR *dir = ::fdopendir(copy);
    if (!dir) {
        ::close(copy);
        return;
    }
    while (const dirent *entry = ::readdir(dir)) {
        const char *name = entry->d_name;
        if ((name[0] == '.' && name[1] == '\0') || (name[0] == '.' && name[1] == '.' && name[2] == '\0'))
            continue;
        bool folder = entry->d_type == DT_DIR;
        if (entry->d_type == DT_UNKNOWN) {
            struct stat status;
            if (::fstatat(fd, name, &status, AT_SYMLINK_NOFOLLOW) != 0)
                continue;
            folder = S_ISDIR(status.st_mode);
        }
        each(QByteArray(name), folder);
    }
    ::closedir(dir);
}

int openFolder(int at, const char *name)
{
    return ::openat(at, name, O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
}

// Files and links under the folder open at fd, with their paths when
// names is given.
int countFiles(int fd, const QByteArray &prefix, QStringList *names)
{
    int count = 0;
    forEachEntry(fd, [&](const QByteArray &name, bool folder) {
        if (folder) {
            const int sub = openFolder(fd, name.constData());
            if (sub >= 0) {
                count += countFiles(sub, prefix + name + '/', names);
                ::close(sub);
            }
            return;
        }
        ++count;
        if (names)
            names->append(pathFromNative(prefix + name));
    });
    return count;
}

// How one merge treats what it meets.
struct MergeRules
{
    bool keepEmpty = false;
    bool wantNames = false;
    ExistingFile existing = ExistingFile::Overwrite;
};

void merge(int stageFd, int folderFd, const QByteArray &prefix, const MergeRules &rules, StageMerge &outcome);

// Merges the folder open at from into the one open at to and closes both;
// a folder that could not be opened (-1) fails the merge.
void mergeAndClose(int from, int to, const QByteArray &prefix, const MergeRules &rules, StageMerge &outcome)
{
    if (from >= 0 && to >= 0)
        merge(from, to, prefix, rules, outcome);
    else
        outcome.failed = true;
    if (from >= 0)
        ::close(from);
    if (to >= 0)
        ::close(to);
}

bool laterThan(const struct stat &a, const struct stat &b)
{
    return a.st_mtim.tv_sec != b.st_mtim.tv_sec ? a.st_mtim.tv_sec > b.st_mtim.tv_sec
                                                : a.st_mtim.tv_nsec > b.st_mtim.tv_nsec;
}

// Replaces what is there only with a later file; 0 when moved, EEXIST when
// the file there stays, else the errno.
int moveIfNewer(int stageFd, const char *entry, int folderFd)
{
    for (int attempt = 0; attempt < 100; ++attempt) {
        struct stat there;
        if (::fstatat(folderFd, entry, &there, AT_SYMLINK_NOFOLLOW) != 0) {
            if (errno != ENOENT)
                return errno;
            const int error = moveNoReplace(stageFd, entry, folderFd, entry);
            if (error != EEXIST)
                return error;
            continue; // one appeared meanwhile: weighed like any other
        }
        struct stat here;
        if (::fstatat(stageFd, entry, &here, AT_SYMLINK_NOFOLLOW) != 0)
            return errno;
        if (!laterThan(here, there))
            return EEXIST;
        return ::renameat(stageFd, entry, folderFd, entry) == 0 ? 0 : errno;
    }
    return EEXIST;
}

// Moves one file or link of the stage into place as rules.existing says.
void landFile(int stageFd, int folderFd, const QByteArray &name, const QByteArray &prefix, const MergeRules &rules,
              StageMerge &outcome)
{
    const char *entry = name.constData();
    QByteArray target = name;
    int error = 0;
    switch (rules.existing) {
    case ExistingFile::Overwrite:
        error = ::renameat(stageFd, entry, folderFd, entry) == 0 ? 0 : errno;
        break;
    case ExistingFile::Skip:
        error = moveNoReplace(stageFd, entry, folderFd, entry);
        break;
    case ExistingFile::Rename:
        // A name taken between the look and the move sends it on to the next.
        for (int attempt = 0; attempt < 100; ++attempt) {
            target = freeNameAt(folderFd, name, false);
            error = target.isEmpty() ? ENAMETOOLONG : moveNoReplace(stageFd, entry, folderFd, target.constData());
            if (error != EEXIST)
                break;
        }
        break;
    case ExistingFile::Newer:
        error = moveIfNewer(stageFd, entry, folderFd);
        break;
    }
    if (error == EEXIST && rules.existing != ExistingFile::Overwrite && rules.existing != ExistingFile::Rename) {
        ++outcome.kept;
        return;
    }
    if (error != 0) {
        outcome.failed = true;
        return;
    }
    ++outcome.landed;
    if (target != name)
        ++outcome.renamed;
    if (rules.wantNames)
        outcome.names.append(pathFromNative(prefix + target));
}

void merge(int stageFd, int folderFd, const QByteArray &prefix, const MergeRules &rules, StageMerge &outcome)
{
    QStringList *names = rules.wantNames ? &outcome.names : nullptr;
    forEachEntry(stageFd, [&](const QByteArray &name, bool folder) {
        const char *entry = name.constData();
        if (!folder) {
            landFile(stageFd, folderFd, name, prefix, rules, outcome);
            return;
        }
        struct stat there;
        if (::fstatat(folderFd, entry, &there, AT_SYMLINK_NOFOLLOW) == 0) {
            mergeAndClose(openFolder(stageFd, entry), S_ISDIR(there.st_mode) ? openFolder(folderFd, entry) : -1,
                          prefix + name + '/', rules, outcome);
            return;
        }
        const int from = openFolder(stageFd, entry);
        if (from < 0) {
            outcome.failed = true;
            return;
        }
        QStringList found;
        const int files = countFiles(from, prefix + name + '/', names ? &found : nullptr);
        ::close(from);
        if (files == 0 && !rules.keepEmpty)
            return;
        // A folder that appears meanwhile is merged into, never replaced.
        const int error = rules.existing == ExistingFile::Overwrite
            ? (::renameat(stageFd, entry, folderFd, entry) == 0 ? 0 : errno)
            : moveNoReplace(stageFd, entry, folderFd, entry);
        if (error == 0) {
            outcome.landed += files;
            if (names)
                *names += found;
        } else if (error == EEXIST) {
            mergeAndClose(openFolder(stageFd, entry), openFolder(folderFd, entry), prefix + name + '/', rules, outcome);
        } else {
            outcome.failed = true;
        }
    });
}

bool isJunkFile(const QByteArray &name)
{
    return name == ".DS_Store" || qstricmp(name.constData(), "Thumbs.db") == 0
        || qstricmp(name.constData(), "desktop.ini") == 0;
}

void removeAt(int at, const char *name)
{
    if (::unlinkat(at, name, 0) == 0 || errno != EISDIR)
        return;
    const int fd = openFolder(at, name);
    if (fd >= 0) {
        forEachEntry(fd, [fd](const QByteArray &entry, bool) { removeAt(fd, entry.constData()); });
        ::close(fd);
    }
    ::unlinkat(at, name, AT_REMOVEDIR);
}

} // namespace

QString makeStageFolder(const QString &folder)
{
    for (int attempt = 0; attempt < 100; ++attempt) {
        const QString path = folder + QStringLiteral(".tenvo-%1-s%2").arg(::getpid()).arg(stageCounter++);
        if (::mkdir(nativePath(path).constData(), 0700) == 0)
            return path + u'/';
        if (errno != EEXIST)
            return QString();
    }
    return QString();
}

StageMerge mergeStageFolder(const QString &stage, const QString &folder, bool keepEmptyFolders, bool wantNames,
                            ExistingFile existing)
{
    StageMerge outcome;
    mergeAndClose(::open(nativePath(stage).constData(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC),
                  ::open(nativePath(folder).constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC), QByteArray(),
                  MergeRules{keepEmptyFolders, wantNames, existing}, outcome);
    removeTree(stage);
    return outcome;
}

namespace {

void removeJunkAt(int fd)
{
    // The whole folder is read first: whether "._a" is junk depends on an
    // "a" that may come after it.
    QList<QPair<QByteArray, bool>> entries;
    QSet<QByteArray> names;
    forEachEntry(fd, [&](const QByteArray &name, bool folder) {
        entries.append({name, folder});
        names.insert(name);
    });
    for (const auto &[name, folder] : std::as_const(entries)) {
        const bool appleDouble = name.startsWith("._") && name.size() > 2 && names.contains(name.mid(2));
        if ((folder && name == "__MACOSX") || (!folder && isJunkFile(name)) || appleDouble) {
            removeAt(fd, name.constData());
        } else if (folder) {
            const int sub = openFolder(fd, name.constData());
            if (sub >= 0) {
                removeJunkAt(sub);
                ::close(sub);
            }
        }
    }
}

} // namespace

void removeJunkFiles(const QString &stage)
{
    const int fd = ::open(nativePath(stage).constData(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
    if (fd < 0)
        return;
    removeJunkAt(fd);
    ::close(fd);
}

QStringList stageEntries(const QString &stage)
{
    QStringList entries;
    const int fd = ::open(nativePath(stage).constData(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
    if (fd < 0)
        return entries;
    forEachEntry(fd, [&](const QByteArray &name, bool folder) {
        entries.append(pathFromNative(folder ? name + '/' : name));
    });
    ::close(fd);
    return entries;
}

QString takeFreeName(const QString &stage, const QString &entry, const QString &folder)
{
    const bool isFolder = entry.endsWith(u'/');
    const QByteArray name = nativePath(isFolder ? entry.chopped(1) : entry);
    const int stageFd = ::open(nativePath(stage).constData(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
    const int folderFd = ::open(nativePath(folder).constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    QByteArray freeName;
    if (stageFd >= 0 && folderFd >= 0) {
        freeName = freeNameAt(folderFd, name, isFolder);
        // The stage holds this one entry only, so its new name is free there too.
        if (!freeName.isEmpty() && freeName != name
            && ::renameat(stageFd, name.constData(), stageFd, freeName.constData()) != 0)
            freeName.clear();
    }
    if (stageFd >= 0)
        ::close(stageFd);
    if (folderFd >= 0)
        ::close(folderFd);
    if (freeName.isEmpty())
        return QString();
    return pathFromNative(freeName) + (isFolder ? QStringLiteral("/") : QString());
}

QByteArray freeNameAt(int fd, const QByteArray &name, bool isFolder)
{
    // A dot at the start begins a hidden name, not an extension.
    qsizetype dot = isFolder ? -1 : name.lastIndexOf('.');
    if (dot <= 0)
        dot = name.size();
    QByteArray candidate = name;
    for (int n = 2; n < 100000; ++n) {
        struct stat status;
        if (::fstatat(fd, candidate.constData(), &status, AT_SYMLINK_NOFOLLOW) != 0)
            return errno == ENOENT ? candidate : QByteArray();
        candidate = name.left(dot) + " (" + QByteArray::number(n) + ')' + name.mid(dot);
    }
    return QByteArray();
}

int moveNoReplace(int fromFd, const char *from, int toFd, const char *to)
{
    if (::renameat2(fromFd, from, toFd, to, RENAME_NOREPLACE) == 0)
        return 0;
    if (errno != EINVAL && errno != ENOSYS && errno != EOPNOTSUPP)
        return errno;
    // A file system without it: a hard link fails on a taken name too.
    if (::linkat(fromFd, from, toFd, to, 0) == 0) {
        ::unlinkat(fromFd, from, 0);
        return 0;
    }
    if (errno == EEXIST)
        return EEXIST;
    // Nor links (FAT, a folder): look, then move.
    struct stat status;
    if (::fstatat(toFd, to, &status, AT_SYMLINK_NOFOLLOW) == 0)
        return EEXIST;
    return ::renameat(fromFd, from, toFd, to) == 0 ? 0 : errno;
}

void removeTree(const QString &path)
{
    QByteArray native = nativePath(path);
    while (native.size() > 1 && native.endsWith('/'))
        native.chop(1);
    removeAt(AT_FDCWD, native.constData());
}

void sweepStaleStageFolders(const QString &folder)
{
    const int fd = ::open(nativePath(folder).constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0)
        return;
    forEachEntry(fd, [fd](const QByteArray &name, bool folder) {
        if (!folder)
            return;
        const QRegularExpressionMatch match = stageName().match(QString::fromLatin1(name));
        if (!match.hasMatch())
            return;
        const pid_t owner = pid_t(match.captured(1).toLongLong());
        if (owner != ::getpid() && ::kill(owner, 0) != 0 && errno == ESRCH)
            removeAt(fd, name.constData());
    });
    ::close(fd);
}
