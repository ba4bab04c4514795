// Paths whose bytes on disk are not UTF-8, carried in a QString and back.
#pragma once

#include <QByteArray>
#include <QString>
#include <QStringList>

class QUrl;

// Qt reads every file name as UTF-8 and replaces what does not decode, so a
// name written in CP932 or Latin-1 could never be opened again through Qt.
// Here each byte that is not part of valid UTF-8 travels in the QString as
// the lone surrogate U+DC80 + (byte - 0x80), which no UTF-8 name can hold;
// every call that hands such a path to the file system or to an archiver
// library turns it back into the real bytes first.

// The path for bytes read from the system (readdir, argv): valid UTF-8 as
// text, every other byte as its surrogate. Never loses a byte.
QString pathFromNative(const QByteArray &bytes);

// The real bytes of path: the inverse of pathFromNative (other text as UTF-8).
QByteArray nativePath(const QString &path);

// True when path holds bytes that are not UTF-8.
bool hasNativeBytes(const QString &path);

// The path as the user reads it: each "/"-separated part that holds bytes
// that are not UTF-8 is decoded as CP932 when the whole part decodes so
// (files from Windows media are named so), else those bytes are written as
// "\x83" escapes. Other paths come back unchanged. Never holds a surrogate.
QString readablePath(const QString &path);

// path made absolute against the current folder (read as its bytes) and
// cleaned of "." and ".." parts, as QDir::cleanPath does; Qt's own way
// passes through the bytes it cannot decode and loses them.
QString absoluteNativePath(const QString &path);

// The file system as it sees the real bytes. isFileAt and isFolderAt follow
// links, as QFileInfo does; entryExistsAt looks at the entry itself, so a
// dangling link counts. fileSizeAt is -1 when the file cannot be looked at.
bool isFileAt(const QString &path);
bool isFolderAt(const QString &path);
bool entryExistsAt(const QString &path);
qint64 fileSizeAt(const QString &path);
// Creates path and any missing parents; true when a folder is there after.
bool makeFolders(const QString &path);

// The program's arguments, read from argv as the bytes they are (after Qt
// has taken out its own options), so a file name given there reaches the
// file it names.
QStringList nativeArguments(int argc, char **argv);

// The local path a file URL names (a drop, a file dialog's answer), its
// percent-escaped bytes kept as they are; empty for other URLs.
QString pathFromUrl(const QUrl &url);
