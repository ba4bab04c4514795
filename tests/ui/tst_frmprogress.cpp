// The progress window over real archives and the real archiver libraries.
#include "frmprogress.h"
#include "progressbox.h"
#include "runenvironment.h"
#include "scripteddialogs.h"

#include <QLabel>
#include <QPushButton>
#include <QTimer>
#include <QtTest>

namespace {

const QString finished = QStringLiteral("解凍が終了しました");

QString extracting(const QString &path, int k, int n)
{
    return QStringLiteral("現在解凍中です...\n") + path + QStringLiteral("\n\n%1 / %2").arg(k).arg(n);
}

QString readText(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? QString::fromUtf8(file.readAll()) : QString();
}

// The colour the user sees in the progress box at x, halfway down.
QColor colourAt(ProgressBox *box, int x)
{
    return box->grab().toImage().pixelColor(x, box->height() / 2);
}

} // namespace

class TestProgress : public QObject
{
    Q_OBJECT

private slots:
    void windowAtStart()
    {
        RunEnvironment env;
        frmProgress window;

        QCOMPARE(window.windowTitle(), QStringLiteral("変換中..."));
        QCOMPARE(window.minimumSize(), QSize(379, 170));
        QCOMPARE(window.maximumSize(), QSize(379, 170));
        QCOMPARE(window.lblMessage->geometry(), QRect(11, 16, 355, 60));
        QCOMPARE(window.lblMessage->text(), QString());
        QCOMPARE(window.picProgress->geometry(), QRect(8, 88, 361, 25));
        QCOMPARE(window.cmdClose->geometry(), QRect(152, 128, 81, 25));
        QCOMPARE(window.cmdClose->text(), QStringLiteral("閉じる"));
        QVERIFY(!window.cmdClose->isEnabled());
        QCOMPARE(window.timerExtract->interval(), 10);
        QVERIFY(!window.timerExtract->isActive());
        QCOMPARE(window.findChild<QLabel *>(QStringLiteral("lblMessage")), window.lblMessage);
        QCOMPARE(window.findChild<QPushButton *>(QStringLiteral("cmdClose")), window.cmdClose);
    }

    void threeArchives()
    {
        RunEnvironment env;
        QVERIFY(env.isValid());
        const QString a = env.addZip(QStringLiteral("a.zip"), {{"a.txt", "alpha"}});
        const QString b = env.addZip(QStringLiteral("b.zip"), {{"b.txt", "bravo"}});
        const QString c = env.addZip(QStringLiteral("c.zip"), {{"c.txt", "charlie"}});
        QVERIFY(!a.isEmpty() && !b.isEmpty() && !c.isEmpty());
        ScriptedDialogs dialogs;
        frmProgress window;
        window.setExtractFolder(env.out.chopped(1));
        window.timerExtract->start();
        window.show();

        const QStringList texts{QStringLiteral("現在準備中です...\n\n0 / 0"), extracting(a, 1, 3),
                                extracting(b, 2, 3), extracting(c, 3, 3), extracting(c, 3, 3), finished};
        const QList<int> bars{0, 120, 240, 360, 360, 360};
        for (int tick = 0; tick < 6; ++tick) {
            QVERIFY(!window.cmdClose->isEnabled());
            window.timerExtract_Timer();
            QCOMPARE(window.lblMessage->text(), texts[tick]);
            QCOMPARE(window.picProgress->barWidth(), bars[tick]);
        }
        QVERIFY(window.cmdClose->isEnabled());
        QVERIFY(!window.timerExtract->isActive());
        QVERIFY(window.isVisible());
        QCOMPARE(dialogs.exclamations, QStringList());

        // The bar is drawn in its colour up to its width and no further;
        // 360 pixels run past the box's inside and are clipped there.
        ProgressBox *box = window.picProgress;
        const int inside = box->contentsRect().right();
        QCOMPARE(colourAt(box, inside), ProgressBox::barColor());
        QCOMPARE(colourAt(box, box->contentsRect().left()), ProgressBox::barColor());

        QCOMPARE(env.filesOut(), (QStringList{"a.txt", "b.txt", "c.txt"}));
        QCOMPARE(readText(env.out + QStringLiteral("c.txt")), QStringLiteral("charlie"));

        window.cmdClose->click();
        QVERIFY(!window.isVisible());
    }

    void barShowsItsWidth()
    {
        RunEnvironment env;
        QVERIFY(env.isValid());
        for (const char *name : {"a.zip", "b.zip", "c.zip"})
            QVERIFY(!env.addZip(QLatin1String(name), {{std::string(name) + ".txt", "x"}}).isEmpty());
        ScriptedDialogs dialogs;
        frmProgress window;
        window.setExtractFolder(env.out);
        window.show();

        window.timerExtract_Timer();
        window.timerExtract_Timer();

        ProgressBox *box = window.picProgress;
        const int left = box->contentsRect().left();
        QCOMPARE(box->barWidth(), 120);
        QCOMPARE(colourAt(box, left + 119), ProgressBox::barColor());
        QVERIFY(colourAt(box, left + 121) != ProgressBox::barColor());
    }

