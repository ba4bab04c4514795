// Name folders: how they are named, renamed and warned about, and folders that cannot be made.
#include "namefolder.h"
#include "nativepath.h"
#include "testlocale.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QtTest>

#include <sys/stat.h>
#include <unistd.h>

namespace {

const QString warningTail = inLocale(QStringLiteral(" は既に存在しています。\n別の名前でフォルダを作成してください"),
                                     QStringLiteral(" already exists.\nCreate the folder under another name"));

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
        QTest::newRow("a compressed tar archive loses .tar too")
            << "/in/data.tar.gz" << "/out/data/";
        QTest::newRow("the same in capitals, with zstd")
            << "/in/Data.TAR.ZST" << "/out/Data/";
        QTest::newRow("a single compressed file loses its suffix only")
            << "/in/notes.txt.xz" << "/out/notes.txt/";
        QTest::newRow("a file named .tar.gz alone keeps .tar")
            << "/in/.tar.gz" << "/out/.tar/";
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

    void folderThatCannotBeMade_data()
    {
        QTest::addColumn<QString>("setup");
        QTest::addColumn<QString>("answer");
        QTest::addColumn<QString>("attempted"); // relative to the destination
        QTest::addColumn<QString>("cause");

        QTest::newRow("an answer holding a slash")
            << "" << "x/y" << "x/y/" << inLocale("フォルダ名に「/」は使えません", "A folder name cannot contain \"/\"");
        QTest::newRow("a destination that does not exist")
            << "missing" << "" << "gone/data/" << inLocale("親フォルダがありません", "The parent folder does not exist");
        QTest::newRow("a file in the way")
            << "file" << "" << "data/" << inLocale("同じ名前のファイルがあります", "A file of the same name exists");
        QTest::newRow("a destination without write permission")
            << "readonly" << "" << "data/" << inLocale("書き込む権限がありません", "No permission to write");
    }

    void folderThatCannotBeMade()
    {
        QFETCH(QString, setup);
        QFETCH(QString, answer);
        QFETCH(QString, attempted);
        QFETCH(QString, cause);

        QTemporaryDir dir;
        QVERIFY(dir.isValid());
        const QString out = dir.path() + u'/';
        QString path = out + QStringLiteral("data/");
        if (setup == u"missing") {
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
        QString message;
        if (!answer.isEmpty()) {
            QCOMPARE(::renamedNameFolder(path, answer, &message), QString());
        } else {
            if (asNobody)
                QVERIFY(::seteuid(65534) == 0);
            message = makeNameFolder(path);
            if (asNobody)
                QVERIFY(::seteuid(0) == 0);
        }
        QFile::setPermissions(dir.path(), QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);

        QCOMPARE(message, inLocale(QStringLiteral("フォルダ "),
                                   QStringLiteral("The folder ")) + out + attempted + inLocale(QStringLiteral(" を作成できません。\n"),
                                                                                               QStringLiteral(" cannot be created.\n")) + cause);
        QCOMPARE(subfolders(out), before);
    }

    // The answer replaces the folder's own name, blanks included; no answer
    // keeps the name, so the question comes again.
    void renamedNameFolder_data()
    {
        QTest::addColumn<QString>("answer");
        QTest::addColumn<QString>("expected");
        QTest::newRow("another name") << "data2" << "/out/data2/";
        QTest::newRow("blanks are kept") << " new name " << "/out/ new name /";
        QTest::newRow("no answer keeps the name") << "" << "/out/data/";
    }

    void renamedNameFolder()
    {
        QFETCH(QString, answer);
        QFETCH(QString, expected);
        QCOMPARE(::renamedNameFolder(QStringLiteral("/out/data/"), answer, nullptr), expected);
    }

    void warningShowsControlCharactersEscaped()
    {
        QCOMPARE(nameFolderTakenText(QStringLiteral("/out/da\nta/")),
                 inLocale(QStringLiteral("フォルダ /out/da\\nta/"),
                          QStringLiteral("The folder /out/da\\nta/")) + warningTail);
    }
};

QTEST_GUILESS_MAIN(TestNameFolder)
#include "tst_namefolder.moc"
