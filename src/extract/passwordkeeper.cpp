// The passwords of one extraction job, for encrypted archives.
#include "passwordkeeper.h"

#include "clsarchive.h"
#include "pathtext.h"

#include <QCoreApplication>

namespace {

// What the user reads.
QString passwordTitle() { return QCoreApplication::translate("PasswordKeeper", "パスワードの入力"); }
QString passwordPrompt()
{
    return QCoreApplication::translate("PasswordKeeper", "書庫ファイル「%1」はパスワード付きです。\nパスワードを入力してください");
}
QString passwordWrong()
{
    return QCoreApplication::translate("PasswordKeeper", "パスワードが違います。\n書庫ファイル「%1」のパスワードを入力してください");
}

// A copy that shares nothing with text, so wiping one leaves the other.
QString ownCopy(const QString &text)
{
    QString copy = text;
    copy.detach();
    return copy;
}

} // namespace

void wipeSecrets(QStringList &passwords)
{
    for (QString &password : passwords)
        wipeSecret(password);
    passwords.clear();
}

PasswordKeeper::~PasswordKeeper()
{
    wipe();
}

void PasswordKeeper::setGiven(const QStringList &passwords)
{
    wipeSecrets(m_given);
    for (const QString &password : passwords)
        m_given.append(ownCopy(password));
}

QString PasswordKeeper::nextCandidate(const QStringList &tried) const
{
    for (const QStringList *list : {&m_good, &m_given}) {
        for (const QString &password : *list) {
            if (!tried.contains(password))
                return ownCopy(password);
        }
    }
    return QString();
}

void PasswordKeeper::remember(const QString &password)
{
    const qsizetype at = m_good.indexOf(password);
    if (at >= 0) {
        m_good.move(at, 0);
        return;
    }
    m_good.prepend(ownCopy(password));
}

void PasswordKeeper::wipe()
{
    wipeSecrets(m_good);
    wipeSecrets(m_given);
}

QString PasswordKeeper::promptText(const QString &path, bool afterWrongOne)
{
    return (afterWrongOne ? passwordWrong() : passwordPrompt()).arg(displayPath(path.section(u'/', -1)));
}

QString PasswordKeeper::titleText()
{
    return passwordTitle();
}
