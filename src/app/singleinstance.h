// One window per user and display: where the open window listens, what a
// later start sends it, and the sending side, which needs neither widgets nor
// Qt's network library so that a start that hands its files over stays cheap.
#pragma once

#include <QByteArray>
#include <QString>
#include <QStringList>

#include <optional>

// The local socket the open window listens on, one per user and display:
// in $XDG_RUNTIME_DIR (else the temporary folder), named after the user id
// and a hash of DISPLAY and WAYLAND_DISPLAY, never longer than a socket path
// can be. Read from the environment at each call.
QString instanceServerName();

// A message's bytes: a length, then the paths as a QDataStream, so any name
// the file system allows (newlines, bytes that are not UTF-8) arrives intact.
QByteArray instanceMessage(const QStringList &paths);
// The paths of a whole message at the front of bytes, which it removes;
// nothing while the message is still incomplete; an empty optional and
// *broken set for bytes that are no message (too long, not ours).
std::optional<QStringList> takeInstanceMessage(QByteArray &bytes, bool *broken);
// The one byte the window answers once it has taken a message.
inline constexpr char instanceAcknowledgement = '\x06';

enum class InstanceReply {
    NoInstance, // nothing listens there (no socket, or one a crashed window left)
    Delivered,  // the window took the paths
    NoAnswer,   // something listens but did not take them in time
};

// Sends paths (absolute; empty: only bring the window to the front) to the
// window listening at instanceServerName(), run by this same user, and waits
// at most waitMs for its acknowledgement. Never blocks longer, never raises
// SIGPIPE.
InstanceReply sendToRunningInstance(const QStringList &paths, int waitMs = 2000);
