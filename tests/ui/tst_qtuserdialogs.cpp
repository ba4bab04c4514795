// The Qt side of the dialog seam: the open-file filter, message boxes that
// keep sentences whole and fit the screen, the password box and its tick,
// and Qt's own dialogs in the user's language.
#include "archiveresult.h"
#include "module1.h"
#include "qtuserdialogs.h"
#include "testlocale.h"

#include <QApplication>
#include <QCheckBox>
#include <QClipboard>
#include <QDialogButtonBox>
#include <QFileDialog>
#include <QInputDialog>
#include <QLabel>
#include <QMessageBox>
#include <QProcess>
#include <QPushButton>
#include <QScreen>
#include <QScrollArea>
#include <QScrollBar>
#include <QTemporaryDir>
#include <QTimer>
#include <QTreeView>
#include <QtTest>

namespace {

bool japaneseDesktop()
{
    return QLocale().language() == QLocale::Japanese;
}

} // namespace

class TestQtUserDialogs : public QObject
{
    Q_OBJECT

private slots:
    void qtFilter_data()
    {
        QTest::addColumn<QList<SupportType>>("types");
        QTest::addColumn<QString>("filter");

        const QList<SupportType> rows = registrationRows();
        const QString supported = inLocale("対応する形式", "Supported formats");
        QTest::newRow("one type: all supported, then the type, both cases")
            << QList<SupportType>{rows[2]}
            << supported + " (*.ZIP *.zip);;ZIP (*.ZIP *.zip)";
        QTest::newRow("two types: the first entry holds both")
            << QList<SupportType>{rows[0], rows[3]}
            << supported + " (*.LZH *.lzh *.LHA *.lha *.RAR *.rar);;LHA (*.LZH *.lzh *.LHA *.lha);;RAR (*.RAR *.rar)";
        QTest::newRow("no type registered")
            << QList<SupportType>{SupportType{}} << inLocale("対応する形式はありません (*.nohavedllfiles)",
                                                             "No supported formats (*.nohavedllfiles)");
    }

    void qtFilter()
    {
        QFETCH(QList<SupportType>, types);
        QFETCH(QString, filter);
        QCOMPARE(QtUserDialogs::qtFilter(buildFilter(types)), filter);
    }

    void messageBoxKeepsSentencesWhole_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<QString>("shown");

