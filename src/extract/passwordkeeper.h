// The passwords of one extraction job, for encrypted archives.
#pragma once

#include <QString>
#include <QStringList>

// Every password that opened an archive of the job is kept, the most recent
// first, and tried on each encrypted archive before the passwords given
// with the job (a password file) in their order; only then is the user
// asked, up to maxQuestions times for one archive. Passwords live only here,
// in the questions' answers and in the command line of a call: never in a
// file. wipe() (also on destruction) overwrites every copy held here.
class PasswordKeeper
{
public:
    static constexpr int maxQuestions = 3;

    PasswordKeeper() = default;
    ~PasswordKeeper();
    PasswordKeeper(const PasswordKeeper &) = delete;
    PasswordKeeper &operator=(const PasswordKeeper &) = delete;

    // The passwords known before the job, tried in this order.
    void setGiven(const QStringList &passwords);
    // The first password to try that is not in tried: the ones that worked
    // (most recent first), then the given ones. Null when none is left.
    QString nextCandidate(const QStringList &tried) const;
    // Keeps password, which opened an archive, ahead of the others.
    void remember(const QString &password);

    // Forgets every password, overwriting it.
    void wipe();

    // The texts of the question, with the archive's file name.
    static QString promptText(const QString &path, bool afterWrongOne);
    static QString titleText();

private:
    QStringList m_good;
    QStringList m_given;
};

// Overwrites every password of the list and empties it.
void wipeSecrets(QStringList &passwords);
