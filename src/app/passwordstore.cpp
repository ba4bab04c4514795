// The passwords the user asked to remember, kept in the desktop's keyring.
#include "passwordstore.h"

#include "clsarchive.h"

#include <QCoreApplication>
#include <QDBusConnection>
#include <QDBusMessage>
#include <QDataStream>
#include <QDir>
#include <QEventLoop>
#include <QFileInfo>
#include <QTimer>
#include <QUuid>

#include <qt6keychain/keychain.h>

namespace {

// The bus names a keyring QtKeychain can use answers to.
const QStringList keyringNames{
    QStringLiteral("org.freedesktop.secrets"),
    QStringLiteral("org.kde.kwalletd6"),
    QStringLiteral("org.kde.kwalletd5"),
    QStringLiteral("org.kde.kwalletd"),
};

// The session bus as the environment names it now (the bus library keeps
// the address it first read for the rest of the process).
QString sessionBusAddress()
{
    const QString address = qEnvironmentVariable("DBUS_SESSION_BUS_ADDRESS");
    if (!address.isEmpty())
        return address;
    const QString runtime = qEnvironmentVariable("XDG_RUNTIME_DIR");
    if (!runtime.isEmpty() && QFileInfo::exists(runtime + QStringLiteral("/bus")))
        return QStringLiteral("unix:path=") + runtime + QStringLiteral("/bus");
    return QString();
}

QStringList busCall(QDBusConnection &bus, const QString &method, const QVariantList &arguments, int timeoutMs)
{
    QDBusMessage call = QDBusMessage::createMethodCall(QStringLiteral("org.freedesktop.DBus"),
                                                       QStringLiteral("/org/freedesktop/DBus"),
                                                       QStringLiteral("org.freedesktop.DBus"), method);
    call.setArguments(arguments);
    const QDBusMessage reply = bus.call(call, QDBus::Block, timeoutMs);
    if (reply.type() != QDBusMessage::ReplyMessage || reply.arguments().isEmpty())
        return {};
    const QVariant value = reply.arguments().constFirst();
    return value.typeId() == QMetaType::Bool ? (value.toBool() ? QStringList{method} : QStringList())
                                             : value.toStringList();
}

// Runs job to its end, or until timeoutMs have passed; then is what took
// its answer. The job deletes itself, also when it answers too late.
bool runBounded(QKeychain::Job *job, int timeoutMs, const std::function<void(QKeychain::Job *)> &then)
{
    QEventLoop loop;
    QTimer bound;
    bound.setSingleShot(true);
    bool answered = false;
    job->setAutoDelete(true);
    QObject::connect(job, &QKeychain::Job::finished, &loop, [&](QKeychain::Job *done) {
        answered = true;
        then(done);
        loop.quit();
    });
    QObject::connect(&bound, &QTimer::timeout, &loop, &QEventLoop::quit);
    bound.start(timeoutMs);
    job->start();
    loop.exec(QEventLoop::ExcludeUserInputEvents);
    return answered;
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
    return QStringLiteral("Tenvo");
}

QString PasswordStore::entryKey()
{
    return QStringLiteral("passwords");
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
    const QString address = sessionBusAddress();
    if (address.isEmpty())
        return false;
    // A connection of its own, so an address changed since start-up counts.
    const QString name = QStringLiteral("tenvo-keyring-probe-") + QUuid::createUuid().toString(QUuid::WithoutBraces);
    bool found = false;
    {
        QDBusConnection bus = QDBusConnection::connectToBus(address, name);
        if (bus.isConnected()) {
            for (const QString &keyring : keyringNames) {
                if (!busCall(bus, QStringLiteral("NameHasOwner"), {keyring}, m_timeoutMs).isEmpty()) {
                    found = true;
                    break;
                }
            }
            if (!found) {
                const QStringList startable = busCall(bus, QStringLiteral("ListActivatableNames"), {}, m_timeoutMs);
                for (const QString &keyring : keyringNames)
                    found = found || startable.contains(keyring);
            }
        }
    }
    QDBusConnection::disconnectFromBus(name);
    return found;
}

bool PasswordStore::read(QStringList &passwords)
{
    passwords.clear();
    auto *job = new QKeychain::ReadPasswordJob(serviceName());
    job->setKey(entryKey());
    job->setInsecureFallback(false);
    bool ok = false;
    const bool answered = runBounded(job, m_timeoutMs, [&](QKeychain::Job *done) {
        if (done->error() == QKeychain::EntryNotFound) {
            ok = true;
        } else if (done->error() == QKeychain::NoError) {
            QByteArray data = static_cast<QKeychain::ReadPasswordJob *>(done)->binaryData();
            QDataStream stream(data);
            stream >> passwords;
            ok = stream.status() == QDataStream::Ok;
            wipeSecret(data);
        }
    });
    if (!answered || !ok) {
        wipeAll(passwords);
        m_state = State::Missing;
        return false;
    }
    return true;
}

bool PasswordStore::write(const QStringList &passwords)
{
    QKeychain::Job *job = nullptr;
    if (passwords.isEmpty()) {
        auto *remove = new QKeychain::DeletePasswordJob(serviceName());
        remove->setKey(entryKey());
        job = remove;
    } else {
        QByteArray data;
        {
            QDataStream stream(&data, QIODevice::WriteOnly);
            stream << passwords;
        }
        auto *store = new QKeychain::WritePasswordJob(serviceName());
        store->setKey(entryKey());
        store->setBinaryData(data);
        wipeSecret(data);
        job = store;
    }
    job->setInsecureFallback(false);
    bool ok = false;
    const bool answered = runBounded(job, m_timeoutMs, [&](QKeychain::Job *done) {
        ok = done->error() == QKeychain::NoError
            || (passwords.isEmpty() && done->error() == QKeychain::EntryNotFound);
    });
    if (!answered || !ok)
        m_state = State::Missing;
    return answered && ok;
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
