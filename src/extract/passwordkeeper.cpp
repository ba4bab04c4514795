// The batch's password for encrypted ZIP archives.
#include "passwordkeeper.h"

#include "clsarchive.h"
#include "result.h"

namespace {

// What the user reads.
const QString passwordTitle = QStringLiteral("パスワードの入力");
const QString passwordPrompt =
    QStringLiteral("書庫ファイル「%1」はパスワード付きです。\nパスワードを入力してください");
const QString passwordWrong =
    QStringLiteral("パスワードが違います。\n書庫ファイル「%1」のパスワードを入力してください");

} // namespace

PasswordKeeper::~PasswordKeeper()
{
    wipe();
}

int PasswordKeeper::extract(clsArchive &archive, const QString &path, QString &folder, const Ask &ask)
{
    if (!archive.takesPassword(path))
        return archive.extract(path, folder);
    QString password = firstPassword();
    int code = archive.extract(path, folder, password);
    if (code == TENVO_ERR_ENCRYPTED) {
        const QMutexLocker asking(&m_asking);
        int asked = 0;
        while (code == TENVO_ERR_ENCRYPTED) {
            QString next = nextPassword(path, password, asked, ask);
            wipeSecret(password);
            if (next.isNull())
                break;
            password = next;
            wipeSecret(next);
            code = archive.extract(path, folder, password);
            if (code != TENVO_ERR_ENCRYPTED)
                remember(password);
        }
    }
    wipeSecret(password);
    return code;
}

QString PasswordKeeper::firstPassword() const
{
    const QMutexLocker lock(&m_mutex);
    if (m_password.isNull())
        return QString();
    QString copy = m_password;
    copy.detach();
    return copy;
}

QString PasswordKeeper::nextPassword(const QString &path, const QString &tried, int &asked,
                                     const Ask &ask)
{
    {
        // Another archive may have found the password meanwhile.
        const QMutexLocker lock(&m_mutex);
        if (!m_password.isNull() && m_password != tried && asked == 0) {
            QString copy = m_password;
            copy.detach();
            return copy;
        }
    }
    if (asked >= maxQuestions)
        return QString();
    ++asked;
    return ask(promptText(path, asked > 1), titleText());
}

void PasswordKeeper::remember(const QString &password)
{
    const QMutexLocker lock(&m_mutex);
    wipeSecret(m_password);
    m_password = password;
    // The kept copy shares nothing with the caller's, which is wiped.
    m_password.detach();
}

void PasswordKeeper::wipe()
{
    const QMutexLocker lock(&m_mutex);
    wipeSecret(m_password);
}

QString PasswordKeeper::promptText(const QString &path, bool afterWrongOne)
{
    return (afterWrongOne ? passwordWrong : passwordPrompt).arg(path.section(u'/', -1));
}

QString PasswordKeeper::titleText()
{
    return passwordTitle;
}
