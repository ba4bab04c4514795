// The archive list model, checked on real list views and real files.
#include "clslistctrl.h"
#include "listcolumns.h"
#include "nativepath.h"

#include <QFile>
#include <QRandomGenerator>
#include <QTemporaryDir>
#include <QTreeWidget>
#include <QtTest>

#include <fcntl.h>
#include <ftw.h>
#include <sys/stat.h>
#include <unistd.h>

#include <functional>

namespace {

bool makeFile(const QString &path, qint64 size)
{
    // The path may hold bytes that are not UTF-8, so Qt cannot make it.
    if (!makeFolders(path.left(path.lastIndexOf(u'/'))))
        return false;
    const int fd = ::open(nativePath(path).constData(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    // A sparse file, so gigabytes cost no disk space.
    const bool sized = fd >= 0 && ::ftruncate(fd, size) == 0;
    return fd >= 0 && ::close(fd) == 0 && sized;
}

// A step's "<83>" stands for the byte 0x83 of a file name that is not UTF-8.
QString withNativeBytes(QString step)
{
    // Found by hand: a regular expression will not read a text that holds
    // a lone surrogate.
    for (qsizetype at = 0; (at = step.indexOf(u'<', at)) >= 0; ++at) {
        bool ok = false;
        const uint value = step.mid(at + 1, 2).toUInt(&ok, 16);
        if (ok && value >= 0x80 && step.mid(at + 3, 1) == u">")
            step.replace(at, 4, pathFromNative(QByteArray(1, char(value))));
    }
    return step;
}

// The row-by-row reading of the list that search must always agree with.
bool listedRowByRow(const QTreeWidget &list, const QString &name, const QString &folder)
{
    for (int i = 0; i < list.topLevelItemCount(); ++i) {
        if (list.topLevelItem(i)->text(0) == name && list.topLevelItem(i)->text(1) == folder)
            return true;
    }
    return false;
}

struct Fixture
{
    QTemporaryDir dir;
    QTreeWidget list;
    clsListCtrl model;
    explicit Fixture(ArchiveListLayout layout = ArchiveListLayout::MainWindow)
    {
        setupArchiveListColumns(&list, layout);
        model.setList(&list);
    }
    // Qt cannot remove names that are not UTF-8; the system's walk can.
    ~Fixture()
    {
        ::nftw(QFile::encodeName(dir.path()).constData(),
               [](const char *path, const struct stat *, int, FTW *) { return ::remove(path); }, 16,
               FTW_DEPTH | FTW_PHYS);
    }
    QString folder() const { return dir.path() + u'/'; }
};

using ListChange = std::function<void(QTreeWidget &list, const QString &folder)>;

} // namespace

Q_DECLARE_METATYPE(ListChange)

class TestListCtrl : public QObject
{
    Q_OBJECT

private slots:
    // Each step is "command arguments = expected"; "%T" is the test's folder,
    // "%U" that folder upper-cased, "<83>" the byte 0x83.
    void session_data()
    {
        QTest::addColumn<ArchiveListLayout>("layout");
        QTest::addColumn<QStringList>("steps");
        const auto main = ArchiveListLayout::MainWindow;
        const QStringList three = {"file %T/d/a.lzh", "file %T/d/b.lzh", "file %T/d/c.lzh", "add %T/d/a.lzh = 0",
                                   "add %T/d/b.lzh = 0", "add %T/d/c.lzh = 0"};

        QTest::newRow("a file added to the empty main list fills its cells, the encoding one empty")
            << main << QStringList{"file %T/d/a.lzh 1234567", "add %T/d/a.lzh = 0", "count = 1",
                                   "row 1 = a.lzh|%T/d/|LZH|1235KB|"};
        QTest::newRow("the same path added again is refused and the list keeps one row")
            << main << QStringList{"file %T/d/a.lzh", "add %T/d/a.lzh = 0", "add %T/d/a.lzh = 1", "count = 1"};
        QTest::newRow("the same name in other letter case is a second row")
            << main << QStringList{"file %T/d/a.lzh", "file %T/d/A.LZH 2500", "add %T/d/a.lzh = 0",
                                   "add %T/d/A.LZH = 0", "row 2 = A.LZH|%T/d/|LZH|2KB|"};
        QTest::newRow("the same name in a folder of other letter case is a second row")
            << main << QStringList{"file %T/d/a.lzh", "file %T/D/a.lzh", "add %T/d/a.lzh = 0", "add %T/D/a.lzh = 0"};
        QTest::newRow("a mixed-case extension gives an upper-case type")
            << main << QStringList{"file %T/x/b.Zip", "add %T/x/b.Zip = 0", "row 1 = b.Zip|%T/x/|ZIP|0KB|"};
        QTest::newRow("a double extension gives the text after the last dot")
            << main << QStringList{"file %T/x/p.tar.lzh", "add %T/x/p.tar.lzh = 0", "row 1 = p.tar.lzh|%T/x/|LZH|0KB|"};
        QTest::newRow("a name without a dot takes its type from the folder's last dot")
            << main << QStringList{"file %T/ver1.2/arc", "add %T/ver1.2/arc = 0", "row 1 = arc|%T/ver1.2/|2/ARC|0KB|"};
        QTest::newRow("a path without any dot takes the whole path upper-cased as its type")
            << main << QStringList{"file %T/p/arc", "add %T/p/arc = 0", "row 1 = arc|%T/p/|%U/P/ARC|0KB|"};
        QTest::newRow("a ZIP saved without extension, or named .rar, shows the type its bytes name")
            << main << QStringList{"zip %T/p/arc", "add %T/p/arc = 0", "row 1 = arc|%T/p/|ZIP|0KB|",
                                   "zip %T/p/b.rar", "add %T/p/b.rar = 0", "row 2 = b.rar|%T/p/|ZIP|0KB|"};
        QTest::newRow("a tar.gz and a single .gz show the type TAR")
            << main << QStringList{"gzip %T/p/data.tar.gz", "add %T/p/data.tar.gz = 0",
                                   "row 1 = data.tar.gz|%T/p/|TAR|0KB|", "gzip %T/p/x.gz", "add %T/p/x.gz = 0",
                                   "row 2 = x.gz|%T/p/|TAR|0KB|"};
        QTest::newRow("a later part of a set stands for its first, which shows the type before its number")
            << main << QStringList{"file %T/p/a.zip.001 2000", "file %T/p/a.zip.002", "file %T/p/s.z01", "file %T/p/s.zip",
                                   "file %T/p/lone.7z.002", "add %T/p/a.zip.002 = 0", "add %T/p/a.zip.001 = 1",
                                   "row 1 = a.zip.001|%T/p/|ZIP|2KB|", "add %T/p/s.z01 = 0", "row 2 = s.zip|%T/p/|ZIP|0KB|",
                                   "add %T/p/lone.7z.002 = 0", "row 3 = lone.7z.002|%T/p/|7Z|0KB|", "count = 3"};
        QTest::newRow("the dialog list holds name, type and size and never refuses a file")
            << ArchiveListLayout::AddFolderDialog
            << QStringList{"file %T/d/a.lzh 1500", "add %T/d/a.lzh = 0", "add %T/d/a.lzh = 0",
                           "row 1 = a.lzh|LZH|2KB", "row 2 = a.lzh|LZH|2KB"};

        QTest::newRow("three rows read in turn, then the end, then row 1 again")
            << main << three + QStringList{"get -1 = %T/d/a.lzh", "get -1 = %T/d/b.lzh", "get -1 = %T/d/c.lzh",
                                           "get -1 =", "get -1 = %T/d/a.lzh"};
        QTest::newRow("index 0 gives row 1 and leaves the cursor where it was")
            << main << three + QStringList{"get -1 = %T/d/a.lzh", "get 0 = %T/d/a.lzh", "get -1 = %T/d/b.lzh"};
        QTest::newRow("an index inside the list gives that row and leaves the cursor")
            << main << three + QStringList{"get 2 = %T/d/c.lzh", "get 1 = %T/d/b.lzh", "get -1 = %T/d/a.lzh"};
        QTest::newRow("an index past the last row reads at the cursor and moves it")
            << main << three + QStringList{"get 5 = %T/d/a.lzh", "get 3 = %T/d/b.lzh", "get -1 = %T/d/c.lzh",
                                           "get 5 =", "get 5 = %T/d/a.lzh"};
        QTest::newRow("an index below -1 reads at the cursor as -1 does")
            << main << three + QStringList{"get -7 = %T/d/a.lzh", "get -2 = %T/d/b.lzh"};
        QTest::newRow("an empty list gives the empty string and a count of 0")
            << main << QStringList{"get -1 =", "get 0 =", "count = 0", "get -1 ="};
        QTest::newRow("setIndex sends the read cursor back to row 1")
            << main << three + QStringList{"get -1 = %T/d/a.lzh", "get -1 = %T/d/b.lzh", "setIndex",
                                           "get -1 = %T/d/a.lzh"};
        QTest::newRow("a list its owner cleared after two of five were read ends at once, then starts at row 1")
            << main << three + QStringList{"file %T/d/e.lzh", "file %T/d/f.lzh", "add %T/d/e.lzh = 0",
                                           "add %T/d/f.lzh = 0", "get -1 = %T/d/a.lzh", "get -1 = %T/d/b.lzh",
                                           "ownerClear", "count = 0", "get 0 =", "add %T/d/c.lzh = 0",
                                           "get -1 = %T/d/c.lzh", "get -1 ="};
        QTest::newRow("the model's clear empties the list and reads from row 1 again")
            << main << three + QStringList{"get -1 = %T/d/a.lzh", "get -1 = %T/d/b.lzh", "clear", "count = 0",
                                           "add %T/d/b.lzh = 0", "get -1 = %T/d/b.lzh"};
        QTest::newRow("a folder cell edited without its slash is read back with one")
            << main << QStringList{"file %T/d/a.lzh", "add %T/d/a.lzh = 0", "edit 1 1 = %T/d", "get 0 = %T/d/a.lzh"};

        QTest::newRow("a vanished file is not added") << main << QStringList{"add %T/d/gone.lzh = 2", "count = 0"};
        QTest::newRow("a path running through a file is not added")
            << main << QStringList{"file %T/d/a.lzh", "add %T/d/a.lzh/in.lzh = 2", "count = 0"};
        QTest::newRow("a folder is not added, with or without its slash")
            << main << QStringList{"file %T/o.lzh/x.lzh", "add %T/o.lzh = 2", "add %T/o.lzh/ = 2", "count = 0"};
        QTest::newRow("a named pipe is not added") << main << QStringList{"pipe %T/p.lzh", "add %T/p.lzh = 2", "count = 0"};
        QTest::newRow("a path without any slash is not added") << main << QStringList{"add a.lzh = 2", "count = 0"};
        QTest::newRow("a file that vanished after it was listed is still reported as listed")
            << main << QStringList{"file %T/d/a.lzh", "add %T/d/a.lzh = 0", "rm %T/d/a.lzh", "add %T/d/a.lzh = 1"};
        QTest::newRow("a link to a file is listed under its own name with the file's size")
            << main << QStringList{"file %T/s/real.bin 1500", "link %T/d/a.lzh %T/s/real.bin", "add %T/d/a.lzh = 0",
                                   "row 1 = a.lzh|%T/d/|LZH|2KB|"};
        QTest::newRow("a name encoding chosen for a row shows in its column; automatic empties it")
            << main << QStringList{"file %T/d/a.lzh", "add %T/d/a.lzh = 0", "setEncoding 0 EUC-JP",
                                   "row 1 = a.lzh|%T/d/|LZH|0KB|EUC-JP", "encoding 0 = EUC-JP",
                                   "encoding 1 =", "setEncoding 0", "encoding 0 =", "row 1 = a.lzh|%T/d/|LZH|0KB|"};
        QTest::newRow("the add-folder list has no encoding to choose")
            << ArchiveListLayout::AddFolderDialog
            << QStringList{"file %T/d/a.lzh", "add %T/d/a.lzh = 0", "setEncoding 0 GBK", "encoding 0 =",
                           "row 1 = a.lzh|LZH|0KB"};
        QTest::newRow("names not in UTF-8 show decoded as CP932 or escaped, and read back as their bytes")
            << main << QStringList{"file %T/<e9>/<83>\\.lzh 1500", "file %T/d/caf<e9>.zip", "add %T/<e9>/<83>\\.lzh = 0",
                                   "add %T/d/caf<e9>.zip = 0", "row 1 = ソ.lzh|%T/\\xe9/|LZH|2KB|",
                                   "row 2 = caf\\xe9.zip|%T/d/|ZIP|0KB|", "add %T/<e9>/<83>\\.lzh = 1",
                                   "get 0 = %T/<e9>/<83>\\.lzh", "get 1 = %T/d/caf<e9>.zip"};
    }

    void session()
    {
        QFETCH(ArchiveListLayout, layout);
        QFETCH(QStringList, steps);
        Fixture f(layout);
        QVERIFY(f.dir.isValid());
        const QString base = f.dir.path();
        if (steps.join(u' ').contains(QLatin1String("%U")) && base.contains(u'.'))
            QSKIP("the temporary folder's path holds a dot");
        steps.replaceInStrings(QLatin1String("%T"), base).replaceInStrings(QLatin1String("%U"), base.toUpper());
        for (QString &step : steps)
            step = withNativeBytes(step);

        for (const QString &step : std::as_const(steps)) {
            const qsizetype equals = step.indexOf(QLatin1String(" ="));
            const QStringList words = step.left(equals).split(u' ');
            const QString expected = equals < 0 ? QString() : step.mid(equals + 2).trimmed();
            const QString &command = words[0];
            if (command == u"file")
                QVERIFY2(makeFile(words[1], words.value(2, "0").toLongLong()), qPrintable(step));
            else if (command == u"zip" || command == u"gzip") {
                QFile zip(words[1]);
                QVERIFY(QDir().mkpath(QFileInfo(words[1]).path()) && zip.open(QIODevice::WriteOnly));
                if (command == u"zip")
                    zip.write(QByteArray("PK\x05\x06", 4) + QByteArray(18, '\0')); // an empty ZIP
                else
                    zip.write(QByteArray("\x1F\x8B\x08\0\0\0\0\0\0\x03\x03\0\0\0\0\0\0\0\0\0", 20)); // gzip of nothing
            } else if (command == u"link")
                QVERIFY(QDir().mkpath(QFileInfo(words[1]).path()) && QFile::link(words[2], words[1]));
            else if (command == u"pipe")
                QCOMPARE(::mkfifo(QFile::encodeName(words[1]).constData(), 0600), 0);
            else if (command == u"rm")
                QVERIFY(QFile::remove(words[1]));
            else if (command == u"add")
                QVERIFY2(QString::number(f.model.addFile(words[1])) == expected, qPrintable(step));
            else if (command == u"get")
                QCOMPARE(f.model.getItem(words[1].toInt()), expected);
            else if (command == u"encoding")
                QCOMPARE(f.model.encoding(words[1].toInt()), expected);
            else if (command == u"setEncoding")
                f.model.setEncoding(words[1].toInt(), words.value(2));
            else if (command == u"count")
                QCOMPARE(f.model.getCount(), expected.toInt());
            else if (command == u"setIndex")
                f.model.setIndex();
            else if (command == u"clear")
                f.model.clear();
            else if (command == u"ownerClear")
                f.list.clear();
            else if (command == u"edit")
                f.list.topLevelItem(words[1].toInt() - 1)->setText(words[2].toInt(), expected);
            else if (command == u"row") {
                const QTreeWidgetItem *item = f.list.topLevelItem(words[1].toInt() - 1);
                QVERIFY2(item, qPrintable(step));
                QStringList cells;
                for (int column = 0; column < f.list.columnCount(); ++column)
                    cells << item->text(column);
                QCOMPARE(cells.join(u'|'), expected);
            } else
                QFAIL(qPrintable(QStringLiteral("unknown step ") + step));
        }
    }

    void sizeText_data()
    {
        QTest::addColumn<qint64>("length");
        QTest::addColumn<QString>("shown");
        QTest::newRow("an empty file shows 0KB") << qint64(0) << "0KB";
        QTest::newRow("499 bytes round down") << qint64(499) << "0KB";
        QTest::newRow("500 bytes, exactly half, go to the even 0") << qint64(500) << "0KB";
        QTest::newRow("501 bytes round up") << qint64(501) << "1KB";
        QTest::newRow("1,500 bytes, exactly half, go to the even 2") << qint64(1500) << "2KB";
        QTest::newRow("2,500 bytes, exactly half, go to the even 2") << qint64(2500) << "2KB";
        QTest::newRow("3,500 bytes, exactly half, go to the even 4") << qint64(3500) << "4KB";
        QTest::newRow("12,345,678 bytes show without separators") << qint64(12345678) << "12346KB";
        // 2684354560 / 1000 = 2684354.56
        QTest::newRow("a 2.5 GiB file shows its true size") << qint64(2684354560) << "2684355KB";
        // 5368709120 / 1000 = 5368709.12, beyond what 32 bits hold
        QTest::newRow("a 5 GiB file shows its true size") << qint64(5368709120) << "5368709KB";
    }

    void sizeText()
    {
        QFETCH(qint64, length);
        QFETCH(QString, shown);
        Fixture f;
        const QString path = f.folder() + QStringLiteral("big.zip");
        QVERIFY(makeFile(path, length));
        QCOMPARE(f.model.addFile(path), clsListCtrl::added);
        QCOMPARE(f.list.topLevelItem(0)->text(3), shown);
    }

    void cellsTakeTheirColumnsAlignment()
    {
        Fixture f;
        const QString path = f.folder() + QStringLiteral("a.lzh");
        QVERIFY(makeFile(path, 1500));
        QCOMPARE(f.model.addFile(path), clsListCtrl::added);
        const QTreeWidgetItem *item = f.list.topLevelItem(0);
        const auto horizontal = [&](int column) {
            return item->data(column, Qt::TextAlignmentRole).value<Qt::Alignment>() & Qt::AlignHorizontal_Mask;
        };
        QCOMPARE(horizontal(0), Qt::Alignment(Qt::AlignLeft));
        QCOMPARE(horizontal(1), Qt::Alignment(Qt::AlignLeft));
        QCOMPARE(horizontal(2), Qt::Alignment(Qt::AlignHCenter));
        QCOMPARE(horizontal(3), Qt::Alignment(Qt::AlignRight));
    }

    void cellsFollowTheColumnKeys()
    {
        Fixture f;
        const QString path = f.folder() + QStringLiteral("a.cab");
        QVERIFY(makeFile(path, 4000));
        // Columns in another order, and one the model knows nothing of.
        const QStringList keys = {"keyFileName", "keySize", "keyNote", "keyType", "keyFolderName"};
        f.list.setColumnCount(keys.size());
        for (int i = 0; i < keys.size(); ++i)
            f.list.headerItem()->setData(i, columnKeyRole, keys[i]);
        f.list.headerItem()->setTextAlignment(1, Qt::AlignRight);
        QCOMPARE(f.model.addFile(path), clsListCtrl::added);
        const QTreeWidgetItem *item = f.list.topLevelItem(0);
        const QStringList cells = {item->text(0), item->text(1), item->text(2), item->text(3), item->text(4)};
        QCOMPARE(cells, QStringList({"a.cab", "4KB", "", "CAB", f.folder()}));
        QCOMPARE(item->textAlignment(1) & Qt::AlignHorizontal_Mask, int(Qt::AlignRight));
    }

    // The owning window changes its list view directly; afterwards every
    // answer of the model must still match a row-by-row reading.
    void indexFollowsTheListView_data()
    {
        QTest::addColumn<ListChange>("change");
        const auto row = [](const QString &folder) { return new QTreeWidgetItem({"g.lzh", folder}); };
        QTest::newRow("deleting a row") << ListChange([](QTreeWidget &l, const QString &) { delete l.topLevelItem(1); });
        QTest::newRow("taking a row out") << ListChange([](QTreeWidget &l, const QString &) { delete l.takeTopLevelItem(2); });
        QTest::newRow("removing rows through the item model")
            << ListChange([](QTreeWidget &l, const QString &) { QVERIFY(l.model()->removeRows(1, 3)); });
        QTest::newRow("clearing the list view") << ListChange([](QTreeWidget &l, const QString &) { l.clear(); });
        QTest::newRow("sorting by name") << ListChange([](QTreeWidget &l, const QString &) { l.sortItems(0, Qt::DescendingOrder); });
        QTest::newRow("sorting turned on, so new rows are sorted in") << ListChange([](QTreeWidget &l, const QString &) {
            l.setSortingEnabled(true);
            l.sortByColumn(0, Qt::DescendingOrder);
        });
        QTest::newRow("renaming a row in place")
            << ListChange([](QTreeWidget &l, const QString &) { l.topLevelItem(0)->setText(0, "g.lzh"); });
        QTest::newRow("editing a name through the item model, as the view's editor does")
            << ListChange([](QTreeWidget &l, const QString &) { QVERIFY(l.model()->setData(l.model()->index(2, 0), "g.lzh")); });
        QTest::newRow("changing a row's folder cell")
            << ListChange([](QTreeWidget &l, const QString &folder) { l.topLevelItem(3)->setText(1, folder + "o/"); });
        QTest::newRow("ticking a row")
            << ListChange([](QTreeWidget &l, const QString &) { l.topLevelItem(0)->setCheckState(0, Qt::Checked); });
        QTest::newRow("inserting a filled row")
            << ListChange([row](QTreeWidget &l, const QString &folder) { l.insertTopLevelItem(0, row(folder)); });
        QTest::newRow("adding an empty row and filling it afterwards") << ListChange([](QTreeWidget &l, const QString &folder) {
            auto *item = new QTreeWidgetItem;
            l.addTopLevelItem(item);
            item->setText(0, "g.lzh");
            item->setText(1, folder);
        });
        QTest::newRow("putting a row below another row") << ListChange([](QTreeWidget &l, const QString &) {
            l.topLevelItem(0)->addChild(l.takeTopLevelItem(3));
        });
        QTest::newRow("adding a child row and removing it again") << ListChange([row](QTreeWidget &l, const QString &folder) {
            l.topLevelItem(0)->addChild(row(folder));
            delete l.topLevelItem(0)->takeChild(0);
        });
        QTest::newRow("deleting a row that holds a child row") << ListChange([row](QTreeWidget &l, const QString &folder) {
            l.topLevelItem(0)->addChild(row(folder));
            delete l.topLevelItem(0);
        });
        QTest::newRow("copying a row, then deleting the original") << ListChange([](QTreeWidget &l, const QString &) {
            l.addTopLevelItem(l.topLevelItem(0)->clone());
            delete l.topLevelItem(0);
        });
    }

    void indexFollowsTheListView()
    {
        QFETCH(ListChange, change);
        Fixture f;
        const QStringList names = {"a.lzh", "b.lzh", "c.lzh", "d.lzh", "e.lzh", "f.lzh", "g.lzh"};
        for (const QString &name : names)
            QVERIFY(makeFile(f.folder() + name, 0));
        for (const QString &name : names.mid(0, 6))
            QCOMPARE(f.model.addFile(f.folder() + name), clsListCtrl::added);

        change(f.list, f.folder());
        if (QTest::currentTestFailed())
            return;
        for (const QString &name : names) {
            const bool listed = listedRowByRow(f.list, name, f.folder());
            QVERIFY2(f.model.search(name, f.folder()) == listed, qPrintable(name));
            QCOMPARE(f.model.addFile(f.folder() + name), listed ? clsListCtrl::alreadyListed : clsListCtrl::added);
            QVERIFY(listedRowByRow(f.list, name, f.folder()));
        }
    }

    // A long mixed run of the model's own changes and the owner's direct
    // ones, checked against a row-by-row reading after every change.
    void indexSurvivesAMixedRun()
    {
        Fixture f;
        const QString other = f.folder() + QStringLiteral("o/");
        QStringList names;
        for (int i = 0; i < 10; ++i) {
            names << QStringLiteral("f%1.zip").arg(i);
            QVERIFY(makeFile(f.folder() + names.last(), i));
        }
        QRandomGenerator random(20240607);
        for (int round = 0; round < 1500; ++round) {
            const int rows = f.list.topLevelItemCount();
            const QString name = names[random.bounded(names.size())];
            QTreeWidgetItem *item = rows > 0 ? f.list.topLevelItem(random.bounded(rows)) : nullptr;
            switch (random.bounded(12)) {
            case 0: delete item; break;
            case 1: if (item) item->setText(0, name); break;
            case 2: if (item) item->setText(1, random.bounded(2) ? other : f.folder()); break;
            case 3: f.list.sortItems(random.bounded(4), Qt::SortOrder(random.bounded(2))); break;
            case 4: if (random.bounded(10) == 0) f.list.clear(); break;
            case 5: if (random.bounded(10) == 0) f.model.clear(); break;
            case 6: f.list.insertTopLevelItem(0, new QTreeWidgetItem({name, f.folder()})); break;
            default: {
                const bool listed = listedRowByRow(f.list, name, f.folder());
                QCOMPARE(f.model.addFile(f.folder() + name), listed ? clsListCtrl::alreadyListed : clsListCtrl::added);
            }
            }
            for (const QString &candidate : names) {
                for (const QString &where : {f.folder(), other})
                    QVERIFY2(f.model.search(candidate, where) == listedRowByRow(f.list, candidate, where),
                             qPrintable(QStringLiteral("round %1, %2%3").arg(round).arg(where, candidate)));
            }
        }
    }

    void destroyedListViewReadsAsEmpty()
    {
        QTemporaryDir dir;
        const QString path = dir.filePath(QStringLiteral("a.lzh"));
        QVERIFY(makeFile(path, 0));
        clsListCtrl model;
        auto *list = new QTreeWidget;
        setupArchiveListColumns(list, ArchiveListLayout::MainWindow);
        model.setList(list);
        QCOMPARE(model.addFile(path), clsListCtrl::added);
        delete list;
        QCOMPARE(model.getCount(), 0);
        QCOMPARE(model.getItem(-1), QString());
        QVERIFY(!model.search(QStringLiteral("a.lzh"), dir.path() + u'/'));
        QCOMPARE(model.addFile(path), clsListCtrl::notAdded);
    }
};

QTEST_MAIN(TestListCtrl)
#include "tst_clslistctrl.moc"
