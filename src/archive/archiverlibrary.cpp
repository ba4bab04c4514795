// One archiver library file, loaded by name at its first call.
#include "archiverlibrary.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <dlfcn.h>

#include <cerrno>
#include <utility>

namespace {
using VersionCall = int (*)();
using CheckCall = int (*)(const char *, int);
using CommandCall = int (*)(void *, const char *, char *, unsigned int);
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
    // cache, the default folders); only "no such file" counts as missing.
    m_handle = ::dlopen(QFile::encodeName(m_fileName).constData(), RTLD_NOW | RTLD_LOCAL);
    if (m_handle) {
        m_state = State::Loaded;
    } else {
        const char *error = ::dlerror();
        const bool notFound = error && QByteArray(error).contains("No such file");
        m_state = notFound ? State::Missing : State::Unusable;
    }
    return m_state;
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
    return call(QFile::encodeName(path).constData(), mode) != 0;
}

int ArchiverLibrary::command(const QByteArray &commandLine)
{
    auto call = reinterpret_cast<CommandCall>(resolve(m_prefix.toLatin1().constData()));
    if (!call)
        return libraryUnavailable;
    return call(nullptr, commandLine.constData(), nullptr, 0);
}
