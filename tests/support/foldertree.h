// What a folder holds, as lines a test can compare in one go.
#pragma once

#include <QByteArray>
#include <QString>
#include <QStringList>

namespace tenvo::test {

// The MD5 of data in hexadecimal.
QString md5Hex(const QByteArray &data);

// Everything under folder, not following links, sorted: "a/" for a folder,
// "a -> t" for a link (t the last part of its target), "a = <md5>" for a file.
QStringList folderTree(const QString &folder);

} // namespace tenvo::test
