// tenvo-keyring.so: the desktop keyring reached through QtKeychain and
// D-Bus, loaded by PasswordStore only when remembered passwords are asked
// for, so that a run that never asks does not load the bus libraries.
#include "keyring.h"

#include "clsarchive.h"

#include <QDBusConnection>
#include <QDBusMessage>
#include <QDataStream>
#include <QEventLoop>
#include <QFileInfo>
#include <QTimer>
#include <QUuid>

#include <qt6keychain/keychain.h>

#include <functional>

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

bool busHasKeyring(int timeoutMs)
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
                if (!busCall(bus, QStringLiteral("NameHasOwner"), {keyring}, timeoutMs).isEmpty()) {
                    found = true;
                    break;
                }
            }
            if (!found) {
                const QStringList startable = busCall(bus, QStringLiteral("ListActivatableNames"), {}, timeoutMs);
                for (const QString &keyring : keyringNames)
                    found = found || startable.contains(keyring);
            }
        }
    }
    QDBusConnection::disconnectFromBus(name);
    return found;
}

bool readEntry(QStringList &passwords, int timeoutMs)
{
    passwords.clear();
    auto *job = new QKeychain::ReadPasswordJob(keyringService());
    job->setKey(keyringEntryKey());
    job->setInsecureFallback(false);
    bool ok = false;
    const bool answered = runBounded(job, timeoutMs, [&](QKeychain::Job *done) {
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
    return answered && ok;
}

bool writeEntry(const QStringList &passwords, int timeoutMs)
{
    QKeychain::Job *job = nullptr;
    if (passwords.isEmpty()) {
        auto *remove = new QKeychain::DeletePasswordJob(keyringService());
        remove->setKey(keyringEntryKey());
        job = remove;
    } else {
        QByteArray data;
        {
            QDataStream stream(&data, QIODevice::WriteOnly);
            stream << passwords;
        }
        auto *store = new QKeychain::WritePasswordJob(keyringService());
        store->setKey(keyringEntryKey());
        store->setBinaryData(data);
        wipeSecret(data);
        job = store;
    }
    job->setInsecureFallback(false);
    bool ok = false;
    const bool answered = runBounded(job, timeoutMs, [&](QKeychain::Job *done) {
        ok = done->error() == QKeychain::NoError
            || (passwords.isEmpty() && done->error() == QKeychain::EntryNotFound);
    });
    return answered && ok;
}

} // namespace

extern "C" __attribute__((visibility("default"))) const KeyringCalls *tenvoKeyringCalls()
{
    static const KeyringCalls calls{busHasKeyring, readEntry, writeEntry};
    return &calls;
}
