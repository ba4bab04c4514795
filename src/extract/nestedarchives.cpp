// Extracting the archives that an archive held, each beside itself.
#include "nestedarchives.h"

#include "archiveresult.h"
#include "clsarchive.h"
#include "commandcontrol.h"
#include "namefolder.h"
#include "nativepath.h"
#include "result.h"

#include <QHash>
#include <QRegularExpression>
#include <QSet>

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

// The inner calls share the job's stop but report nothing: the bar and the
// library's words stay those of the archive of the list.
class NestedControl : public CommandControl
{
public:
    NestedControl(const std::atomic<bool> &stop, int processes)
        : m_stop(stop)
        , m_processes(processes)
    {
    }

    bool progress(quint64, quint64) override { return m_stop.load(); }
    int processes() const override { return m_processes; }

private:
    const std::atomic<bool> &m_stop;
    const int m_processes;
};

QSet<QString> registeredExtensions(const clsArchive &archive)
{
    QList<SupportType> types;
    archive.getSupportTypes(types);
    QSet<QString> extensions;
    for (const SupportType &type : types) {
        for (const QString &extension : extensionsOf(type)) {
            if (!extension.isEmpty())
                extensions.insert(extension);
        }
    }
    return extensions;
}

QString extensionOf(const QString &fileName)
{
    const qsizetype dot = fileName.lastIndexOf(u'.');
    return dot < 0 ? QString() : fileName.mid(dot + 1).trimmed().toUpper();
}

// Only a name of a registered type is looked at, and only when its content
// agrees: documents that are ZIP files inside (.docx, .odt, .jar, .epub) are
// no archives to their owner, and a text named .zip is no archive at all.
bool isInnerArchive(const clsArchive &archive, const QString &path, const QSet<QString> &extensions)
{
    if (!extensions.contains(extensionOf(path.mid(path.lastIndexOf(u'/') + 1))))
        return false;
    return !clsArchive::typeNameByContent(path).isEmpty() && archive.isSupportFile(path) >= 0;
}

// One inner archive, with the later volumes of its set ("x.part2.rar", ...)
// that go with it.
struct InnerArchive
{
    QString path;
    QStringList laterVolumes;
};

// The name of the first volume when name is a later volume of a set
// ("x.part2.rar" gives "x.part1.rar", the number as wide), else "".
QString firstVolumeOf(const QString &name)
{
    static const QRegularExpression volume(QStringLiteral("^(.*\\.part)(\\d+)(\\.rar)$"),
                                           QRegularExpression::CaseInsensitiveOption);
    // A regular expression refuses a text holding lone surrogates (a name
    // that is not UTF-8): it reads a stand-in of the same length.
    QString probe = name;
    for (QChar &c : probe) {
        if (c.isSurrogate())
            c = QChar::ReplacementCharacter;
    }
    const QRegularExpressionMatch match = volume.match(probe);
    if (!match.hasMatch() || match.captured(2).toULongLong() == 1)
        return QString();
    return name.left(match.capturedEnd(1)) + QStringLiteral("1").rightJustified(match.capturedLength(2), u'0')
        + match.captured(3);
}

