// The columns of the two archive lists.
#include "listcolumns.h"

#include <QCoreApplication>
#include <QList>
#include <QTreeWidget>

namespace {

struct ColumnDefinition
{
    const QString &key;
    const char *caption; // translated where shown
    Qt::Alignment alignment;
    int widthTwips;
};

// Widths are laid out in twips; 15 twips make one pixel.
constexpr int twipsPerPixel = 15;

const Qt::Alignment alignLeft = Qt::AlignLeft | Qt::AlignVCenter;
const Qt::Alignment alignCentre = Qt::AlignHCenter | Qt::AlignVCenter;
const Qt::Alignment alignRight = Qt::AlignRight | Qt::AlignVCenter;

QList<ColumnDefinition> columnsOf(ArchiveListLayout layout)
{
    if (layout == ArchiveListLayout::MainWindow) {
        return {
            {keyFileName, QT_TRANSLATE_NOOP("ArchiveList", "ファイル名"), alignLeft, 2250},
            {keyFolderName, QT_TRANSLATE_NOOP("ArchiveList", "フォルダ位置"), alignLeft, 3750},
            {keyType, QT_TRANSLATE_NOOP("ArchiveList", "圧縮形式"), alignCentre, 1050},
            {keySize, QT_TRANSLATE_NOOP("ArchiveList", "サイズ"), alignRight, 1200},
            {keyEncoding, QT_TRANSLATE_NOOP("ArchiveList", "文字コード"), alignCentre, 1050},
        };
    }
    return {
        {keyFileName, QT_TRANSLATE_NOOP("ArchiveList", "ファイル名"), alignLeft, 2250},
        {keyType, QT_TRANSLATE_NOOP("ArchiveList", "圧縮形式"), alignCentre, 1050},
        {keySize, QT_TRANSLATE_NOOP("ArchiveList", "サイズ"), alignRight, 1050},
    };
}

} // namespace

void setupArchiveListColumns(QTreeWidget *list, ArchiveListLayout layout)
{
    const QList<ColumnDefinition> columns = columnsOf(layout);
    list->setColumnCount(columns.size());
    list->setRootIsDecorated(false);
    QTreeWidgetItem *header = list->headerItem();
    for (int i = 0; i < columns.size(); ++i) {
        const ColumnDefinition &column = columns[i];
        header->setText(i, QCoreApplication::translate("ArchiveList", column.caption));
        header->setData(i, columnKeyRole, column.key);
        header->setTextAlignment(i, column.alignment);
        list->setColumnWidth(i, column.widthTwips / twipsPerPixel);
    }
}

QString columnKey(const QTreeWidget *list, int column)
{
    if (column < 0 || column >= list->columnCount())
        return QString();
    return list->headerItem()->data(column, columnKeyRole).toString();
}
