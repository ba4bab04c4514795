// The open window's side of one window per user and display.
#include "instanceserver.h"

#include "singleinstance.h"

#include <QLocalServer>
#include <QLocalSocket>
#include <QLockFile>
#include <QVariant>

namespace {
// What a connection has sent so far.
const char *const receivedProperty = "tenvoReceived";
} // namespace

InstanceServer::InstanceServer(QObject *parent) : QObject(parent) {}

InstanceServer::~InstanceServer() = default;

InstanceServer::Claim InstanceServer::claim(const QStringList &paths)
{
    const QString name = instanceServerName();
    QLockFile lock(name + QStringLiteral(".lock"));
    // Held only while one start looks and listens; a crashed holder's lock is
    // taken over, and without a lock at all the start still goes on.
    lock.tryLock(3000);
    switch (sendToRunningInstance(paths)) {
    case InstanceReply::Delivered:
        return Delivered;
    case InstanceReply::NoAnswer:
        return NotListening;
    case InstanceReply::NoInstance:
        break;
    }
    QLocalServer::removeServer(name);
    m_server = new QLocalServer(this);
    m_server->setSocketOptions(QLocalServer::UserAccessOption);
    if (!m_server->listen(name))
        return NotListening;
    connect(m_server, &QLocalServer::newConnection, this, [this] {
        while (QLocalSocket *socket = m_server->nextPendingConnection()) {
            connect(socket, &QLocalSocket::readyRead, this, [this, socket] { readFrom(socket); });
            connect(socket, &QLocalSocket::disconnected, socket, &QObject::deleteLater);
            readFrom(socket);
        }
    });
    return Listening;
}

void InstanceServer::readFrom(QLocalSocket *socket)
{
    QByteArray received = socket->property(receivedProperty).toByteArray() + socket->readAll();
    bool broken = false;
    const std::optional<QStringList> paths = takeInstanceMessage(received, &broken);
    socket->setProperty(receivedProperty, received);
    if (broken) {
        socket->abort();
        return;
    }
    if (!paths)
        return;
    if (!m_receiver || !m_receiver(*paths)) {
        socket->abort();
        return;
    }
    socket->write(&instanceAcknowledgement, 1);
    socket->flush();
    socket->disconnectFromServer();
}
