// The five archiver libraries loaded with dlopen, and their calls, for the
// tests that drive them as the program does.
#include "archivercalls.h"

#include <cstring>
#include <dlfcn.h>
#include <utility>

namespace tenvo::test {

QHash<QByteArray, ArchiverCalls> loadArchivers(const QByteArray &folder, QString &error)
{
    static const std::pair<const char *, const char *> names[] = {
        {"unlha32", "Unlha"}, {"cab32", "Cab"}, {"unzip32", "UnZip"}, {"7-zip32", "SevenZip"}, {"unrar32", "Unrar"}, {"tar32", "Tar"},
    };
    QHash<QByteArray, ArchiverCalls> libraries;
    error.clear();
    for (const auto &[file, prefix] : names) {
        ArchiverCalls calls;
        calls.handle = dlopen(folder + '/' + file + ".so", RTLD_NOW | RTLD_LOCAL);
        if (!calls.handle) {
            error += QString::fromLocal8Bit(dlerror()) + u'\n';
            continue;
        }
        const QByteArray name(prefix);
        calls.version = reinterpret_cast<VersionCall>(dlsym(calls.handle, name + "GetVersion"));
        calls.check = reinterpret_cast<CheckCall>(dlsym(calls.handle, name + "CheckArchive"));
        calls.command = reinterpret_cast<CommandCall>(dlsym(calls.handle, name.constData()));
        if (!calls.version || !calls.check || !calls.command)
            error += QString::fromLatin1(file) + QStringLiteral(".so lacks one of its calls\n");
        libraries.insert(file, calls);
    }
    return libraries;
}

QByteArray commandLine(const QByteArray &switchText, const QByteArray &archive, const QByteArray &destination)
{
    auto quoted = [](QByteArray path) { return '"' + path.replace("\"", "\"\"") + '"'; };
    return switchText + quoted(archive) + ' ' + quoted(destination);
}

QByteArray commandLine(const QByteArray &switchText, const QString &archive, const QString &destination)
{
    return commandLine(switchText, archive.toUtf8(), destination.toUtf8());
}

int runArchiver(const ArchiverCalls &calls, const QByteArray &switchText, const QString &archive,
                const QString &destination, QByteArray *message)
{
    char output[1024];
    std::memset(output, 'z', sizeof output);
    const int result = calls.command(nullptr, commandLine(switchText, archive, destination).constData(), output,
                                     sizeof output);
    if (!std::memchr(output, '\0', sizeof output))
        return -1000;
    if (message)
        *message = output;
    return result;
}

} // namespace tenvo::test
