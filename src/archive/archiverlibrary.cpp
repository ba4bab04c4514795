// One archiver library file, loaded by name at its first call.
#include "archiverlibrary.h"

#include "commandcontrol.h"
#include "nativepath.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QRegularExpression>

#include <dlfcn.h>

#include <mutex>

#include <cerrno>
#include <utility>

namespace {
using VersionCall = int (*)();
using CheckCall = int (*)(const char *, int);
using CommandCall = int (*)(void *, const char *, char *, unsigned int);
using ProgressCommandCall = int (*)(void *, const char *, char *, unsigned int,
                                   int (*)(void *, unsigned long long, unsigned long long), void *,
                                   int);

// Library calls come from the run's worker threads: one load at a time.
std::mutex loadMutex;

// Adds the folders a loader configuration file (/etc/ld.so.conf) names,
// following its "include" lines (shell patterns, relative to the file).
void addConfiguredFolders(const QString &path, QStringList &folders, int depth = 0)
{
    QFile file(path);
    if (depth > 8 || !file.open(QIODevice::ReadOnly))
        return;
    static const QRegularExpression blanks(QStringLiteral("\\s+"));
    while (!file.atEnd()) {
        const QString line = QFile::decodeName(file.readLine()).section(u'#', 0, 0).trimmed();
        QStringList words = line.split(blanks, Qt::SkipEmptyParts);
        if (words.isEmpty() || words.first() == u"hwcap")
            continue;
        if (words.first() != u"include") {
            folders.append(line);
            continue;
        }
        for (const QString &pattern : words.mid(1)) {
            const QFileInfo info(QFileInfo(path).dir(), pattern);
            const QDir dir = info.dir();
            for (const QString &name : dir.entryList({info.fileName()}, QDir::Files, QDir::Name))
                addConfiguredFolders(dir.filePath(name), folders, depth + 1);
        }
    }
}

// Whether the dynamic loader would find a file of this bare name: in the
// folders of LD_LIBRARY_PATH, those configured for the system's library
// cache, or the default ones. Decided from the file system, as the loader's
// error message is translated into the user's language.
bool loaderWouldFind(const QString &fileName)
{
    static const QRegularExpression separators(QStringLiteral("[:;]"));
    QStringList folders = QFile::decodeName(qgetenv("LD_LIBRARY_PATH")).split(separators, Qt::SkipEmptyParts);
    addConfiguredFolders(QStringLiteral("/etc/ld.so.conf"), folders);
    folders << QStringLiteral("/lib") << QStringLiteral("/usr/lib") << QStringLiteral("/lib64")
            << QStringLiteral("/usr/lib64");
    for (const QString &folder : std::as_const(folders)) {
        if (QFileInfo(QDir(folder), fileName).isFile())
            return true;
    }
    return false;
}

} // namespace

ArchiverLibrary::ArchiverLibrary(QString fileName, QString prefix)
    : m_fileName(std::move(fileName))
    , m_prefix(std::move(prefix))
{
}

QStringList ArchiverLibrary::searchFolders(const QString &folder)
{
    if (folder.isEmpty())
        return {};
    const QString own = folder.endsWith(u'/') ? folder : folder + u'/';
    return {own, QDir::cleanPath(own + QStringLiteral("../lib/tenvo")) + u'/'};
}

ArchiverLibrary::State ArchiverLibrary::load()
{
    const std::lock_guard<std::mutex> lock(loadMutex);
    if (m_state != State::NotLoaded)
        return m_state;

    QString candidate;
    for (const QString &folder : searchFolders(m_folder)) {
        if (QFileInfo::exists(folder + m_fileName)) {
            candidate = folder + m_fileName;
            break;
        }
    }
    if (!candidate.isEmpty()) {
        m_handle = ::dlopen(QFile::encodeName(candidate).constData(), RTLD_NOW | RTLD_LOCAL);
        m_state = m_handle ? State::Loaded : State::Unusable;
        return m_state;
    }

    // A bare name goes through the system's search (LD_LIBRARY_PATH, the
    // cache, the default folders); only a file found nowhere is missing.
    m_handle = ::dlopen(QFile::encodeName(m_fileName).constData(), RTLD_NOW | RTLD_LOCAL);
    if (m_handle)
        m_state = State::Loaded;
    else
        m_state = loaderWouldFind(m_fileName) ? State::Unusable : State::Missing;
    return m_state;
}

bool ArchiverLibrary::missing()
{
    for (const QString &folder : searchFolders(m_folder)) {
        if (QFileInfo::exists(folder + m_fileName))
            return false;
    }
    return load() == State::Missing;
}

void *ArchiverLibrary::resolve(const char *name)
{
    if (load() != State::Loaded)
        return nullptr;
    return ::dlsym(m_handle, name);
}

int ArchiverLibrary::getVersion()
{
    auto call = reinterpret_cast<VersionCall>(resolve((m_prefix + QStringLiteral("GetVersion")).toLatin1().constData()));
    if (m_state == State::Missing)
        return -1;
    return call ? call() : 0;
}

bool ArchiverLibrary::checkArchive(const QString &path, int mode)
{
    auto call = reinterpret_cast<CheckCall>(resolve((m_prefix + QStringLiteral("CheckArchive")).toLatin1().constData()));
    if (!call)
        return false;
    return call(nativePath(path).constData(), mode) != 0;
}

int ArchiverLibrary::command(const QByteArray &commandLine)
{
    auto call = reinterpret_cast<CommandCall>(resolve(m_prefix.toLatin1().constData()));
    if (!call)
        return libraryUnavailable;
    if (CommandControl *control = CommandControl::current()) {
        // The optional call that reports progress and can be stopped; what
        // the library says of the call goes to the control.
        if (auto withProgress = reinterpret_cast<ProgressCommandCall>(
                resolve((m_prefix + QStringLiteral("WithProgress")).toLatin1().constData()))) {
            QByteArray output(outputBufferSize, '\0');
            const int result = withProgress(nullptr, commandLine.constData(), output.data(),
                                            unsigned(output.size()), &CommandControl::report, control,
                                            control->processes());
            control->setMessage(QString::fromUtf8(output.constData()));
            return result;
        }
    }
    return call(nullptr, commandLine.constData(), nullptr, 0);
}
