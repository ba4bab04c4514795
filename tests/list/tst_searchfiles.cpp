// The folder scan, run over folders built on disk by each test.
#include "nativepath.h"
#include "searchfiles.h"

#include <QDir>
#include <QFile>
#include <QHash>
#include <QScopeGuard>
#include <QTemporaryDir>
#include <QtTest>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

// Builds the entries below root. "a.lzh" is an empty file, "old.lzh/" a
// folder, "link.lzh -> target" a symbolic link to target (as written) and
// "pipe.lzh |" a named pipe.
bool build(const QString &root, const QStringList &entries)
{
    QDir dir(root);
    for (const QString &entry : entries) {
        const qsizetype arrow = entry.indexOf(QLatin1String(" -> "));
        const QString name = arrow >= 0 ? entry.left(arrow) : entry.chopped(entry.endsWith(u'|') ? 2 : 0);
        const QString path = dir.filePath(name);
        if (!dir.mkpath(QFileInfo(path).path()))
            return false;
        bool made;
        if (name.endsWith(u'/'))
            made = dir.mkpath(name);
        else if (arrow >= 0)
            made = QFile::link(entry.mid(arrow + 4), path);
        else if (entry.endsWith(u'|'))
            made = ::mkfifo(QFile::encodeName(path).constData(), 0600) == 0;
        else
            made = QFile(path).open(QIODevice::WriteOnly);
        if (!made)
            return false;
    }
    return true;
}

QString folderOf(const QString &path)
{
    const QString trimmed = path.endsWith(u'/') ? path.chopped(1) : path;
    return trimmed.left(trimmed.lastIndexOf(u'/') + 1);
}

// Breadth first, one folder at a time: the entries of a folder come together,
// after the folder's own entry, and the folders' groups follow the order in
// which the folders were found.
void verifyBreadthFirst(const QStringList &result, const QString &start)
{
    QHash<QString, int> foundAt{{start, -1}};
    int lastGroup = -1;
    for (int i = 0; i < result.size(); ++i) {
        const QString &path = result[i];
        if (path.endsWith(u'/'))
            foundAt.insert(path, i);
        const QString parent = folderOf(path);
        QVERIFY2(foundAt.contains(parent), qPrintable(path + QStringLiteral(" comes before its folder")));
        const int group = foundAt.value(parent);
        QVERIFY2(group >= lastGroup, qPrintable(path + QStringLiteral(" is out of breadth-first order")));
        lastGroup = group;
    }
}

QStringList sorted(QStringList list)
{
    list.sort();
    return list;
}

} // namespace

