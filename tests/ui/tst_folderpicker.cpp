// The folder picker: its properties, what it asks, and the paths it hands back.
#include "clsfolderblowserdialog.h"
#include "clsinictrl.h"
#include "globals.h"
#include "scripteddialogs.h"
#include "testlocale.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QWidget>
#include <QtTest>

namespace {
const QString addFolderDescription = inLocale(QStringLiteral("書庫ファイルのあるフォルダを指定してください"),
                                              QStringLiteral("Choose the folder holding the archive files"));
const QString destinationDescription = inLocale(QStringLiteral("解凍先のフォルダを指定してください"),
                                                QStringLiteral("Choose the destination folder"));
} // namespace

class TestFolderPicker : public QObject
{
    Q_OBJECT

private slots:
    void freshInstance()
    {
        clsFolderBlowserDialog picker;
        QCOMPARE(picker.SelectedPath(), QString());
        QCOMPARE(picker.Description(), QString());
        QVERIFY(picker.ShowNewFolderButton());
    }

    void asksWithDescriptionOverTheOwner_data()
    {
        QTest::addColumn<bool>("newFolder");
        QTest::newRow("with the new-folder button") << true;
        QTest::newRow("without the new-folder button") << false;
    }

    void asksWithDescriptionOverTheOwner()
    {
        QFETCH(bool, newFolder);
        ScriptedDialogs dialogs;
        dialogs.folderAnswers = {QStringLiteral("/srv/archives")};
        QWidget owner;
        clsFolderBlowserDialog picker;
        picker.setDescription(inLocale(QStringLiteral("書庫ファイルのあるフォルダを指定してください"),
                                       QStringLiteral("Choose the folder holding the archive files")));
        picker.setShowNewFolderButton(newFolder);

        QVERIFY(picker.ShowDialog(&owner));

        QCOMPARE(dialogs.folderRequests.size(), 1);
        QCOMPARE(dialogs.folderRequests[0].owner, &owner);
        QCOMPARE(dialogs.folderRequests[0].description, inLocale(QStringLiteral("書庫ファイルのあるフォルダを指定してください"),
                                                                 QStringLiteral("Choose the folder holding the archive files")));
        QCOMPARE(dialogs.folderRequests[0].showNewFolderButton, newFolder);
        QCOMPARE(picker.SelectedPath(), QStringLiteral("/srv/archives"));
        QCOMPARE(picker.Description(), inLocale(QStringLiteral("書庫ファイルのあるフォルダを指定してください"),
                                                QStringLiteral("Choose the folder holding the archive files")));
        QCOMPARE(picker.ShowNewFolderButton(), newFolder);
    }

    void returnedPath_data()
    {
        QTest::addColumn<QString>("chosen");
        QTest::addColumn<QString>("selected");

        QTest::newRow("a folder comes back as it is") << "/home/user/書庫" << "/home/user/書庫";
        QTest::newRow("a trailing slash is dropped") << "/home/user/docs/" << "/home/user/docs";
        QTest::newRow("the root keeps its slash") << "/" << "/";
    }

    void returnedPath()
    {
        QFETCH(QString, chosen);
        QFETCH(QString, selected);
        ScriptedDialogs dialogs;
        dialogs.folderAnswers = {chosen};
        clsFolderBlowserDialog picker;

        QVERIFY(picker.ShowDialog(nullptr));
        QCOMPARE(picker.SelectedPath(), selected);
    }

    void opensWhereTheSamePurposeLastChose()
    {
        QTemporaryDir dir;
        const QString archives = dir.filePath(QStringLiteral("書庫"));
        const QString destination = dir.filePath(QStringLiteral("out/new"));
        QVERIFY(QDir().mkpath(archives) && QDir().mkpath(destination));
        clsINICtrl ini;
        ini.setFile(dir.filePath(QStringLiteral("Tenvo.ini")));
        gIniCtrl = &ini;
        ScriptedDialogs dialogs;
        dialogs.folderAnswers = {archives + u'/', destination, QString(), QString(), QString(),
                                 QStringLiteral("/tmp")};
        clsFolderBlowserDialog picker;
        const auto ask = [&](const QString &description) {
            picker.setDescription(description);
            picker.ShowDialog(nullptr);
            return dialogs.folderRequests.constLast().start;
        };

        QCOMPARE(ask(addFolderDescription), QDir::homePath());
        QCOMPARE(ask(destinationDescription), QDir::homePath());
        QCOMPARE(ask(addFolderDescription), archives);
        QCOMPARE(ask(destinationDescription), destination);
        QVERIFY(QDir(destination).removeRecursively());
        QCOMPARE(ask(destinationDescription), dir.filePath(QStringLiteral("out")));
        // A description of no known purpose neither starts anywhere nor is kept.
        QCOMPARE(ask(QStringLiteral("フォルダを指定してください")), QString());
        gIniCtrl = nullptr;

        QVERIFY(!dialogs.ranOutOfAnswers);
        QFile file(ini.file());
        QVERIFY(file.open(QIODevice::ReadOnly));
        QCOMPARE(QString::fromUtf8(file.readAll()),
                 QStringLiteral("[Folders]\nAddFolder=%1\nDestination=%2\n").arg(archives, destination));
    }

    void cancelAfterAChoiceKeepsIt()
    {
        ScriptedDialogs dialogs;
        dialogs.folderAnswers = {QStringLiteral("/srv/first"), QString()};
        clsFolderBlowserDialog picker;

        QVERIFY(picker.ShowDialog(nullptr));
        QVERIFY(!picker.ShowDialog(nullptr));

        QVERIFY(!dialogs.ranOutOfAnswers);
        QCOMPARE(picker.SelectedPath(), QStringLiteral("/srv/first"));
    }
};

QTEST_MAIN(TestFolderPicker)
#include "tst_folderpicker.moc"
