// A decoder that hangs, crashes or eats memory costs its archive only: the
// call returns with the damaged-data result and the caller lives on.
#include "isolation.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QTemporaryDir>
#include <QtTest>

#include <csignal>
#include <cstdlib>
#include <unistd.h>
#include <vector>

using tenvo::isolation::Limits;
using tenvo::isolation::runIsolated;

namespace {

volatile int spin = 0;

enum class Misbehaviour { None, Hang, Crash, Abort, ExitWithoutResult, EatMemory, Throw, Killed };

int misbehave(Misbehaviour kind, const QString &folder, std::string &message)
{
    // A temporary as the writer names it, plus a complete file.
    const QByteArray pid = QByteArray::number(::getpid());
    QFile partial(folder + QStringLiteral("/.tenvo-") + QString::fromLatin1(pid) + QStringLiteral("-1.tmp"));
    if (partial.open(QIODevice::WriteOnly))
        partial.write("half");
    partial.close();
    QFile done(folder + QStringLiteral("/done.txt"));
    if (done.open(QIODevice::WriteOnly))
        done.write("complete");
    done.close();

    switch (kind) {
    case Misbehaviour::None:
        QFile::remove(partial.fileName());
        message = "all fine";
        return 0;
    case Misbehaviour::Hang:
        while (spin == 0) {
        }
        return -1; // never reached
    case Misbehaviour::Crash:
        std::raise(SIGSEGV);
        break;
    case Misbehaviour::Abort:
        std::abort();
    case Misbehaviour::ExitWithoutResult:
        ::_exit(3);
    case Misbehaviour::EatMemory: {
        std::vector<std::vector<char>> hog;
        for (;;)
            hog.emplace_back(64 << 20, 'x');
    }
    case Misbehaviour::Throw:
        throw 42;
    case Misbehaviour::Killed:
        // As a user's kill or the system's out-of-memory killer would.
        ::kill(::getpid(), SIGKILL);
        break;
    }
    return 0;
}

} // namespace

class TestIsolation : public QObject
{
    Q_OBJECT

private slots:
    void misbehavingDecoders_data()
    {
        QTest::addColumn<int>("kind");
        QTest::addColumn<int>("result");
        QTest::addColumn<QString>("messagePart");
        QTest::addColumn<bool>("callerStops");

        QTest::newRow("a decoder that behaves gives its own result")
            << int(Misbehaviour::None) << 0 << "all fine" << false;
        QTest::newRow("a decoder that hangs is stopped")
            << int(Misbehaviour::Hang) << int(TENVO_ERR_DAMAGED) << "no progress" << false;
        QTest::newRow("a decoder that crashes")
            << int(Misbehaviour::Crash) << int(TENVO_ERR_DAMAGED) << "crashed (signal 11)" << false;
        QTest::newRow("a decoder that aborts")
            << int(Misbehaviour::Abort) << int(TENVO_ERR_DAMAGED) << "crashed (signal 6)" << false;
        QTest::newRow("a decoder that exits without a result")
            << int(Misbehaviour::ExitWithoutResult) << int(TENVO_ERR_DAMAGED) << "without a result" << false;
        QTest::newRow("a decoder that eats memory hits its bound")
            << int(Misbehaviour::EatMemory) << int(TENVO_ERR_DAMAGED) << "memory" << false;
        QTest::newRow("a decoder that throws")
            << int(Misbehaviour::Throw) << int(TENVO_ERR_DAMAGED) << "failed" << false;
        QTest::newRow("a decoder killed from outside: ended, not damaged")
            << int(Misbehaviour::Killed) << int(TENVO_ERR_ENDED) << "ended from outside (signal 9)" << false;
        QTest::newRow("a hanging decoder its caller stops")
            << int(Misbehaviour::Hang) << tenvo::isolation::kStopped << "stopped" << true;
    }

    void misbehavingDecoders()
    {
        QFETCH(int, kind);
        QFETCH(int, result);
        QFETCH(QString, messagePart);
        QFETCH(bool, callerStops);

        QTemporaryDir dir;
        QVERIFY(QDir(dir.path()).mkpath(QStringLiteral("sub")));
        const QString folder = dir.filePath(QStringLiteral("sub"));
        Limits limits;
        // Only the hanging decoder should ever reach the stall bound.
        limits.stallSeconds = Misbehaviour(kind) == Misbehaviour::Hang ? 1 : 20;
        limits.memoryBytes = 256u << 20;
        // The caller stops at once: its end of the pipe is closed.
        tenvo::isolation::Supervision supervision;
        int stopPipe[2] = {-1, -1};
        if (callerStops) {
            QVERIFY(::pipe(stopPipe) == 0);
            ::close(stopPipe[1]);
            supervision.cancelFd = stopPipe[0];
            limits.stallSeconds = 20;
        }
        std::string message;
        const int answer = runIsolated(
            [&](std::string &text) { return misbehave(Misbehaviour(kind), folder, text); }, limits,
            dir.path().toStdString(), message, supervision);
        if (callerStops)
            ::close(stopPipe[0]);

        QCOMPARE(answer, result);
        QVERIFY2(QString::fromStdString(message).contains(messagePart), message.c_str());
        // Complete files stay; the child's temporaries go. A child stopped
        // at once may not have written its complete file yet.
        const QStringList left = QDir(folder).entryList(QDir::Files | QDir::Hidden);
        if (callerStops)
            QVERIFY2(left.isEmpty() || left == QStringList{QStringLiteral("done.txt")}, qPrintable(left.join(u' ')));
        else
            QCOMPARE(left, QStringList{QStringLiteral("done.txt")});
    }

    void aDecoderThatKeepsWorkingIsNotStopped()
    {
        QTemporaryDir dir;
        Limits limits;
        limits.stallSeconds = 1;
        std::string message;
        // Writes a little every 100 ms for longer than the stall bound.
        const int answer = runIsolated(
            [&](std::string &) {
                QFile file(dir.filePath(QStringLiteral("slow.txt")));
                if (!file.open(QIODevice::WriteOnly | QIODevice::Unbuffered))
                    return 99;
                for (int i = 0; i < 25; ++i) {
                    file.write("x");
                    ::usleep(100 * 1000);
                }
                return 0;
            },
            limits, dir.path().toStdString(), message);
        QCOMPARE(answer, 0);
        QCOMPARE(QFileInfo(dir.filePath(QStringLiteral("slow.txt"))).size(), 25);
    }
};

QTEST_GUILESS_MAIN(TestIsolation)
#include "tst_isolation.moc"
