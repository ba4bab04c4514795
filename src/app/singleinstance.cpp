// One window per user and display: the socket's name, the message, and the
// side that sends, written on plain sockets so that the program's start does
// not load Qt's network library.
#include "singleinstance.h"

#include <QCryptographicHash>
#include <QDataStream>
#include <QDir>
#include <QFile>
#include <QRegularExpression>

#include <sys/socket.h>
#include <sys/un.h>

#include <cerrno>
#include <chrono>
#include <cstring>
#include <poll.h>
#include <unistd.h>

namespace {

// Marks a message as ours, and its layout, should it ever change.
constexpr quint32 messageMagic = 0x54564e31; // "TVN1"
// Far beyond any list a file manager hands over; refuses stray bytes.
constexpr quint32 largestMessage = 64u << 20;

// ":0" and ":0.0" name the same display.
QString displayName()
{
    QString display = qEnvironmentVariable("DISPLAY");
    static const QRegularExpression screen(QStringLiteral("\\.\\d+$"));
    if (display.lastIndexOf(u'.') > display.lastIndexOf(u':'))
        display.remove(screen);
    return display;
}

class Socket
{
public:
    Socket() : fd(::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0)) {}
    ~Socket()
    {
        if (fd >= 0)
            ::close(fd);
    }
    Socket(const Socket &) = delete;
    Socket &operator=(const Socket &) = delete;
    const int fd;
};

// Waits for events on fd until deadline; false once it has passed.
bool waitFor(int fd, short events, std::chrono::steady_clock::time_point deadline)
{
    for (;;) {
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
            deadline - std::chrono::steady_clock::now());
        if (left.count() <= 0)
            return false;
        pollfd watched{fd, events, 0};
        const int ready = ::poll(&watched, 1, int(left.count()));
        if (ready > 0)
            return true;
        if (ready < 0 && errno != EINTR)
            return false;
    }
}

} // namespace

QString instanceServerName()
{
    const QByteArray display = (displayName() + u'\n' + qEnvironmentVariable("WAYLAND_DISPLAY")).toUtf8();
    const QString name = QStringLiteral("tenvo-%1-%2")
                             .arg(::getuid())
                             .arg(QString::fromLatin1(
                                 QCryptographicHash::hash(display, QCryptographicHash::Sha256).toHex().left(16)));
    // sun_path holds 107 bytes and a terminating zero.
    constexpr qsizetype longest = sizeof(sockaddr_un::sun_path) - 1;
    for (const QString &folder : {qEnvironmentVariable("XDG_RUNTIME_DIR"), QDir::tempPath(), QStringLiteral("/tmp")}) {
        if (folder.isEmpty())
            continue;
        const QString path = QDir(folder).filePath(name);
        if (QFile::encodeName(path).size() <= longest)
            return path;
    }
    return QStringLiteral("/tmp/") + name;
}

QByteArray instanceMessage(const QStringList &paths)
{
    QByteArray body;
    QDataStream out(&body, QIODevice::WriteOnly);
    out.setVersion(QDataStream::Qt_6_0);
    out << messageMagic << paths;
    QByteArray message;
    QDataStream length(&message, QIODevice::WriteOnly);
    length << quint32(body.size());
    return message + body;
}

std::optional<QStringList> takeInstanceMessage(QByteArray &bytes, bool *broken)
{
    *broken = false;
    if (bytes.size() < 4)
        return std::nullopt;
    quint32 size = 0;
    QDataStream(bytes.left(4)) >> size;
    if (size > largestMessage) {
        *broken = true;
        return std::nullopt;
    }
    if (quint64(bytes.size()) < 4 + quint64(size))
        return std::nullopt;
    QDataStream in(bytes.mid(4, size));
    in.setVersion(QDataStream::Qt_6_0);
    quint32 magic = 0;
    QStringList paths;
    in >> magic >> paths;
    bytes.remove(0, 4 + size);
    if (magic != messageMagic || in.status() != QDataStream::Ok) {
        *broken = true;
        return std::nullopt;
    }
    return paths;
}

InstanceReply sendToRunningInstance(const QStringList &paths, int waitMs)
{
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(waitMs);
    const QByteArray name = QFile::encodeName(instanceServerName());
    Socket socket;
    if (socket.fd < 0)
        return InstanceReply::NoInstance;
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    std::memcpy(address.sun_path, name.constData(), std::size_t(name.size()));
    // A socket file nobody listens on (ECONNREFUSED) is one a crashed window left.
    if (::connect(socket.fd, reinterpret_cast<const sockaddr *>(&address), sizeof address) != 0)
        return errno == EAGAIN ? InstanceReply::NoAnswer : InstanceReply::NoInstance;
    // Only a window of this same user is told which files this user opens;
    // another's socket is left alone.
    ucred peer{};
    socklen_t peerSize = sizeof peer;
    if (::getsockopt(socket.fd, SOL_SOCKET, SO_PEERCRED, &peer, &peerSize) != 0 || peer.uid != ::getuid())
        return InstanceReply::NoAnswer;

    const QByteArray message = instanceMessage(paths);
    for (qsizetype sent = 0; sent < message.size();) {
        const ssize_t n = ::send(socket.fd, message.constData() + sent, std::size_t(message.size() - sent), MSG_NOSIGNAL);
        if (n > 0)
            sent += n;
        else if (n < 0 && errno != EAGAIN && errno != EINTR)
            return InstanceReply::NoAnswer;
        else if (!waitFor(socket.fd, POLLOUT, deadline))
            return InstanceReply::NoAnswer;
    }
    for (;;) {
        char answer = 0;
        const ssize_t n = ::recv(socket.fd, &answer, 1, 0);
        if (n == 1)
            return answer == instanceAcknowledgement ? InstanceReply::Delivered : InstanceReply::NoAnswer;
        if (n == 0 || (errno != EAGAIN && errno != EINTR))
            return InstanceReply::NoAnswer;
        if (!waitFor(socket.fd, POLLIN, deadline))
            return InstanceReply::NoAnswer;
    }
}
