// The open-file filter as Qt's file dialog is given it.
#include "module1.h"
#include "qtuserdialogs.h"

#include <QtTest>

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
            << "対応する形式 (*.LZH *.lzh *.RAR *.rar);;LHA (*.LZH *.lzh);;RAR (*.RAR *.rar)";
        QTest::newRow("no type registered")
            << QList<SupportType>{SupportType{}} << "対応する形式はありません (*.nohavedllfiles)";
    }

    void qtFilter()
    {
        QFETCH(QList<SupportType>, types);
        QFETCH(QString, filter);
        QCOMPARE(QtUserDialogs::qtFilter(buildFilter(types)), filter);
    }
};

QTEST_MAIN(TestQtUserDialogs)
#include "tst_qtuserdialogs.moc"