class TestSearchFiles : public QObject
{
    Q_OBJECT

private slots:
    void scan_data()
    {
        QTest::addColumn<QStringList>("entries");
        QTest::addColumn<QString>("folder");
        QTest::addColumn<QString>("extension");
        QTest::addColumn<QStringList>("expected");

        const QStringList mixed = {"a.lzh", "B.LZH", "c.zip", "D.Zip", "notes.txt"};
        QTest::newRow("a folder without a slash: names of either case match")
            << mixed << "%T" << "LZH" << QStringList{"%T/a.lzh", "%T/B.LZH"};
        QTest::newRow("a folder with a slash gives the same paths, without a doubled slash")
            << mixed << "%T/" << "LZH" << QStringList{"%T/a.lzh", "%T/B.LZH"};
        QTest::newRow("a lower-case extension finds upper-case names")
            << mixed << "%T" << "lzh" << QStringList{"%T/a.lzh", "%T/B.LZH"};
        QTest::newRow("an extension given with its dot")
            << mixed << "%T" << ".zip" << QStringList{"%T/c.zip", "%T/D.Zip"};
        QTest::newRow("the same extension given without its dot")
            << mixed << "%T" << "zip" << QStringList{"%T/c.zip", "%T/D.Zip"};
        QTest::newRow("names that merely contain the extension do not match")
            << QStringList{"a.lzh.bak", "alzh", "lzh", "a.lzhx", "xlzh/"} << "%T" << "LZH" << QStringList{};
        QTest::newRow("a folder without matches gives an empty result")
            << QStringList{"notes.txt", "docs/"} << "%T" << "LZH" << QStringList{};
        QTest::newRow("an ordinary sub-folder is not entered")
            << QStringList{"a.lzh", "docs/x.lzh"} << "%T" << "LZH" << QStringList{"%T/a.lzh"};
        QTest::newRow("a matching sub-folder is listed with a slash and entered after the folder's own matches")
            << QStringList{"a.lzh", "old.lzh/x.lzh", "old.lzh/y.txt", "z.lzh"} << "%T" << "LZH"
            << QStringList{"%T/a.lzh", "%T/old.lzh/", "%T/z.lzh", "%T/old.lzh/x.lzh"};
        QTest::newRow("matching folders two deep are entered level by level")
            << QStringList{"top.lzh", "old.lzh/older.lzh/z.lzh", "old.lzh/plain/p.lzh", "old.lzh/o.LZH"}
            << "%T" << "lzh"
            << QStringList{"%T/old.lzh/", "%T/top.lzh", "%T/old.lzh/o.LZH", "%T/old.lzh/older.lzh/",
                           "%T/old.lzh/older.lzh/z.lzh"};
        QTest::newRow("hidden files and hidden matching folders are left out")
            << QStringList{".a.lzh", ".old.lzh/x.lzh", ".lzh", "b.lzh"} << "%T" << "LZH"
            << QStringList{"%T/b.lzh"};
        QTest::newRow("a link to an archive is listed")
            << QStringList{"real.bin", "link.lzh -> real.bin"} << "%T" << "LZH"
            << QStringList{"%T/link.lzh"};
        QTest::newRow("a matching link to a folder is entered")
            << QStringList{"store/s.lzh", "link.lzh -> store"} << "%T" << "LZH"
            << QStringList{"%T/link.lzh/", "%T/link.lzh/s.lzh"};
        QTest::newRow("a broken link and a named pipe are left out")
            << QStringList{"gone.lzh -> nowhere", "pipe.lzh |", "ok.lzh"} << "%T" << "LZH"
            << QStringList{"%T/ok.lzh"};
        QTest::newRow("a link back to the scanned folder is listed but not entered")
            << QStringList{"x.lzh", "self.lzh -> ."} << "%T" << "LZH"
            << QStringList{"%T/self.lzh/", "%T/x.lzh"};
        QTest::newRow("a link from a sub-folder back to its parent is listed but not entered")
            << QStringList{"x.lzh", "sub.lzh/y.lzh", "sub.lzh/up.lzh -> .."} << "%T" << "LZH"
            << QStringList{"%T/sub.lzh/", "%T/x.lzh", "%T/sub.lzh/up.lzh/", "%T/sub.lzh/y.lzh"};
        QTest::newRow("of a RAR volume set only the first volume is listed")
            << QStringList{"set.part1.rar", "set.part2.rar", "set.part3.rar", "old.rar", "old.r00", "lone.part2.rar",
                           "w.part01.rar", "w.part02.rar", "w.part10.rar"}
            << "%T" << "RAR" << QStringList{"%T/lone.part2.rar", "%T/old.rar", "%T/set.part1.rar", "%T/w.part01.rar"};
        QTest::newRow("of numbered parts a later one is listed only when its first is missing")
            << QStringList{"a.zip.001", "a.zip.002", "lone.zip.002", "b.002", "b.0002", "c.0001", "c.0002"}
            << "%T" << "002" << QStringList{"%T/b.002", "%T/lone.zip.002"};
        QTest::newRow("names sort as a file manager shows them: 2 before 10, either case, Japanese by reading")
            << QStringList{"鍵3.zip", "鍵10.zip", "b10.ZIP", "鍵2.zip", "別鍵.zip", "鍵1.zip", "B9.zip", "a.zip"}
            << "%T" << "ZIP"
            << QStringList{"%T/a.zip", "%T/B9.zip", "%T/b10.ZIP", "%T/鍵1.zip", "%T/鍵2.zip", "%T/鍵3.zip",
                           "%T/鍵10.zip", "%T/別鍵.zip"};
        QTest::newRow("a folder that does not exist gives an empty result")
            << QStringList{"a.lzh"} << "%T/missing" << "LZH" << QStringList{};
        QTest::newRow("a file given as the folder gives an empty result")
            << QStringList{"a.lzh"} << "%T/a.lzh" << "LZH" << QStringList{};
    }

    void scan()
    {
        QFETCH(QStringList, entries);
        QFETCH(QString, folder);
        QFETCH(QString, extension);
        QFETCH(QStringList, expected);

        QTemporaryDir dir;
        QVERIFY(dir.isValid());
        QVERIFY(build(dir.path(), entries));
        expected.replaceInStrings(QLatin1String("%T"), dir.path());
        folder.replace(QLatin1String("%T"), dir.path());

        const QStringList result = searchFiles(folder, extension);
        QCOMPARE(result, expected);
        verifyBreadthFirst(result, folder.endsWith(u'/') ? folder : folder + u'/');
    }

