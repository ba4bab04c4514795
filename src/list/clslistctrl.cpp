// The archive list model.
#include "clslistctrl.h"

#include "clsarchive.h"

#include "listcolumns.h"
#include "nativepath.h"
#include "searchfiles.h"

#include <QAbstractItemModel>
#include <algorithm>
#include <QObject>
#include <QTreeWidget>

clsListCtrl::clsListCtrl() = default;

// The watcher goes first so that no signal reaches a half-destroyed model.
clsListCtrl::~clsListCtrl()
{
    m_watcher.reset();
}

void clsListCtrl::setList(QTreeWidget *list)
{
    m_list = list;
    watchList();
}

void clsListCtrl::watchList()
{
    m_watcher = std::make_unique<QObject>();
    invalidateIndex();
    if (!m_list)
        return;

    QAbstractItemModel *model = m_list->model();
    QObject *watcher = m_watcher.get();
    // Only top-level items are rows of the list; children of a row are not.
    QObject::connect(model, &QAbstractItemModel::rowsInserted, watcher,
                     [this](const QModelIndex &parent, int first, int last) {
                         if (!parent.isValid())
                             countRows(first, last, +1);
                     });
    QObject::connect(model, &QAbstractItemModel::rowsAboutToBeRemoved, watcher,
                     [this](const QModelIndex &parent, int first, int last) {
                         if (!parent.isValid())
                             countRows(first, last, -1);
                     });
    // A changed cell does not tell its old text, so the index starts over.
    QObject::connect(model, &QAbstractItemModel::dataChanged, watcher,
                     [this](const QModelIndex &topLeft, const QModelIndex &bottomRight,
                            const QList<int> &roles) {
                         Q_UNUSED(bottomRight);
                         if (topLeft.parent().isValid() || topLeft.column() > 1)
                             return;
                         if (!roles.isEmpty() && !roles.contains(Qt::DisplayRole)
                             && !roles.contains(Qt::EditRole))
                             return;
                         invalidateIndex();
                     });
    // Moves, sorts, resets and column changes are rare; rebuilding on the next
    // search is simpler than following each of them.
    const auto drop = [this] { invalidateIndex(); };
    QObject::connect(model, &QAbstractItemModel::rowsMoved, watcher, drop);
    QObject::connect(model, &QAbstractItemModel::layoutChanged, watcher, drop);
    QObject::connect(model, &QAbstractItemModel::modelReset, watcher, drop);
    QObject::connect(model, &QAbstractItemModel::columnsInserted, watcher, drop);
    QObject::connect(model, &QAbstractItemModel::columnsRemoved, watcher, drop);
    QObject::connect(model, &QAbstractItemModel::columnsMoved, watcher, drop);
    QObject::connect(m_list, &QObject::destroyed, watcher, drop);
}

void clsListCtrl::clear()
{
    if (m_list)
        m_list->clear();
    setIndex();
}

int clsListCtrl::addFile(const QString &givenPath)
{
    // A set is listed once, by the file it is extracted from.
    const QString fullPath = firstVolumeOf(givenPath);
    if (!m_list)
        return notAdded;
    const qsizetype slash = fullPath.lastIndexOf(u'/');
    if (slash < 0)
        return notAdded;
    // "/a.lzh" leaves the folder empty; the appended "/" gives back the root.
    QString folder = fullPath.left(slash);
    if (!folder.endsWith(u'/'))
        folder += u'/';
    const QString name = fullPath.mid(slash + 1);
    // Without any "." the type text is the whole path.
    QString type = fullPath.mid(fullPath.lastIndexOf(u'.') + 1).toUpper();
    // "x.zip.001" is of the type before its number.
    const qsizetype numberDot = name.lastIndexOf(u'.');
    const qsizetype innerDot = numberDot > 0 ? name.lastIndexOf(u'.', numberDot - 1) : -1;
    if (innerDot >= 0 && name.size() - numberDot - 1 >= 3
        && std::all_of(name.begin() + numberDot + 1, name.end(), [](QChar c) { return c.isDigit(); }))
        type = name.mid(innerDot + 1, numberDot - innerDot - 1).toUpper();

    if (search(name, folder))
        return alreadyListed;

    // Only a regular file (also through a link) has an archive to extract; a
    // path that cannot be looked at (vanished, no permission) adds no row.
    if (name.isEmpty() || !isFileAt(fullPath))
        return notAdded;
    // A file known by its bytes (a ZIP saved without extension, or named
    // .rar) shows the type it is.
    const QString byContent = clsArchive::typeNameByContent(fullPath);
    if (!byContent.isEmpty())
        type = byContent == u"LHA" ? QStringLiteral("LZH") : byContent;

    // The row is filled before it joins the list, so the list view reports
    // one complete insertion.
    auto *item = new QTreeWidgetItem;
    // A name that is not UTF-8 is shown readable and kept as it is.
    const auto setPathText = [item](int column, const QString &text) {
        const QString readable = readablePath(text);
        item->setText(column, readable);
        if (readable != text)
            item->setData(column, nativeTextRole, text);
    };
    setPathText(0, name);
    const QTreeWidgetItem *header = m_list->headerItem();
    for (int i = 0; i < m_list->columnCount(); ++i) {
        const QString key = columnKey(m_list, i);
        if (key == keyFolderName)
            setPathText(i, folder);
        else if (key == keyType)
            item->setText(i, readablePath(type));
        else if (key == keySize)
            item->setText(i, sizeText(fileSizeAt(fullPath)));
        // A list view aligns a whole column as its header says.
        item->setData(i, Qt::TextAlignmentRole, header->data(i, Qt::TextAlignmentRole));
    }
    m_list->addTopLevelItem(item);
    return added;
}