// The inner archives under root (which ends in "/"), in name order per
// folder; a volume set is extracted from its first volume, so its later
// volumes go with it. Folders are walked one after another, not
// recursively, so a deep tree holds no descriptors open and no stack; links
// are never entered.
QList<InnerArchive> innerArchivesUnder(const clsArchive &archive, const QString &root,
                                       const QSet<QString> &extensions, const std::atomic<bool> &stop)
{
    QList<InnerArchive> found;
    QStringList folders{root};
    for (qsizetype next = 0; next < folders.size() && !stop.load(); ++next) {
        const QString folder = folders[next];
        const int fd = ::open(nativePath(folder).constData(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
        if (fd < 0)
            continue;
        DIR *dir = ::fdopendir(fd);
        if (!dir) {
            ::close(fd);
            continue;
        }
        QStringList files;
        QStringList subfolders;
        while (const dirent *entry = ::readdir(dir)) {
            const char *name = entry->d_name;
            if (name[0] == '.' && (name[1] == '\0' || (name[1] == '.' && name[2] == '\0')))
                continue;
            unsigned char type = entry->d_type;
            if (type == DT_UNKNOWN) {
                struct stat status;
                if (::fstatat(fd, name, &status, AT_SYMLINK_NOFOLLOW) != 0)
                    continue;
                type = S_ISDIR(status.st_mode) ? DT_DIR : S_ISREG(status.st_mode) ? DT_REG : DT_UNKNOWN;
            }
            if (type == DT_DIR)
                subfolders.append(folder + pathFromNative(QByteArray(name)) + u'/');
            else if (type == DT_REG)
                files.append(folder + pathFromNative(QByteArray(name)));
        }
        ::closedir(dir);
        files.sort();
        subfolders.sort();
        const QSet<QString> names(files.cbegin(), files.cend());
        QHash<QString, qsizetype> firstVolumes; // path -> index in found
        QList<QString> laterVolumes;
        for (const QString &file : std::as_const(files)) {
            const QString first = firstVolumeOf(file.mid(folder.size()));
            if (!first.isEmpty() && names.contains(folder + first)) {
                laterVolumes.append(file);
            } else if (isInnerArchive(archive, file, extensions)) {
                firstVolumes.insert(file, found.size());
                found.append({file, {}});
            }
        }
        for (const QString &file : std::as_const(laterVolumes)) {
            const auto at = firstVolumes.constFind(folder + firstVolumeOf(file.mid(folder.size())));
            if (at != firstVolumes.constEnd())
                found[at.value()].laterVolumes.append(file);
        }
        folders += subfolders;
    }
    return found;
}

// Extracts one inner archive beside itself; folder gets the folder it went
// into. Returns the library's result.
int extractBeside(clsArchive &archive, const InnerArchive &inner, const QString &password,
                  const std::atomic<bool> &stop, QString &folder)
{
    const QString &path = inner.path;
    if (stop.load())
        return TENVO_ERR_STOPPED;
    const QString parent = path.left(path.lastIndexOf(u'/') + 1);
    folder = freeNameFolderPath(nameFolderPath(parent, path));
    if (::mkdir(nativePath(folder).constData(), 0777) != 0)
        return TENVO_ERR_WRITE;
    QString into = folder;
    const int code = archive.extract(path, into, password);
    if (code == TENVO_OK) {
        ::unlink(nativePath(path).constData());
        for (const QString &volume : inner.laterVolumes)
            ::unlink(nativePath(volume).constData());
    } else {
        ::rmdir(nativePath(folder).constData()); // only when empty
    }
    return code;
}

QString leftText(const QString &relativePath, int code)
{
    ArchiveResult result;
    result.code = code;
    result.stopped = code == TENVO_ERR_STOPPED;
    return relativePath + u'\t' + causeText(result);
}

} // namespace

NestedArchives extractNestedArchives(clsArchive &archive, const QString &folder, const QString &password,
                                     const std::atomic<bool> &stop, int processes)
{
    NestedArchives outcome;
    NestedControl control(stop, processes);
    const CommandControl::Scope scope(&control);
    const QString root = folder.endsWith(u'/') ? folder : folder + u'/';
    const QSet<QString> extensions = registeredExtensions(archive);
    // Each level looks only into the folders the level before made, so an
    // archive that holds itself ends at the last level.
    QStringList roots{root};
    for (int depth = 1; depth <= nestedDepth && !roots.isEmpty(); ++depth) {
        QList<InnerArchive> archives;
        for (const QString &at : std::as_const(roots))
            archives += innerArchivesUnder(archive, at, extensions, stop);
        roots.clear();
        for (const InnerArchive &inner : std::as_const(archives)) {
            QString made;
            const int code = extractBeside(archive, inner, password, stop, made);
            if (code == TENVO_OK) {
                ++outcome.extracted;
                roots.append(made);
            } else {
                outcome.left.append(leftText(inner.path.mid(root.size()), code));
            }
        }
    }
    return outcome;
}
