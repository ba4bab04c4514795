// The open window's side of one window per user and display: it listens for
// later starts and passes on the files they send.
#pragma once

#include <QObject>
#include <QStringList>

#include <functional>

class QLocalServer;
class QLocalSocket;

class InstanceServer : public QObject
{
    Q_OBJECT

public:
    enum Claim {
        Listening,    // this start is the window the later ones reach
        Delivered,    // another window took paths: this start has nothing left to do
        NotListening, // neither (a window that does not answer, a folder that cannot be written)
    };

    explicit InstanceServer(QObject *parent = nullptr);
    ~InstanceServer() override;

    // Becomes the window at instanceServerName() unless one answers there,
    // which then takes paths instead. A socket file nobody listens on (left
    // by a crashed window) is replaced; a live one is never taken over.
    // Starts that claim at the same moment take turns under a lock file.
    Claim claim(const QStringList &paths);

    // Takes a later start's files (absolute; empty when it only asks to bring
    // the window to the front) and says whether it took them. That start is
    // answered only then; files not taken stay with it, which opens a window
    // of its own rather than lose them.
    using Receiver = std::function<bool(const QStringList &paths)>;
    void setReceiver(Receiver receiver) { m_receiver = std::move(receiver); }

private:
    void readFrom(QLocalSocket *socket);

    QLocalServer *m_server = nullptr;
    Receiver m_receiver;
};
