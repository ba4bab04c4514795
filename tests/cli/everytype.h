// One small archive of every type the program extracts, each holding folders,
// for the command-line tests and the installed-program check.
#pragma once

#include <QByteArray>
#include <QMap>
#include <QString>
#include <QStringList>

#include <string>

namespace tenvo::fixture {

// Writes into folder one archive of each type that the program registers:
// pack.lzh, box.cab, docs.zip, old.rar (RAR 4), notes.rar (RAR 5), and
// seven.7z once 7z is a registered type. False with the reason in *error
// when one cannot be written.
bool writeEveryType(const QString &folder, std::string *error);

// Their file names, in the order written.
QStringList everyTypeFileNames();

// What extracting them with --name-folders, folders restored, gives: each
// file's path below the destination, and its contents.
QMap<QString, QByteArray> everyTypeExtracted();

} // namespace tenvo::fixture
