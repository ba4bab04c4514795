// Name folders: how they are named, the rename loop, and folders that cannot be made.
#include "namefolder.h"
#include "nativepath.h"
#include "scripteddialogs.h"

#include <QDir>
#include <QFile>
#include <QScopeGuard>
#include <QTemporaryDir>
#include <QtTest>

#include <sys/stat.h>
#include <unistd.h>

namespace {

const QString warningTail = QStringLiteral(" は既に存在しています。\n別の名前でフォルダを作成してください");
const QString prompt = QStringLiteral("変更するフォルダ名を入力してください");
const QString title = QStringLiteral("フォルダ名の変更");

QStringList subfolders(const QString &path)
{
    return QDir(path).entryList(QDir::Dirs | QDir::NoDotAndDotDot, QDir::Name);
}

} // namespace

class TestNameFolder : public QObject
{
    Q_OBJECT

private slots:
    void nameFolderPath_data()
    {
        QTest::addColumn<QString>("archive");
        QTest::addColumn<QString>("expected");

        QTest::newRow("the file name loses its extension")
            << "/in/data.lzh" << "/out/data/";
        QTest::newRow("only the last extension goes")
            << "/in/a.tar.lzh" << "/out/a.tar/";
        QTest::newRow("a dot in a folder name is no extension")
            << "/in/v1.2/archive" << "/out/archive/";
        QTest::newRow("a file name without a dot is kept whole")
            << "/in/archive" << "/out/archive/";
        QTest::newRow("a file name that is only an extension is kept whole")
            << "/in/.zip" << "/out/.zip/";
        QTest::newRow("a file name in CP932 bytes names its folder as decoded")
            << pathFromNative("/in/\x83\\.lzh") << "/out/ソ/";
        QTest::newRow("bytes that are neither UTF-8 nor CP932 are written as escapes")
            << pathFromNative("/in/caf\xe9.zip") << "/out/caf\\xe9/";
    }

    void nameFolderPath()
    {
        QFETCH(QString, archive);
        QFETCH(QString, expected);
        QCOMPARE(::nameFolderPath(QStringLiteral("/out/"), archive), expected);
    }

    void renameLoop_data()
    {
        QTest::addColumn<QStringList>("existing");
        QTest::addColumn<QStringList>("answers");
        QTest::addColumn<QStringList>("askedAbout");
        QTest::addColumn<QString>("created");

        QTest::newRow("a free name is created without a question")
            << QStringList{} << QStringList{} << QStringList{} << "data";
        QTest::newRow("a taken name is replaced by the answer")
            << QStringList{"data"} << QStringList{"data2"} << QStringList{"data"} << "data2";
        QTest::newRow("cancel or an empty answer asks again about the same name")
            << QStringList{"data"} << QStringList{"", "", "data3"}
            << QStringList{"data", "data", "data"} << "data3";
        QTest::newRow("an answer that is taken too is asked about in turn")
            << QStringList{"data", "data2"} << QStringList{"data2", "data4"}
            << QStringList{"data", "data2"} << "data4";
        QTest::newRow("the answer is used as typed, blanks included")
            << QStringList{"data"} << QStringList{" new name "} << QStringList{"data"} << " new name ";
    }

    void renameLoop()
    {
        QFETCH(QStringList, existing);
        QFETCH(QStringList, answers);
        QFETCH(QStringList, askedAbout);
        QFETCH(QString, created);

        QTemporaryDir dir;
        QVERIFY(dir.isValid());
        const QString out = dir.path() + u'/';
        for (const QString &name : existing)
            QVERIFY(QDir(out).mkdir(name));
        ScriptedDialogs dialogs;
        dialogs.inputAnswers = answers;

        QString path = out + QStringLiteral("data/");
        QVERIFY(createNameFolder(path));

        QVERIFY(!dialogs.ranOutOfAnswers);
        QCOMPARE(path, out + created + u'/');
        QVERIFY(QFileInfo(path).isDir());
        QCOMPARE(dialogs.inputs.size(), askedAbout.size());
        QCOMPARE(dialogs.exclamations.size(), askedAbout.size());
        for (qsizetype i = 0; i < askedAbout.size(); ++i) {
            QCOMPARE(dialogs.exclamations[i],
                     QStringLiteral("フォルダ ") + out + askedAbout[i] + u'/' + warningTail);
            QCOMPARE(dialogs.inputs[i].prompt, prompt);
            QCOMPARE(dialogs.inputs[i].title, title);
            QCOMPARE(dialogs.inputs[i].preset, askedAbout[i]);
        }
        QStringList expectedFolders = existing;
        if (!expectedFolders.contains(created))
            expectedFolders.append(created);
        expectedFolders.sort();
        QCOMPARE(subfolders(out), expectedFolders);
    }

