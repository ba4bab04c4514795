// The five archiver libraries loaded with dlopen, and their calls, for the
// tests that drive them as the program does.
#pragma once

#include <QByteArray>
#include <QHash>
#include <QString>

namespace tenvo::test {

using VersionCall = int (*)();
using CheckCall = int (*)(const char *, int);
using CommandCall = int (*)(void *, const char *, char *, unsigned int);

// One library's three calls.
struct ArchiverCalls {
    void *handle = nullptr;
    VersionCall version = nullptr;
    CheckCall check = nullptr;
    CommandCall command = nullptr;
};

// Loads all five libraries from folder into this process, as the program
// does, keyed by file name without ".so" ("unlha32", "7-zip32", ...). Says in
// error which one is missing or lacks a call; the rest are loaded all the same.
QHash<QByteArray, ArchiverCalls> loadArchivers(const QByteArray &folder, QString &error);

// The line the program sends: the switch text, then the archive and the
// destination each in quotes, a quote inside doubled.
QByteArray commandLine(const QByteArray &switchText, const QString &archive, const QString &destination);
// The same for paths given as raw bytes, which need not be UTF-8.
QByteArray commandLine(const QByteArray &switchText, const QByteArray &archive, const QByteArray &destination);

// Runs one command line through the library and returns its result, with
// its message in message. Gives -1000 when the message does not end inside
// the 1 KiB buffer the library was handed.
int runArchiver(const ArchiverCalls &calls, const QByteArray &switchText, const QString &archive,
                const QString &destination, QByteArray *message = nullptr);

} // namespace tenvo::test
