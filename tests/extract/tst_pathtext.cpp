// Paths written into what the user reads: nothing in a name may break or disguise the text.
#include "pathtext.h"

#include <QtTest>

class TestPathText : public QObject
{
    Q_OBJECT

private slots:
    void displayPath_data()
    {
        QTest::addColumn<QString>("path");
        QTest::addColumn<QString>("shown");

        QTest::newRow("an ordinary path is shown as it is")
            << "/home/user/書庫/a b.lzh" << "/home/user/書庫/a b.lzh";
        QTest::newRow("a newline is shown as backslash n")
            << "/in/a\nb.zip" << "/in/a\\nb.zip";
        QTest::newRow("carriage return and tab are shown by name")
            << "/in/a\r\tb.zip" << "/in/a\\r\\tb.zip";
        QTest::newRow("an escape character is shown in hex")
            << QStringLiteral("/in/\x1b[31mred.zip") << "/in/\\x1b[31mred.zip";
        QTest::newRow("a right-to-left override cannot turn the name round")
            << QStringLiteral("/in/gpj\u202Eexe.zip") << "/in/gpj\\u202eexe.zip";
        QTest::newRow("a line separator is shown in hex")
            << QStringLiteral("/in/a\u2028b.zip") << "/in/a\\u2028b.zip";
    }

    void displayPath()
    {
        QFETCH(QString, path);
        QFETCH(QString, shown);
        QCOMPARE(::displayPath(path), shown);
    }
};

QTEST_GUILESS_MAIN(TestPathText)
#include "tst_pathtext.moc"