    void folderThatCannotBeCreated_data()
    {
        QTest::addColumn<QString>("setup");
        QTest::addColumn<QStringList>("answers");
        QTest::addColumn<QString>("attempted"); // relative to the destination
        QTest::addColumn<QString>("cause");

        QTest::newRow("an answer holding a slash")
            << "taken" << QStringList{"x/y"} << "x/y/" << "フォルダ名に「/」は使えません";
        QTest::newRow("a destination that does not exist")
            << "missing" << QStringList{} << "gone/data/" << "親フォルダがありません";
        QTest::newRow("a file in the way")
            << "file" << QStringList{} << "data/" << "同じ名前のファイルがあります";
        QTest::newRow("a destination without write permission")
            << "readonly" << QStringList{} << "data/" << "書き込む権限がありません";
    }

    void folderThatCannotBeCreated()
    {
        QFETCH(QString, setup);
        QFETCH(QStringList, answers);
        QFETCH(QString, attempted);
        QFETCH(QString, cause);

        QTemporaryDir dir;
        QVERIFY(dir.isValid());
        const QString out = dir.path() + u'/';
        QString path = out + QStringLiteral("data/");
        if (setup == u"taken") {
            QVERIFY(QDir(out).mkdir(QStringLiteral("data")));
        } else if (setup == u"missing") {
            path = out + QStringLiteral("gone/data/");
        } else if (setup == u"file") {
            QFile file(out + QStringLiteral("data"));
            QVERIFY(file.open(QIODevice::WriteOnly));
        } else if (setup == u"readonly") {
            QVERIFY(QFile::setPermissions(dir.path(), QFile::ReadOwner | QFile::ExeOwner | QFile::ReadOther
                                                          | QFile::ExeOther));
        }
        // Permissions do not hold for root: as root the folder is made as
        // "nobody", for whom the folder is read-only.
        const bool asNobody = setup == u"readonly" && ::geteuid() == 0;
        const QStringList before = subfolders(out);
        ScriptedDialogs dialogs;
        dialogs.inputAnswers = answers;

        if (asNobody)
            QVERIFY(::seteuid(65534) == 0);
        const bool made = createNameFolder(path);
        if (asNobody)
            QVERIFY(::seteuid(0) == 0);
        QFile::setPermissions(dir.path(), QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);

        QVERIFY(!made);
        QVERIFY(!dialogs.ranOutOfAnswers);
        QCOMPARE(path, out + attempted);
        QCOMPARE(dialogs.exclamations.last(),
                 QStringLiteral("フォルダ ") + out + attempted + QStringLiteral(" を作成できません。\n") + cause);
        QCOMPARE(subfolders(out), before);
    }

    void warningShowsControlCharactersEscaped()
    {
        QTemporaryDir dir;
        QVERIFY(dir.isValid());
        const QString out = dir.path() + u'/';
        QVERIFY(QDir(out).mkdir(QStringLiteral("da\nta")));
        ScriptedDialogs dialogs;
        dialogs.inputAnswers = {QStringLiteral("data")};

        QString path = out + QStringLiteral("da\nta/");
        QVERIFY(createNameFolder(path));

        QCOMPARE(dialogs.exclamations.value(0),
                 QStringLiteral("フォルダ ") + out + QStringLiteral("da\\nta/") + warningTail);
        QCOMPARE(dialogs.inputs.value(0).preset, QStringLiteral("da\nta"));
        QVERIFY(QFileInfo(out + QStringLiteral("data")).isDir());
    }

    void folderExists_data()
    {
        QTest::addColumn<QString>("entry");
        QTest::addColumn<bool>("exists");

        QTest::newRow("a folder, with its trailing slash") << "folder/" << true;
        QTest::newRow("a folder, without it") << "folder" << true;
        QTest::newRow("a file is no folder") << "file" << false;
        QTest::newRow("nothing at all") << "nothing/" << false;
        QTest::newRow("a folder named in Latin-1 bytes") << pathFromNative("caf\xe9/") << true;
    }

    void folderExists()
    {
        QFETCH(QString, entry);
        QFETCH(bool, exists);
        QTemporaryDir dir;
        QVERIFY(dir.isValid());
        QVERIFY(QDir(dir.path()).mkdir(QStringLiteral("folder")));
        // Qt can neither make nor remove a name that is not UTF-8.
        const QByteArray latin1 = QFile::encodeName(dir.path()) + "/caf\xe9";
        QCOMPARE(::mkdir(latin1.constData(), 0700), 0);
        const auto removeIt = qScopeGuard([&] { ::rmdir(latin1.constData()); });
        QFile file(dir.filePath(QStringLiteral("file")));
        QVERIFY(file.open(QIODevice::WriteOnly));
        QCOMPARE(::folderExists(dir.path() + u'/' + entry), exists);
    }
};

QTEST_GUILESS_MAIN(TestNameFolder)
#include "tst_namefolder.moc"
