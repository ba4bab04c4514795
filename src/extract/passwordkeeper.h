// The batch's password for encrypted ZIP archives.
#pragma once

#include <QMutex>
#include <QString>

#include <functional>

class clsArchive;

// The password rounds of one run. When a ZIP archive turns out to be
// encrypted, the password that opened an earlier archive of the run is
// tried first; then the user is asked, up to three times for that archive,
// a cancelled question ending its tries (the archive then counts as
// encrypted). A password that opens an archive is kept for the rest of the
// run. The password lives only here and in the command line of a call: it
// is never written anywhere, and wipe() (also on destruction) overwrites it.
//
// extract() runs the rounds for one archive on the calling thread. A run that
// calls the library on worker threads drives the same rounds itself:
// firstPassword() for the first call, and after each call that gives
// TENVO_ERR_ENCRYPTED, nextPassword() on the window's thread, remember()
// once a password worked.
class PasswordKeeper
{
public:
    static constexpr int maxQuestions = 3;

    // Asks for a password with the prompt and title given; a null QString
    // when the user cancelled.
    using Ask = std::function<QString(const QString &prompt, const QString &title)>;

    PasswordKeeper() = default;
    ~PasswordKeeper();
    PasswordKeeper(const PasswordKeeper &) = delete;
    PasswordKeeper &operator=(const PasswordKeeper &) = delete;

    // archive.extract for one archive, with the rounds above; returns the
    // library's result of the last call. Calls from several threads take
    // their questions one at a time, so a password found for one archive is
    // tried on the others before they ask.
    int extract(clsArchive &archive, const QString &path, QString &folder, const Ask &ask);

    // The kept password (null when none), to try first on any archive.
    QString firstPassword() const;
    // After a call with tried gave TENVO_ERR_ENCRYPTED: the kept password
    // when it is another one, else the user's answer (asked counts the
    // questions for this archive, starting at 0). Null when the archive's
    // tries are over.
    QString nextPassword(const QString &path, const QString &tried, int &asked, const Ask &ask);
    // Keeps password, which opened an archive, for the rest of the run.
    void remember(const QString &password);

    // Forgets the password, overwriting it.
    void wipe();

    // The texts of the question, with the archive's file name.
    static QString promptText(const QString &path, bool afterWrongOne);
    static QString titleText();

private:
    mutable QMutex m_mutex;
    QString m_password; // null when none is kept
    QMutex m_asking;
};
