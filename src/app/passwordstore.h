// The passwords the user asked to remember, kept in the desktop's keyring.
#pragma once

#include <QString>
#include <QStringList>

#include <functional>

// The list lives in one entry of the desktop's Secret Service keyring
// (through QtKeychain), never in the settings file or any other file. Each
// call reads the entry afresh, so two windows or a window and the command
// line see one list. The keyring answers asynchronously: every call waits
// for it in a local event loop (user input held back) for at most
// timeoutMs, so a keyring that does not answer costs that long and never
// freezes the program; it then counts as not available. Copies held here
// are overwritten once used.
class PasswordStore
{
public:
    static constexpr int defaultTimeoutMs = 10000;

    explicit PasswordStore(int timeoutMs = defaultTimeoutMs);
    PasswordStore(const PasswordStore &) = delete;
    PasswordStore &operator=(const PasswordStore &) = delete;

    // Whether a keyring service answers on the session bus and lets this
    // program read its entry. Asked once per store (a bus that is not
    // there answers at once); false from then on after any failure.
    bool available();

    // The remembered passwords, the most recent first; empty when there are
    // none or no keyring. The caller wipes the list once used.
    QStringList passwords();
    // Puts password first (moving it there when it is already remembered).
    // False when it could not be stored.
    bool remember(const QString &password);
    // Forgets the password at index of passwords(). False when it could not.
    bool remove(int index);

    // The keyring entry's service and key.
    static QString serviceName();
    static QString entryKey();

private:
    bool busHasKeyring();
    bool read(QStringList &passwords);
    bool write(const QStringList &passwords);
    bool change(const std::function<bool(QStringList &)> &edit);

    int m_timeoutMs;
    enum class State { Unknown, Available, Missing };
    State m_state = State::Unknown;
};
