// What PasswordStore calls in tenvo-keyring.so, the module that talks to
// the desktop's keyring.
#pragma once

#include <QString>
#include <QStringList>

// The one keyring entry that holds the remembered passwords.
inline QString keyringService() { return QStringLiteral("Tenvo"); }
inline QString keyringEntryKey() { return QStringLiteral("passwords"); }

// Each call waits at most timeoutMs for the keyring; false when it did not
// answer or failed.
struct KeyringCalls {
    // Whether a keyring service answers on the session bus.
    bool (*busHasKeyring)(int timeoutMs);
    // The entry's list; an entry not there reads as an empty list.
    bool (*read)(QStringList &passwords, int timeoutMs);
    // Replaces the entry; an empty list removes it.
    bool (*write)(const QStringList &passwords, int timeoutMs);
};

// The module's one export.
inline constexpr char keyringCallsSymbol[] = "tenvoKeyringCalls";
using KeyringCallsGetter = const KeyringCalls *(*)();