    void damagedArchiveInTheMiddle()
    {
        RunEnvironment env;
        QVERIFY(env.isValid());
        gCloseDialog = true;
        env.addZip(QStringLiteral("a.zip"), {{"a.txt", "alpha"}});
        const QString b = env.addZip(QStringLiteral("b.zip"), {{"b.txt", "bravo data"}}, true);
        env.addZip(QStringLiteral("c.zip"), {{"c.txt", "charlie"}});
        QVERIFY(!b.isEmpty());
        ScriptedDialogs dialogs;
        frmProgress window;
        QString behindTheBox;
        bool openBehindTheBox = false;
        dialogs.onExclamation = [&] {
            behindTheBox = window.lblMessage->text();
            openBehindTheBox = window.isVisible();
        };
        window.setExtractFolder(env.out);
        window.timerExtract->start();
        window.show();

        QTRY_VERIFY_WITH_TIMEOUT(window.run().isFinished(), 60000);

        QCOMPARE(env.filesOut(), (QStringList{"a.txt", "c.txt"}));
        QCOMPARE(dialogs.exclamations,
                 QStringList{QStringLiteral("次の書庫ファイルは解凍できませんでした\n\n") + b
                             + QStringLiteral("\n　書庫ファイルが壊れています")});
        QCOMPARE(dialogs.exclamationOwners, QList<QWidget *>{&window});
        QCOMPARE(behindTheBox, finished);
        QVERIFY(openBehindTheBox);
        QCoreApplication::processEvents();
        QVERIFY(window.isVisible());
        QVERIFY(window.cmdClose->isEnabled());
        QCOMPARE(window.picProgress->barWidth(), 360);
    }

    void nameFolderAskedAboutOverTheWindow()
    {
        RunEnvironment env;
        QVERIFY(env.isValid());
        gMakeNameFolder = true;
        env.addZip(QStringLiteral("data.zip"), {{"d.txt", "delta"}});
        QVERIFY(QDir(env.out).mkdir(QStringLiteral("data")));
        ScriptedDialogs dialogs;
        dialogs.inputAnswers = {QStringLiteral("data2")};
        frmProgress window;
        window.setExtractFolder(env.out);
        window.timerExtract->start();
        window.show();

        QTRY_VERIFY_WITH_TIMEOUT(window.run().isFinished(), 60000);

        QVERIFY(!dialogs.ranOutOfAnswers);
        QCOMPARE(dialogs.exclamationOwners, QList<QWidget *>{&window});
        QCOMPARE(env.filesOut(), QStringList{"data2/d.txt"});
        QCOMPARE(window.lblMessage->text(), finished);
    }

    void closeBoxDuringTheRun()
    {
        RunEnvironment env;
        QVERIFY(env.isValid());
        env.addZip(QStringLiteral("a.zip"), {{"a.txt", "alpha"}});
        env.addZip(QStringLiteral("b.zip"), {{"b.txt", "bravo"}});
        ScriptedDialogs dialogs;
        frmProgress window;
        window.setExtractFolder(env.out);
        window.show();
        window.timerExtract_Timer();
        window.timerExtract_Timer();

        QVERIFY(!window.close());
        QTest::keyClick(&window, Qt::Key_Escape);
        QVERIFY(window.isVisible());

        for (int tick = 0; tick < 3; ++tick)
            window.timerExtract_Timer();
        QCOMPARE(window.lblMessage->text(), finished);
        QCOMPARE(env.filesOut(), (QStringList{"a.txt", "b.txt"}));

        QVERIFY(window.close());
        QVERIFY(!window.isVisible());
    }

    void emptyList_data()
    {
        QTest::addColumn<bool>("closeDialog");
        QTest::newRow("the window stays to be closed") << false;
        QTest::newRow("the window closes by itself") << true;
    }

    void emptyList()
    {
        QFETCH(bool, closeDialog);
        RunEnvironment env;
        gCloseDialog = closeDialog;
        ScriptedDialogs dialogs;
        frmProgress window;
        window.setExtractFolder(env.out);
        window.timerExtract->start();
        window.show();

        QTRY_VERIFY_WITH_TIMEOUT(window.run().isFinished(), 60000);

        QCOMPARE(window.lblMessage->text(), finished);
        QVERIFY(window.cmdClose->isEnabled());
        QCOMPARE(window.isVisible(), !closeDialog);
        QCOMPARE(window.picProgress->barWidth(), 0);
        QCOMPARE(dialogs.exclamations, QStringList());
    }
};

QTEST_MAIN(TestProgress)
#include "tst_frmprogress.moc"
