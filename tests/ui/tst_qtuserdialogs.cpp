// The Qt side of the dialog seam: the open-file filter, message boxes that
// keep sentences whole, and Qt's own dialogs in the user's language.
#include "module1.h"
#include "qtuserdialogs.h"

#include <QDialogButtonBox>
#include <QFileDialog>
#include <QLabel>
#include <QMessageBox>
#include <QPushButton>
#include <QScreen>
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
        QTest::newRow("one type: all supported, then the type, both cases")
            << QList<SupportType>{rows[2]}
            << "対応する形式 (*.ZIP *.zip);;ZIP (*.ZIP *.zip)";
        QTest::newRow("two types: the first entry holds both")
            << QList<SupportType>{rows[0], rows[3]}
            << "対応する形式 (*.LZH *.lzh *.LHA *.lha *.RAR *.rar);;LHA (*.LZH *.lzh *.LHA *.lha);;RAR (*.RAR *.rar)";
        QTest::newRow("no type registered")
            << QList<SupportType>{SupportType{}} << "対応する形式はありません (*.nohavedllfiles)";
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
        const QString exists = QStringLiteral("フォルダ ") + folder
            + QStringLiteral(" は既に存在しています。\n別の名前でフォルダを作成してください");
        QTest::newRow("the folder-exists warning, wider than Qt's boxes wrap at") << exists << exists;
        const QString summary = QStringLiteral("次の書庫ファイルは解凍できませんでした\n\n") + folder
            + QStringLiteral("a.zip\n　この形式の解凍ライブラリを読み込めません");
        QTest::newRow("the failure summary") << summary << summary;
        const QString deep = QStringLiteral("/書庫").repeated(200) + QStringLiteral("/最後.lzh");
        QTest::newRow("a path wider than the screen is shortened, keeping its file name")
            << deep + QStringLiteral("\n\nこのファイルは対応していません")
            << QStringLiteral("…/最後.lzh\n\nこのファイルは対応していません");
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

    void standardDialogsSpeakTheUsersLanguage()
    {
        // Which words are expected depends on the locale the test runs in.
        QtUserDialogs dialogs;
        const QString description = QStringLiteral("書庫ファイルのあるフォルダを指定してください");
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
