// The archive list model: reads and writes the rows of a list view, which
// hold the list's entries (file name, folder, type text, size text).
#pragma once

#include <QHash>
#include <QPointer>
#include <QString>

#include <memory>
#include <utility>

class QModelIndex;
class QObject;
class QTreeWidget;

class clsListCtrl
{
public:
    // Results of addFile.
    static constexpr int added = 0;
    static constexpr int alreadyListed = 1;
    // The path names no readable regular file (vanished, no permission to
    // look at it, a folder, a device), or has no "/", or no list is bound.
    static constexpr int notAdded = 2;

    clsListCtrl();
    ~clsListCtrl();
    clsListCtrl(const clsListCtrl &) = delete;
    clsListCtrl &operator=(const clsListCtrl &) = delete;

    // Binds the model to list; every later call reads and writes its rows and
    // finds its columns by the keys in its header (see listcolumns.h). The
    // model never owns the list; when the list is destroyed the model acts as
    // if bound to an empty list.
    void setList(QTreeWidget *list);

    // Removes every row and puts the read cursor back on row 1.
    void clear();

    // Adds a row for the file at fullPath: file name (after the last "/"),
    // folder (up to and including it), type text (after the last "." of the
    // whole path, upper-cased; of "x.zip.001" the one before the number) and
    // size text, each in the column of its key. A later file of a set whose
    // first lies beside it stands for that first (firstVolumeOf).
    // A name or folder that is not UTF-8 is shown as readablePath gives it;
    // search and getItem still see the path as given.
    // Returns added, alreadyListed when search finds the name and folder
    // (nothing changes, the file is not looked at), or notAdded.
    int addFile(const QString &fullPath);

    // True when a row's text equals name and its second column equals folder,
    // both exactly. Always agrees with a row-by-row reading of the list, also
    // after rows were changed directly through the list view.
    bool search(const QString &name, const QString &folder) const;

    // The full path of a row: the row at the read cursor (which then moves on)
    // when index is negative or past the last row, else the row at the
    // zero-based index (the cursor stays). Returns an empty string, and puts
    // the cursor back on row 1, when the cursor has passed the last row.
    QString getItem(int index);

    int getCount() const;

    // The encoding chosen for the file names of the archive in the row at the
    // zero-based index ("" for the automatic reading, for a row that does not
    // exist, and in a list without the encoding column).
    QString encoding(int index) const;
    // Chooses it ("" for automatic); it shows in the encoding column. Does
    // nothing for a row that does not exist or a list without that column.
    void setEncoding(int index, const QString &encoding);

    // Puts the read cursor back on row 1.
    void setIndex();

    // "<length / 1000, rounded half to even>KB" for a file length in bytes.
    static QString sizeText(qint64 length);

private:
    using RowKey = std::pair<QString, QString>; // row text, second column

    void watchList();
    void invalidateIndex() const { m_indexValid = false; }
    void countRows(int first, int last, int delta) const;
    void rebuildIndex() const;
    RowKey rowKey(int row) const;
    // A cell's text as it leads to the file (see nativeTextRole).
    static QString pathText(const QModelIndex &cell);

    QPointer<QTreeWidget> m_list;
    int m_index = 1;

    // How many rows hold each (name, second column) pair, so that adding many
    // files one by one does not compare every row each time. Kept in step with
    // the list view's model signals; when a change cannot be followed exactly
    // the index is dropped and rebuilt from the rows on the next search.
    mutable QHash<RowKey, int> m_rowCounts;
    mutable bool m_indexValid = false;
    // Receiver of the list view's signals; replacing it disconnects them.
    std::unique_ptr<QObject> m_watcher;
};
