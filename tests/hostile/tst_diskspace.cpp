// The safe writer's guard of the destination's disk, fed directly: files that
// cannot fit are refused before a byte is written, data that runs past the
// free space or past its declared size is stopped, and none of them lands.
#include "safewriter.h"

#include <QtTest>

#include <dirent.h>
#include <sys/mount.h>
#include <sys/statvfs.h>

using namespace tenvo::engine;

namespace {

constexpr int64_t kMiB = int64_t(1) << 20;
constexpr std::size_t kChunk = 256 * 1024;

QStringList names(const QString &folder)
{
    QStringList out;
    DIR *dir = ::opendir(QFile::encodeName(folder).constData());
    if (!dir)
        return out;
    while (const dirent *entry = ::readdir(dir)) {
        const QString name = QFile::decodeName(entry->d_name);
        if (name != QLatin1String(".") && name != QLatin1String(".."))
            out << name;
    }
    ::closedir(dir);
    out.sort();
    return out;
}

int64_t freeBytes(const QString &folder)
{
    struct statvfs fs {};
    if (::statvfs(QFile::encodeName(folder).constData(), &fs) != 0)
        return -1;
    return int64_t(fs.f_bavail) * int64_t(fs.f_frsize);
}

} // namespace

class TestDiskSpace : public QObject
{
    Q_OBJECT

private slots:
    void guard_data();
    void guard();
};

void TestDiskSpace::guard_data()
{
    QTest::addColumn<bool>("smallDisk");     // an 8 MiB tmpfs as the destination
    QTest::addColumn<qint64>("declared");    // -1: the decoder does not know the size
    QTest::addColumn<qint64>("fed");         // bytes the decoder offers
    QTest::addColumn<bool>("begins");        // beginEntry() takes the data
    QTest::addColumn<qint64>("takenAtMost"); // entryData() says no before more than this
    QTest::addColumn<int>("result");
    QTest::addColumn<QByteArray>("messagePart");

    QTest::newRow("File of unknown size stops before the free space runs out")
        << true << qint64(-1) << qint64(12 * kMiB) << true << qint64(8 * kMiB)
        << int(TENVO_ERR_WRITE) << QByteArray("full");
    QTest::newRow("File declaring more than the free space is refused before a byte is written")
        << true << qint64(12 * kMiB) << qint64(12 * kMiB) << false << qint64(0)
        << int(TENVO_ERR_WRITE) << QByteArray("free space");
    QTest::newRow("File declaring the free space less the reserve is refused")
        << true << qint64(8 * kMiB - kMiB / 2) << qint64(8 * kMiB - kMiB / 2) << false << qint64(0)
        << int(TENVO_ERR_WRITE) << QByteArray("kept free");
    QTest::newRow("File that fits lands whole on a small disk")
        << true << qint64(6 * kMiB) << qint64(6 * kMiB) << true << qint64(6 * kMiB)
        << int(TENVO_OK) << QByteArray();
    QTest::newRow("File of unknown size that fits lands whole on a small disk")
        << true << qint64(-1) << qint64(5 * kMiB) << true << qint64(5 * kMiB)
        << int(TENVO_OK) << QByteArray();
    QTest::newRow("Data past the declared size is refused at the first byte over")
        << false << qint64(kMiB) << qint64(64 * kMiB) << true << qint64(kMiB)
        << int(TENVO_ERR_DAMAGED) << QByteArray("declares");
    QTest::newRow("Data short of the declared size does not land")
        << false << qint64(2 * kMiB) << qint64(kMiB) << true << qint64(kMiB)
        << int(TENVO_ERR_DAMAGED) << QByteArray("declares");
    QTest::newRow("Data of exactly the declared size lands")
        << false << qint64(3 * kMiB + 7) << qint64(3 * kMiB + 7) << true << qint64(3 * kMiB + 7)
        << int(TENVO_OK) << QByteArray();
}

void TestDiskSpace::guard()
{
    QFETCH(bool, smallDisk);
    QFETCH(qint64, declared);
    QFETCH(qint64, fed);
    QFETCH(bool, begins);
    QFETCH(qint64, takenAtMost);
    QFETCH(int, result);
    QFETCH(QByteArray, messagePart);

    QTemporaryDir work;
    QVERIFY(work.isValid());
    const QString dest = work.filePath(QStringLiteral("dest"));
    QVERIFY(QDir(work.path()).mkdir(QStringLiteral("dest")));
    const QByteArray destBytes = QFile::encodeName(dest);
    bool mounted = false;
    auto unmount = qScopeGuard([&] {
        if (mounted)
            ::umount2(destBytes.constData(), MNT_DETACH);
    });
    if (smallDisk) {
        mounted = ::mount("tmpfs", destBytes.constData(), "tmpfs", MS_NOSUID | MS_NODEV, "size=8m") == 0;
        if (!mounted)
            QSKIP(qPrintable(QStringLiteral("cannot mount a tmpfs here: %1").arg(qt_error_string(errno))));
    }

    SafeWriter writer(Layout::Restore);
    std::string message;
    QCOMPARE(writer.open(destBytes.toStdString(), message), TENVO_OK);
    EntryInfo info;
    info.rawName = "big.bin";
    info.size = declared;
    QCOMPARE(writer.beginEntry(info), begins);
    if (!begins)
        QCOMPARE(names(dest), QStringList());

    const std::vector<char> chunk(kChunk, 'z');
    qint64 taken = 0;
    int64_t leastFree = freeBytes(dest);
    if (begins) {
        while (taken < fed) {
            const std::size_t n = std::size_t(std::min<qint64>(qint64(kChunk), fed - taken));
            if (!writer.entryData(chunk.data(), n))
                break;
            taken += qint64(n);
            leastFree = std::min(leastFree, freeBytes(dest));
        }
    }
    QVERIFY2(taken <= takenAtMost, qPrintable(QStringLiteral("took %1 bytes").arg(taken)));
    if (smallDisk)
        QVERIFY2(leastFree > 0, "the disk filled up");
    writer.endEntry(TENVO_OK, {});
    writer.finish();

    QCOMPARE(int(writer.result()), result);
    QVERIFY2(QByteArray::fromStdString(writer.message()).contains(messagePart), writer.message().c_str());
    if (result == TENVO_OK) {
        QCOMPARE(names(dest), QStringList{QStringLiteral("big.bin")});
        QCOMPARE(QFileInfo(dest + QStringLiteral("/big.bin")).size(), fed);
    } else {
        QCOMPARE(names(dest), QStringList());
    }
}

QTEST_GUILESS_MAIN(TestDiskSpace)
#include "tst_diskspace.moc"
