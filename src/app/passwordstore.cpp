// The passwords the user asked to remember, kept in the desktop's keyring.
#include "passwordstore.h"

#include "archiverlibrary.h"
#include "clsarchive.h"
#include "keyring.h"

#include <QCoreApplication>
#include <QFile>
#include <QFileInfo>

#include <dlfcn.h>

namespace {

// The keyring module, found where the archiver libraries are (the
// program's folder, then lib/tenvo beside it) and loaded on first use;
// null when it is missing or broken, which reads as no keyring.
const KeyringCalls *keyringCalls()
{
    static const KeyringCalls *const calls = [] {
        const QString name = QStringLiteral("tenvo-keyring.so");
        for (const QString &folder : ArchiverLibrary::searchFolders(QCoreApplication::applicationDirPath())) {
            if (!QFileInfo::exists(folder + name))
                continue;
            void *handle = ::dlopen(QFile::encodeName(folder + name).constData(), RTLD_NOW | RTLD_LOCAL);
            auto getter = handle ? reinterpret_cast<KeyringCallsGetter>(::dlsym(handle, keyringCallsSymbol)) : nullptr;
            return getter ? getter() : nullptr;
        }
        return static_cast<const KeyringCalls *>(nullptr);
    }();
    return calls;
}

void wipeAll(QStringList &passwords)
{
    for (QString &password : passwords)
        wipeSecret(password);
    passwords.clear();
}

} // namespace

PasswordStore::PasswordStore(int timeoutMs)
    : m_timeoutMs(timeoutMs)
{
}

QString PasswordStore::serviceName()
{
    return keyringService();
}

QString PasswordStore::entryKey()
{
    return keyringEntryKey();
}

bool PasswordStore::available()
{
    if (m_state == State::Unknown) {
        QStringList passwords;
        m_state = busHasKeyring() && read(passwords) ? State::Available : State::Missing;
        wipeAll(passwords);
    }
    return m_state == State::Available;
}

bool PasswordStore::busHasKeyring()
{
    const KeyringCalls *calls = keyringCalls();
    return calls && calls->busHasKeyring(m_timeoutMs);
}

bool PasswordStore::read(QStringList &passwords)
{
    const KeyringCalls *calls = keyringCalls();
    if (!calls || !calls->read(passwords, m_timeoutMs)) {
        wipeAll(passwords);
        m_state = State::Missing;
        return false;
    }
    return true;
}

bool PasswordStore::write(const QStringList &passwords)
{
    const KeyringCalls *calls = keyringCalls();
    const bool ok = calls && calls->write(passwords, m_timeoutMs);
    if (!ok)
        m_state = State::Missing;
    return ok;
}

bool PasswordStore::change(const std::function<bool(QStringList &)> &edit)
{
    if (!available())
        return false;
    QStringList passwords;
    bool ok = read(passwords);
    if (ok && edit(passwords))
        ok = write(passwords);
    wipeAll(passwords);
    return ok;
}

QStringList PasswordStore::passwords()
{
    QStringList passwords;
    if (available())
        read(passwords);
    return passwords;
}

bool PasswordStore::remember(const QString &password)
{
    return change([&password](QStringList &passwords) {
        const qsizetype at = passwords.indexOf(password);
        if (at == 0)
            return false;
        if (at > 0) {
            passwords.move(at, 0);
        } else {
            QString copy = password;
            copy.detach();
            passwords.prepend(copy);
        }
        return true;
    });
}

bool PasswordStore::remove(int index)
{
    bool inRange = false;
    const bool ok = change([index, &inRange](QStringList &passwords) {
        inRange = index >= 0 && index < passwords.size();
        if (inRange) {
            wipeSecret(passwords[index]);
            passwords.removeAt(index);
        }
        return inRange;
    });
    return ok && inRange;
}
