// The hidden folder one archive is extracted into before its files are
// moved into place.
#include "stagefolder.h"

#include "nativepath.h"

#include <QFile>
#include <QRegularExpression>

#include <atomic>
#include <cerrno>
#include <csignal>
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

void merge(int stageFd, int folderFd, const QByteArray &prefix, bool keepEmpty, StageMerge &outcome,
           bool wantNames);

// Merges the folder open at from into the one open at to and closes both;
// a folder that could not be opened (-1) fails the merge.
void mergeAndClose(int from, int to, const QByteArray &prefix, bool keepEmpty, StageMerge &outcome,
                   bool wantNames)
{
    if (from >= 0 && to >= 0)
        merge(from, to, prefix, keepEmpty, outcome, wantNames);
    else
        outcome.failed = true;
    if (from >= 0)
        ::close(from);
    if (to >= 0)
        ::close(to);
}

void merge(int stageFd, int folderFd, const QByteArray &prefix, bool keepEmpty, StageMerge &outcome,
           bool wantNames)
{
    QStringList *names = wantNames ? &outcome.names : nullptr;
    forEachEntry(stageFd, [&](const QByteArray &name, bool folder) {
        const char *entry = name.constData();
        if (!folder) {
            if (::renameat(stageFd, entry, folderFd, entry) == 0) {
                ++outcome.landed;
                if (names)
                    names->append(pathFromNative(prefix + name));
            } else {
                outcome.failed = true;
            }
            return;
        }
        struct stat there;
        if (::fstatat(folderFd, entry, &there, AT_SYMLINK_NOFOLLOW) == 0) {
            mergeAndClose(openFolder(stageFd, entry), S_ISDIR(there.st_mode) ? openFolder(folderFd, entry) : -1,
                          prefix + name + '/', keepEmpty, outcome, wantNames);
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
        if (files == 0 && !keepEmpty)
            return;
        if (::renameat(stageFd, entry, folderFd, entry) == 0) {
            outcome.landed += files;
            if (names)
                *names += found;
        } else {
            outcome.failed = true;
        }
    });
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

StageMerge mergeStageFolder(const QString &stage, const QString &folder, bool keepEmptyFolders, bool wantNames)
{
    StageMerge outcome;
    mergeAndClose(::open(nativePath(stage).constData(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC),
                  ::open(nativePath(folder).constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC), QByteArray(),
                  keepEmptyFolders, outcome, wantNames);
    removeTree(stage);
    return outcome;
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
