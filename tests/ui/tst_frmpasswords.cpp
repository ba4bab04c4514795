// Remembered passwords: the store against a real keyring daemon, and the
// dialog that lists them masked and removes them.
#include "archivemaker.h"
#include "frmpasswords.h"
#include "passwordstore.h"
#include "scripteddialogs.h"
#include "testlocale.h"

#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QLabel>
#include <QListWidget>
#include <QProcess>
#include <QPushButton>
#include <QtTest>

#include <signal.h>

namespace {

const QString noKeyringText =
    inLocale(QStringLiteral("デスクトップのキーリングが動いていないため、\nパスワードを記憶できません"),
             QStringLiteral("The desktop's keyring is not running,\nso passwords cannot be remembered"));
const QString skipText = QStringLiteral(
    "No keyring daemon could be started (the test runs it through tests/support/withkeyring.sh, "
    "which needs dbus-run-session and gnome-keyring-daemon)");

// Points the session bus at nothing while it lives.
class NoSessionBus
{
public:
    NoSessionBus()
        : m_saved(qgetenv("DBUS_SESSION_BUS_ADDRESS"))
    {
        qputenv("DBUS_SESSION_BUS_ADDRESS", "unix:path=/nonexistent/tenvo-no-bus");
    }
    ~NoSessionBus() { qputenv("DBUS_SESSION_BUS_ADDRESS", m_saved); }

private:
    QByteArray m_saved;
};

bool emptyKeyring()
{
    PasswordStore store;
    if (!store.available())
        return false;
    while (!store.passwords().isEmpty()) {
        if (!store.remove(0))
            return false;
    }
    return true;
}

} // namespace

class TestPasswords : public QObject
{
    Q_OBJECT

private slots:
    void storeRoundTrip_data()
    {
        QTest::addColumn<QStringList>("steps");
        QTest::addColumn<QStringList>("kept");
        QTest::addColumn<bool>("lastStepDone");
        QTest::newRow("the most recent first")
            << QStringList{"+one", "+two", "+three"} << QStringList{"three", "two", "one"} << true;
        QTest::newRow("remembered again: moved to the front, never twice")
            << QStringList{"+one", "+two", "+one"} << QStringList{"one", "two"} << true;
        QTest::newRow("remove by place in the list")
            << QStringList{"+one", "+two", "+three", "-1"} << QStringList{"three", "one"} << true;
        QTest::newRow("remove the last one: none left")
            << QStringList{"+one", "-0"} << QStringList() << true;
        QTest::newRow("remove past the end changes nothing")
            << QStringList{"+one", "-1"} << QStringList{"one"} << false;
        QTest::newRow("spaces, line breaks and Japanese kept as typed")
            << QStringList{"+ パス\nワード ", "+"} << QStringList{"", " パス\nワード "} << true;
    }

    // Each step through a store of its own, the result read by another:
    // what is kept lives in the keyring, not in the object.
    void storeRoundTrip()
    {
        QFETCH(QStringList, steps);
        QFETCH(QStringList, kept);
        QFETCH(bool, lastStepDone);
        if (!emptyKeyring())
            QSKIP(qPrintable(skipText));
        bool done = false;
        for (const QString &step : steps) {
            PasswordStore store;
            done = step.startsWith(u'+') ? store.remember(step.mid(1)) : store.remove(step.mid(1).toInt());
        }
        QCOMPARE(done, lastStepDone);
        PasswordStore reader;
        QCOMPARE(reader.passwords(), kept);
    }