    void twoLinksToOneFolderEnterItOnce()
    {
        QTemporaryDir dir;
        QVERIFY(dir.isValid());
        QVERIFY(build(dir.path(), {"store/s.lzh", "a.lzh -> store", "b.lzh -> store"}));
        const QString base = dir.path() + u'/';

        const QStringList result = searchFiles(dir.path(), QStringLiteral("LZH"));
        QVERIFY(result.contains(base + QStringLiteral("a.lzh/")));
        QVERIFY(result.contains(base + QStringLiteral("b.lzh/")));
        const int inside = int(result.contains(base + QStringLiteral("a.lzh/s.lzh")))
                           + int(result.contains(base + QStringLiteral("b.lzh/s.lzh")));
        QCOMPARE(inside, 1);
        QCOMPARE(result.size(), 3);
    }

    // Files copied from Windows media carry CP932 names; Qt's own listing
    // cannot name them, the scan must.
    void namesNotInUtf8AreListed()
    {
        QTemporaryDir dir;
        QVERIFY(dir.isValid());
        QVERIFY(build(dir.path(), {"a.lzh", "old.lzh/"}));
        // "ソ.lzh" in CP932 bytes beside a.lzh; "表.LZH" a level down; a
        // Latin-1 folder holding in.lzh.
        const QByteArray base = QFile::encodeName(dir.path());
        const QByteArray odd = base + "/caf\xe9.lzh";
        QCOMPARE(::mkdir(odd.constData(), 0700), 0);
        const QList<QByteArray> names = {base + "/\x83\x5c.lzh", base + "/old.lzh/\x95\x5c.LZH", odd + "/in.lzh"};
        const QList<QByteArray> volumes = {base + "/\x83\x5c.part1.rar", base + "/\x83\x5c.part2.rar"};
        for (const QByteArray &name : names + volumes) {
            const int fd = ::open(name.constData(), O_WRONLY | O_CREAT | O_EXCL, 0644);
            QVERIFY(fd >= 0);
            ::close(fd);
        }
        // The temporary folder cannot remove what it cannot name.
        const auto removeThem = qScopeGuard([&] {
            for (const QByteArray &name : names + volumes)
                ::unlink(name.constData());
            ::rmdir(odd.constData());
        });

        const QStringList result = searchFiles(dir.path(), QStringLiteral("lzh"));

        QStringList expected = {dir.filePath("a.lzh"), dir.filePath("old.lzh/"), pathFromNative(odd) + u'/'};
        for (const QByteArray &name : names)
            expected << pathFromNative(name);
        QCOMPARE(sorted(result), sorted(expected));
        verifyBreadthFirst(result, dir.path() + u'/');
        for (const QString &path : result)
            QVERIFY2(isFileAt(path) || isFolderAt(path), qPrintable(readablePath(path)));
        QCOMPARE(searchFiles(dir.path(), QStringLiteral("rar")), QStringList{pathFromNative(volumes[0])});
    }

    void folderWithoutReadPermissionIsPassedOver()
    {
        QTemporaryDir dir;
        QVERIFY(dir.isValid());
        QVERIFY(build(dir.path(), {"locked.lzh/in.lzh", "next.lzh/n.lzh"}));
        const QString locked = dir.filePath(QStringLiteral("locked.lzh"));
        QVERIFY(QFile::setPermissions(locked, {}));

        // Root reads every folder whatever its permissions, so as root the
        // scan runs as "nobody", in a folder everybody may walk.
        const bool asRoot = ::geteuid() == 0;
        if (asRoot) {
            QVERIFY(::chmod(QFile::encodeName(dir.path()).constData(), 0755) == 0);
            QVERIFY(::seteuid(65534) == 0);
        }
        const QStringList result = searchFiles(dir.path(), QStringLiteral("LZH"));
        if (asRoot)
            QVERIFY(::seteuid(0) == 0);

        QVERIFY(QFile::setPermissions(locked, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner));
        const QString base = dir.path() + u'/';
        QCOMPARE(sorted(result), sorted({base + QStringLiteral("locked.lzh/"), base + QStringLiteral("next.lzh/"),
                                         base + QStringLiteral("next.lzh/n.lzh")}));
    }
};

QTEST_MAIN(TestSearchFiles)
#include "tst_searchfiles.moc"