bool clsListCtrl::search(const QString &name, const QString &folder) const
{
    if (!m_list)
        return false;
    if (!m_indexValid)
        rebuildIndex();
    return m_rowCounts.value(RowKey(name, folder)) > 0;
}

QString clsListCtrl::getItem(int index)
{
    const int count = getCount();
    if (m_index > count) {
        setIndex();
        return QString();
    }
    int row;
    // The wider type keeps index + 1 from overflowing.
    if (index < 0 || qint64(index) + 1 > count) {
        row = m_index;
        ++m_index;
    } else {
        row = index + 1;
    }
    const QAbstractItemModel *model = m_list->model();
    const QString name = pathText(model->index(row - 1, 0));
    const QString folder = pathText(model->index(row - 1, 1));
    return folder.endsWith(u'/') ? folder + name : folder + u'/' + name;
}

int clsListCtrl::getCount() const
{
    return m_list ? m_list->topLevelItemCount() : 0;
}

namespace {

int encodingColumn(const QTreeWidget *list)
{
    for (int i = 0; i < list->columnCount(); ++i) {
        if (columnKey(list, i) == keyEncoding)
            return i;
    }
    return -1;
}

} // namespace

QString clsListCtrl::encoding(int index) const
{
    if (!m_list || index < 0 || index >= m_list->topLevelItemCount())
        return QString();
    const int column = encodingColumn(m_list);
    return column < 0 ? QString() : m_list->topLevelItem(index)->text(column);
}

void clsListCtrl::setEncoding(int index, const QString &encoding)
{
    if (!m_list || index < 0 || index >= m_list->topLevelItemCount())
        return;
    if (const int column = encodingColumn(m_list); column >= 0)
        m_list->topLevelItem(index)->setText(column, encoding);
}

void clsListCtrl::setIndex()
{
    m_index = 1;
}

QString clsListCtrl::sizeText(qint64 length)
{
    // Integer arithmetic rounds exactly for every length; halves go to the
    // even neighbour.
    qint64 thousands = length / 1000;
    const qint64 rest = length % 1000;
    if (rest > 500 || (rest == 500 && thousands % 2 != 0))
        ++thousands;
    return QString::number(thousands) + QStringLiteral("KB");
}

void clsListCtrl::countRows(int first, int last, int delta) const
{
    if (!m_indexValid)
        return;
    // A list view being destroyed drops its rows after it is gone.
    if (!m_list) {
        invalidateIndex();
        return;
    }
    for (int row = first; row <= last; ++row) {
        const RowKey key = rowKey(row);
        int &count = m_rowCounts[key];
        count += delta;
        if (count <= 0)
            m_rowCounts.remove(key);
    }
}

void clsListCtrl::rebuildIndex() const
{
    m_rowCounts.clear();
    const int count = getCount();
    for (int row = 0; row < count; ++row)
        ++m_rowCounts[rowKey(row)];
    m_indexValid = true;
}

clsListCtrl::RowKey clsListCtrl::rowKey(int row) const
{
    const QAbstractItemModel *model = m_list->model();
    return RowKey(pathText(model->index(row, 0)), pathText(model->index(row, 1)));
}

QString clsListCtrl::pathText(const QModelIndex &cell)
{
    const QVariant native = cell.data(nativeTextRole);
    return native.isValid() ? native.toString() : cell.data().toString();
}
