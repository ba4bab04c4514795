// A decoder that hangs, crashes or eats memory costs its archive only: the
// call returns with the damaged-data result and the caller lives on. One
// taken over reaches nothing but its archive and its destination.
#include "isolation.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QTemporaryDir>
#include <QtTest>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/prctl.h>
#include <sys/ptrace.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <sys/syscall.h>

#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
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

// What a decoder taken over by a crafted archive would try.
enum class Attempt { ReadHome, WriteBeside, FollowLinkOut, TcpSocket, UnixSocket, RunShell, TraceParent, WaitForLook };

struct Scene {
    std::string home, destination, beside, unixSocket;
    int tcpPort = 0;
};

int refused(std::string &message)
{
    // The number: the child may lack the catalogue of the caller's language.
    message = "refused: errno " + std::to_string(errno);
    return 1;
}

int attempt(Attempt kind, const Scene &scene, std::string &message)
{
    switch (kind) {
    case Attempt::ReadHome:
    case Attempt::FollowLinkOut: {
        const std::string path =
            kind == Attempt::ReadHome ? scene.home + "/secret.txt" : scene.destination + "/link.txt";
        const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
        if (fd < 0)
            return refused(message);
        char text[16] = {};
        message = ::read(fd, text, sizeof text - 1) > 0 ? text : "";
        ::close(fd);
        return 0;
    }
    case Attempt::WriteBeside: {
        const int fd = ::open(scene.beside.c_str(), O_WRONLY | O_CREAT | O_CLOEXEC, 0644);
        if (fd < 0)
            return refused(message);
        ::close(fd);
        return 0;
    }
    case Attempt::TcpSocket:
    case Attempt::UnixSocket: {
        const bool tcp = kind == Attempt::TcpSocket;
        const int fd = ::socket(tcp ? AF_INET : AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
        if (fd < 0)
            return refused(message);
        sockaddr_in inet{};
        inet.sin_family = AF_INET;
        inet.sin_port = htons(std::uint16_t(scene.tcpPort));
        inet.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        sockaddr_un local{};
        local.sun_family = AF_UNIX;
        std::strncpy(local.sun_path, scene.unixSocket.c_str(), sizeof local.sun_path - 1);
        const int connected = tcp ? ::connect(fd, reinterpret_cast<sockaddr *>(&inet), sizeof inet)
                                  : ::connect(fd, reinterpret_cast<sockaddr *>(&local), sizeof local);
        if (connected != 0)
            return refused(message);
        ::close(fd);
        return 0;
    }
    case Attempt::RunShell: {
        // The shell's mark in the destination is the proof that it ran.
        const std::string script = "echo ran > '" + scene.destination + "/ran.txt'";
        char *argv[] = {const_cast<char *>("sh"), const_cast<char *>("-c"), const_cast<char *>(script.c_str()),
                        nullptr};
        ::execve("/bin/sh", argv, environ);
        return refused(message);
    }
    case Attempt::TraceParent:
        if (::ptrace(PTRACE_SEIZE, ::getppid(), nullptr, nullptr) != 0)
            return refused(message);
        return 0; // the parent is let go as this process ends
    case Attempt::WaitForLook:
        // Until the caller has read this process's status.
        while (::access((scene.destination + "/looked").c_str(), F_OK) != 0)
            ::usleep(10 * 1000);
        return 0;
    }
    return 0;
}

// The status lines of the caller's only child, or empty.
QByteArray childStatus()
{
    QFile children(QStringLiteral("/proc/self/task/%1/children").arg(::syscall(SYS_gettid)));
    if (!children.open(QIODevice::ReadOnly))
        return {};
    const QByteArray pid = children.readAll().trimmed();
    QFile status(QStringLiteral("/proc/%1/status").arg(QString::fromLatin1(pid)));
    return !pid.isEmpty() && status.open(QIODevice::ReadOnly) ? status.readAll() : QByteArray();
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

    void hostileDecoder_data()
    {
        QTest::addColumn<int>("kind");
        QTest::addColumn<bool>("sandboxed");
        // "Landlock": the call fails with EACCES; "seccomp": the process ends.
        QTest::addColumn<QString>("refusedBy");

        const struct {
            const char *name;
            Attempt kind;
            const char *refusedBy;
        } attempts[] = {
            {"reading a file in the home folder", Attempt::ReadHome, "Landlock"},
            {"writing beside the destination", Attempt::WriteBeside, "Landlock"},
            {"following a link out of the destination", Attempt::FollowLinkOut, "Landlock"},
            {"connecting to a TCP port", Attempt::TcpSocket, "seccomp"},
            {"connecting to a UNIX socket", Attempt::UnixSocket, "seccomp"},
            {"running /bin/sh", Attempt::RunShell, "seccomp"},
            {"tracing its parent", Attempt::TraceParent, "seccomp"},
        };
        for (const auto &row : attempts) {
            QTest::addRow("%s: refused in the sandbox", row.name)
                << int(row.kind) << true << QString::fromLatin1(row.refusedBy);
            QTest::addRow("%s: done without it", row.name) << int(row.kind) << false << QString();
        }
    }

    void hostileDecoder()
    {
        QFETCH(int, kind);
        QFETCH(bool, sandboxed);
        QFETCH(QString, refusedBy);
        const tenvo::isolation::SandboxSupport support = tenvo::isolation::probeSandbox();
        if (sandboxed && refusedBy == QLatin1String("Landlock") && support.landlockAbi == 0)
            QSKIP("this kernel has no Landlock");
        if (sandboxed && refusedBy == QLatin1String("seccomp") && !support.seccomp)
            QSKIP("this kernel has no seccomp filters");

        QTemporaryDir dir;
        const QString root = dir.path();
        QVERIFY(QDir(root).mkpath(QStringLiteral("home")) && QDir(root).mkpath(QStringLiteral("downloads/out")));
        QFile secret(root + QStringLiteral("/home/secret.txt"));
        QVERIFY(secret.open(QIODevice::WriteOnly) && secret.write("secret") == 6);
        secret.close();
        QFile archive(root + QStringLiteral("/downloads/mail.lzh"));
        QVERIFY(archive.open(QIODevice::WriteOnly) && archive.write("archive") == 7);
        archive.close();
        Scene scene;
        scene.home = (root + QStringLiteral("/home")).toStdString();
        scene.destination = (root + QStringLiteral("/downloads/out")).toStdString();
        scene.beside = (root + QStringLiteral("/downloads/beside.txt")).toStdString();
        QVERIFY(QFile::link(root + QStringLiteral("/home/secret.txt"), root + QStringLiteral("/downloads/out/link.txt")));

        // Somewhere to connect to, so that only the sandbox can refuse it.
        const int tcp = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        sockaddr_in inet{};
        inet.sin_family = AF_INET;
        inet.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        socklen_t length = sizeof inet;
        QVERIFY(::bind(tcp, reinterpret_cast<sockaddr *>(&inet), sizeof inet) == 0 && ::listen(tcp, 4) == 0
                && ::getsockname(tcp, reinterpret_cast<sockaddr *>(&inet), &length) == 0);
        scene.tcpPort = ntohs(inet.sin_port);
        const int local = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
        sockaddr_un address{};
        address.sun_family = AF_UNIX;
        scene.unixSocket = (root + QStringLiteral("/listening")).toStdString();
        std::strncpy(address.sun_path, scene.unixSocket.c_str(), sizeof address.sun_path - 1);
        QVERIFY(::bind(local, reinterpret_cast<sockaddr *>(&address), sizeof address) == 0 && ::listen(local, 4) == 0);
        // Yama, where present, lets only a process's declared tracer attach.
        ::prctl(PR_SET_PTRACER, PR_SET_PTRACER_ANY, 0, 0, 0);

        Limits limits;
        limits.sandbox = {sandboxed, archive.fileName().toStdString(), scene.destination};
        std::string message;
        const int answer = runIsolated([&](std::string &text) { return attempt(Attempt(kind), scene, text); },
                                       limits, scene.destination, message);
        ::close(tcp);
        ::close(local);

        const bool ran = QFile::exists(root + QStringLiteral("/downloads/out/ran.txt"));
        const bool wroteBeside = QFile::exists(root + QStringLiteral("/downloads/beside.txt"));
        if (!sandboxed) {
            // Exec'd, the shell leaves no result: its mark says it ran.
            if (Attempt(kind) == Attempt::RunShell)
                QVERIFY2(ran, message.c_str());
            else
                QVERIFY2(answer == 0, message.c_str());
            if (Attempt(kind) == Attempt::ReadHome || Attempt(kind) == Attempt::FollowLinkOut)
                QCOMPARE(message, std::string("secret"));
            QCOMPARE(wroteBeside, Attempt(kind) == Attempt::WriteBeside);
            return;
        }
        if (refusedBy == QLatin1String("Landlock")) {
            QCOMPARE(answer, 1);
            QCOMPARE(message, "refused: errno " + std::to_string(EACCES));
        } else {
            QCOMPARE(answer, int(TENVO_ERR_FORBIDDEN));
            QVERIFY2(QString::fromStdString(message).contains(QLatin1String("not allowed")), message.c_str());
        }
        QVERIFY(!ran);
        QVERIFY(!wroteBeside);
    }

    void aSandboxedChildHasNoNewPrivilegesAndAFilter_data()
    {
        QTest::addColumn<bool>("sandboxed");
        QTest::newRow("sandboxed") << true;
        QTest::newRow("not sandboxed") << false;
    }

    void aSandboxedChildHasNoNewPrivilegesAndAFilter()
    {
        QFETCH(bool, sandboxed);
        if (sandboxed && !tenvo::isolation::probeSandbox().seccomp)
            QSKIP("this kernel has no seccomp filters");
        QTemporaryDir dir;
        Scene scene;
        scene.destination = dir.path().toStdString();
        Limits limits;
        limits.sandbox = {sandboxed, std::string(), scene.destination};
        QByteArray status;
        tenvo::isolation::Supervision supervision;
        // Called while the child waits: its status is read, then it is let go.
        supervision.onProgress = [&](long long) {
            if (!status.isEmpty())
                return;
            status = childStatus();
            QFile(dir.filePath(QStringLiteral("looked"))).open(QIODevice::WriteOnly);
        };
        std::string message;
        QCOMPARE(runIsolated([&](std::string &text) { return attempt(Attempt::WaitForLook, scene, text); }, limits,
                             scene.destination, message, supervision),
                 0);
        QVERIFY2(status.contains(sandboxed ? "NoNewPrivs:\t1" : "NoNewPrivs:\t0"), status.constData());
        QVERIFY2(status.contains(sandboxed ? "Seccomp:\t2" : "Seccomp:\t0"), status.constData());
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