        const QString folder = QStringLiteral("/home/利用者/ダウンロード/写真_2023夏/");
        const QString exists = inLocale(QStringLiteral("フォルダ "), QStringLiteral("The folder ")) + folder
            + inLocale(QStringLiteral(" は既に存在しています。\n別の名前でフォルダを作成してください"),
                       QStringLiteral(" already exists.\nCreate the folder under another name"));
        QTest::newRow("the folder-exists warning, wider than Qt's boxes wrap at") << exists << exists;
        const QString summary = inLocale(QStringLiteral("次の書庫ファイルは解凍できませんでした\n\n"),
                                         QStringLiteral("The following archives could not be extracted\n\n")) + folder
            + inLocale(QStringLiteral("a.zip\n　この形式の解凍ライブラリを読み込めません"),
                       QStringLiteral("a.zip\n  Cannot load the extraction library for this format"));
        QTest::newRow("the failure summary") << summary << summary;
        const QString deep = QStringLiteral("/書庫").repeated(200) + QStringLiteral("/最後.lzh");
        QTest::newRow("a path wider than the screen is shortened, keeping its file name")
            << deep + inLocale(QStringLiteral("\n\nこのファイルは対応していません"), QStringLiteral("\n\nThis file is not supported"))
            << inLocale(QStringLiteral("…/最後.lzh\n\nこのファイルは対応していません"),
                        QStringLiteral("…/最後.lzh\n\nThis file is not supported"));
    }

    void messageBoxKeepsSentencesWhole()
    {
        QFETCH(QString, text);
        QFETCH(QString, shown);
        QtUserDialogs dialogs;
        const std::unique_ptr<QDialog> box = QtUserDialogs::messageBox(nullptr, QMessageBox::Warning, text);
        box->show();
        QCoreApplication::processEvents();

        auto *label = box->findChild<QLabel *>(QStringLiteral("messageText"));
        QVERIFY(label);
        QVERIFY(!label->wordWrap());
        const QStringList lines = label->text().split(u'\n');
        if (shown.startsWith(u'…')) {
            QVERIFY(lines[0].endsWith(shown.section(u'\n', 0, 0).mid(1)));
            QVERIFY(lines[0].contains(u'…'));
            QCOMPARE(lines.mid(1), shown.split(u'\n').mid(1));
            QCOMPARE(label->toolTip(), text.section(u'\n', 0, 0));
        } else {
            QCOMPARE(label->text(), shown);
        }
        // Every line has the room it needs, inside the screen.
        const QFontMetrics metrics = label->fontMetrics();
        for (const QString &line : lines)
            QVERIFY2(metrics.horizontalAdvance(line) <= label->contentsRect().width(), qPrintable(line));
        QVERIFY(box->width() <= box->screen()->availableGeometry().width());
        QVERIFY(box->findChild<QLabel *>(QStringLiteral("messageIcon")));
        QVERIFY(!QtUserDialogs::messageBox(nullptr, QMessageBox::NoIcon, text)
                     ->findChild<QLabel *>(QStringLiteral("messageIcon")));
        QCOMPARE(box->findChild<QDialogButtonBox *>()->buttons().size(), 1);
    }

    void summaryBoxFitsTheScreen_data()
    {
        QTest::addColumn<QString>("scale");
        QTest::newRow("25 failures at the default font, on a screen 1000 pixels high") << "1";
        QTest::newRow("25 failures at scale 1.5, on a screen 1000 pixels high") << "1.5";
    }

    void summaryBoxFitsTheScreen()
    {
        QFETCH(QString, scale);
        if (qEnvironmentVariableIsEmpty("TENVO_SCREEN_CHECK")) {
            // Qt reads its screens and scale as it starts: the check runs in
            // a copy of this test started on such a screen.
            QTemporaryDir dir;
            QFile config(dir.filePath(QStringLiteral("screen.json")));
            QVERIFY(config.open(QIODevice::WriteOnly));
            config.write(R"({"screens": [{"name": "s", "x": 0, "y": 0, "width": 1600, "height": 1000,
                             "logicalDpi": 96, "logicalBaseDpi": 96, "dpr": 1}]})");
            config.close();
            QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
            environment.insert(QStringLiteral("QT_QPA_PLATFORM"),
                               QStringLiteral("offscreen:configfile=") + config.fileName());
            environment.insert(QStringLiteral("QT_SCALE_FACTOR"), scale);
            environment.insert(QStringLiteral("TENVO_SCREEN_CHECK"), QStringLiteral("1"));
            QProcess check;
            check.setProcessEnvironment(environment);
            check.setProcessChannelMode(QProcess::MergedChannels);
            check.start(QCoreApplication::applicationFilePath(),
                        {QStringLiteral("summaryBoxFitsTheScreen:") + QLatin1String(QTest::currentDataTag())});
            QVERIFY(check.waitForFinished(-1));
            QVERIFY2(check.exitStatus() == QProcess::NormalExit && check.exitCode() == 0,
                     check.readAll().constData());
            return;
        }

        QtUserDialogs dialogs;
        const QScreen *screen = QGuiApplication::primaryScreen();
        QVERIFY(qAbs(screen->geometry().height() * screen->devicePixelRatio() - 1000) <= 1);
        QList<ArchiveResult> failures;
        for (int i = 1; i <= 25; ++i) {
            ArchiveResult failure;
            failure.path = QStringLiteral("/home/利用者/ダウンロード/写真_2023夏/書庫%1.zip").arg(i);
            failure.code = -2; // no type of its own
            failures << failure;
        }
        const QString text = summaryText(failures);
        const std::unique_ptr<QDialog> box = QtUserDialogs::messageBox(nullptr, QMessageBox::Warning, text);
        box->show();
        QVERIFY(QTest::qWaitForWindowExposed(box.get()));

        // The box and its OK button lie on the screen; the text scrolls.
        const QRect room = box->screen()->availableGeometry();
        QVERIFY2(room.contains(box->frameGeometry()), qPrintable(QStringLiteral("%1 px high").arg(box->height())));
        QPushButton *ok = box->findChild<QDialogButtonBox *>()->button(QDialogButtonBox::Ok);
        QVERIFY(room.contains(QRect(ok->mapToGlobal(QPoint(0, 0)), ok->size())));
        auto *label = box->findChild<QLabel *>(QStringLiteral("messageText"));
        QCOMPARE(label->text(), text);
        auto *scroll = box->findChild<QScrollArea *>(QStringLiteral("messageScroll"));
        QVERIFY(scroll);
        QCOMPARE(scroll->verticalScrollBar()->maximum(), qMax(0, label->height() - scroll->viewport()->height()));
        scroll->verticalScrollBar()->setValue(scroll->verticalScrollBar()->maximum());
        QVERIFY(label->mapTo(scroll->viewport(), QPoint(0, label->height())).y() <= scroll->viewport()->height());

        // The text can be selected and copied: all of it, or the part selected.
        QGuiApplication::clipboard()->clear();
        QTest::keySequence(box.get(), QKeySequence::Copy);
        QCOMPARE(QGuiApplication::clipboard()->text(), text);
        QVERIFY(label->textInteractionFlags() & Qt::TextSelectableByMouse);
        label->setSelection(0, 5);
        QTest::keySequence(box.get(), QKeySequence::Copy);
        QCOMPARE(QGuiApplication::clipboard()->text(), text.left(5));
    }

    void passwordBoxTick_data()
    {
        QTest::addColumn<bool>("offered");
        QTest::addColumn<bool>("tick");
        QTest::addColumn<QString>("button");
        QTest::addColumn<int>("reply");
        QTest::addColumn<bool>("remembered");
        const int answered = int(UserDialogs::PasswordReply::Answered);
        QTest::newRow("ticked and answered: remembered") << true << true << "ok" << answered << true;
        QTest::newRow("left unticked: not remembered") << true << false << "ok" << answered << false;
        QTest::newRow("ticked, then the archive skipped: not remembered")
            << true << true << "skip" << int(UserDialogs::PasswordReply::Skipped) << false;
        QTest::newRow("ticked, then the run stopped: not remembered")
            << true << true << "stop" << int(UserDialogs::PasswordReply::StopRun) << false;
        QTest::newRow("no keyring: no tick shown") << false << false << "ok" << answered << false;
    }

    // The tick shows only when the caller can keep the password, and
    // counts only with an answer.
    void passwordBoxTick()
    {
        QFETCH(bool, offered);
        QFETCH(bool, tick);
        QFETCH(QString, button);
        QFETCH(int, reply);
        QFETCH(bool, remembered);
        QtUserDialogs dialogs;
        bool shown = false;
        QTimer::singleShot(0, this, [&] {
            auto *box = qobject_cast<QInputDialog *>(QApplication::activeModalWidget());
            QVERIFY(box);
            auto *check = box->findChild<QCheckBox *>(QStringLiteral("chkRemember"));
            shown = check && check->isVisible();
            if (check) {
                QCOMPARE(check->text(), inLocale(QStringLiteral("このパスワードを記憶する"),
                                                 QStringLiteral("Remember this password")));
                QVERIFY(!check->isChecked());
                check->setChecked(tick);
            }
            box->setTextValue(QStringLiteral("secret"));
            auto *buttons = box->findChild<QDialogButtonBox *>();
            QVERIFY(buttons);
            for (QAbstractButton *candidate : buttons->buttons()) {
                const QDialogButtonBox::ButtonRole role = buttons->buttonRole(candidate);
                if ((button == u"ok" && role == QDialogButtonBox::AcceptRole)
                    || (button == u"skip" && role == QDialogButtonBox::RejectRole)
                    || (button == u"stop" && role == QDialogButtonBox::DestructiveRole))
                    candidate->click();
            }
        });
        QString answer;
        bool remember = true;
        const auto got = dialogs.passwordOrStop(nullptr, QStringLiteral("書庫ファイル「a.zip」はパスワード付きです。"),
                                                QStringLiteral("パスワードの入力"), answer,
                                                offered ? &remember : nullptr);
        QCOMPARE(shown, offered);
        QCOMPARE(int(got), reply);
        QCOMPARE(answer, reply == int(UserDialogs::PasswordReply::Answered) ? QStringLiteral("secret") : QString());
        if (offered)
            QCOMPARE(remember, remembered);
    }

    void standardDialogsSpeakTheUsersLanguage()
    {
        // Which words are expected depends on the locale the test runs in.
        QtUserDialogs dialogs;
        const QString description = inLocale(QStringLiteral("書庫ファイルのあるフォルダを指定してください"),
                                             QStringLiteral("Choose the folder holding the archive files"));
        const std::unique_ptr<QFileDialog> picker =
            QtUserDialogs::folderDialog(nullptr, description, true, QDir::tempPath());
        picker->show();
        QCoreApplication::processEvents();

        auto *lookIn = picker->findChild<QLabel *>(QStringLiteral("lookInLabel"));
        auto *buttons = picker->findChild<QDialogButtonBox *>(QStringLiteral("buttonBox"));
        QVERIFY(lookIn && buttons);
        QPushButton *cancel = buttons->button(QDialogButtonBox::Cancel);
        QVERIFY(cancel);
        if (japaneseDesktop()) {
            QVERIFY2(!lookIn->text().contains(QStringLiteral("Look in")), qPrintable(lookIn->text()));
            QCOMPARE(cancel->text().remove(u'&'), QStringLiteral("キャンセル"));
        } else {
            QCOMPARE(lookIn->text(), QStringLiteral("Look in:"));
            QCOMPARE(cancel->text().remove(u'&'), QStringLiteral("Cancel"));
        }

        // The description stands above the folder view, not only in the title.
        auto *shown = picker->findChild<QLabel *>(QStringLiteral("folderDescription"));
        QVERIFY(shown);
        QCOMPARE(shown->text(), description);
        QVERIFY(shown->isVisible());
        auto *tree = picker->findChild<QTreeView *>(QStringLiteral("treeView"));
        QVERIFY(tree);
        QVERIFY(shown->mapTo(picker.get(), QPoint(0, shown->height())).y()
                <= tree->mapTo(picker.get(), QPoint(0, 0)).y());
        QVERIFY(shown->width() >= shown->fontMetrics().horizontalAdvance(description));
    }
};

QTEST_MAIN(TestQtUserDialogs)
#include "tst_qtuserdialogs.moc"