    // Every row shows the same dots whatever the password's length; the
    // remove button forgets the selected one in the keyring.
    void dialogListsMaskedAndRemoves()
    {
        if (!emptyKeyring())
            QSKIP(qPrintable(skipText));
        PasswordStore store;
        for (const char *password : {"a", "longer password", "中くらい"})
            QVERIFY(store.remember(QString::fromUtf8(password)));
        ScriptedDialogs dialogs;
        frmPasswords dialog(store);
        dialog.show();
        QCOMPARE(dialog.windowTitle(), inLocale(QStringLiteral(" 記憶したパスワード"), QStringLiteral(" Remembered Passwords")));
        QCOMPARE(dialog.lblStatus->text(), inLocale(QStringLiteral("記憶しているパスワード (新しい順)"),
                                                    QStringLiteral("Remembered passwords (newest first)")));
        QCOMPARE(dialog.lstPasswords->count(), 3);
        for (int row = 0; row < 3; ++row)
            QCOMPARE(dialog.lstPasswords->item(row)->text(), QStringLiteral("●●●●●●●●"));
        QCOMPARE(dialog.cmdRemove->text(), inLocale(QStringLiteral("削除(&D)"), QStringLiteral("&Delete")));

        dialog.lstPasswords->setCurrentRow(1);
        dialog.cmdRemove->click();
        QCOMPARE(PasswordStore().passwords(), (QStringList{"中くらい", "a"}));
        QCOMPARE(dialog.lstPasswords->count(), 2);
        dialog.lstPasswords->setCurrentRow(0);
        dialog.cmdRemove->click();
        dialog.cmdRemove->click();
        QCOMPARE(PasswordStore().passwords(), QStringList());
        QCOMPARE(dialog.lstPasswords->count(), 0);
        QVERIFY(!dialog.cmdRemove->isEnabled());
        QCOMPARE(dialog.lblStatus->text(), inLocale(QStringLiteral("記憶しているパスワードはありません"),
                                                    QStringLiteral("No passwords are remembered")));
        QCOMPARE(dialogs.exclamations, QStringList());
    }

    // A keyring that holds its bus name but answers nothing (stopped) is
    // given up on after the store's bound: the program goes on without it.
    void frozenKeyringCountsAsAbsent()
    {
        if (!emptyKeyring())
            QSKIP(qPrintable(skipText));
        QDBusConnectionInterface *bus = QDBusConnection::sessionBus().interface();
        QVERIFY(bus);
        const QDBusReply<uint> pid = bus->servicePid(QStringLiteral("org.freedesktop.secrets"));
        QVERIFY(pid.isValid() && pid.value() > 0);
        QCOMPARE(::kill(pid_t(pid.value()), SIGSTOP), 0);
        PasswordStore store(500);
        const bool available = store.available();
        const bool remembered = store.remember(QStringLiteral("secret"));
        QCOMPARE(::kill(pid_t(pid.value()), SIGCONT), 0);
        QVERIFY(!available);
        QVERIFY(!remembered);
        QCOMPARE(PasswordStore().passwords(), QStringList());
    }

    // With no keyring on the bus nothing is stored, nothing is listed, and
    // the dialog says why.
    // --keyring hands the window's remembered passwords to a run from the
    // command line; without it, they stay out of the run.
    void commandLineTriesTheRememberedPasswords()
    {
        if (!emptyKeyring())
            QSKIP(qPrintable(skipText));
        QTemporaryDir work;
        tenvo::fixture::ZipOptions locked;
        locked.password = "remembered one";
        QVERIFY(tenvo::fixture::writeZip(work.filePath("secret.zip"),
                                         {tenvo::fixture::FixtureEntry::file("inside.txt", "secret")}, locked));
        PasswordStore store;
        QVERIFY(store.remember(QStringLiteral("some other")) && store.remember(QStringLiteral("remembered one")));

        for (const bool keyring : {false, true}) {
            const QString out = work.filePath(keyring ? "with" : "without");
            QStringList arguments{QStringLiteral("--extract-to"), out, work.filePath("secret.zip")};
            if (keyring)
                arguments.prepend(QStringLiteral("--keyring"));
            QProcess process;
            process.start(QStringLiteral(TENVO_PROGRAM), arguments);
            QVERIFY(process.waitForFinished(-1));
            QCOMPARE(process.exitCode(), keyring ? 0 : 1);
            QCOMPARE(QFile::exists(out + QStringLiteral("/inside.txt")), keyring);
        }
    }

    void withoutKeyring()
    {
        const NoSessionBus noBus;
        PasswordStore store;
        QVERIFY(!store.available());
        QVERIFY(!store.remember(QStringLiteral("secret")));
        QCOMPARE(store.passwords(), QStringList());
        frmPasswords dialog(store);
        QCOMPARE(dialog.lblStatus->text(), noKeyringText);
        QCOMPARE(dialog.lstPasswords->count(), 0);
        QVERIFY(!dialog.cmdRemove->isEnabled());
    }
};

QTEST_MAIN(TestPasswords)
#include "tst_frmpasswords.moc"
