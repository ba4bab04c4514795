// The results window: how each archive of a run ended, to read, copy and act on.
#pragma once

#include "archiveresult.h"

#include <QDialog>
#include <QList>
#include <QStringList>

class QAction;
class QPushButton;
class QTreeWidget;

// One row per archive, in list order until the user sorts by a column:
// the archive, its result, why (or what was noted on the way) and the
// folder it went to. Rows are copied as tab-separated lines. The window
// never touches the archive list: the archives the user wants to try again
// are handed out by archivesToRetry().
class frmResults : public QDialog
{
    Q_OBJECT

public:
    // destination: the run's folder, opened by cmdOpenFolder.
    frmResults(const QList<ArchiveResult> &results, const QString &destination, QWidget *parent = nullptr);

    // True when a run with these results has something the user must see:
    // a failure, a file kept or renamed, a shortened name, an inner archive
    // left as it was.
    static bool worthShowing(const QList<ArchiveResult> &results);

    // The selected rows as the view shows them, in its order, one line each
    // with its cells joined by tabs; every line ends in a line break.
    QString selectedText() const;
    // Puts selectedText() on the clipboard (Ctrl+C and the context menu).
    void copyRows();
    // Opens the run's folder in the desktop's file manager.
    void cmdOpenFolder_Click();
    // Hands the failed archives back (archivesToRetry) and closes.
    void cmdRetry_Click();
    void cmdClose_Click();

    // The failed archives, in list order, once cmdRetry was pressed;
    // empty otherwise.
    QStringList archivesToRetry() const { return m_retry; }

    QTreeWidget *list = nullptr;
    QPushButton *cmdOpenFolder = nullptr;
    QPushButton *cmdRetry = nullptr;
    QPushButton *cmdClose = nullptr;
    QAction *mCopy = nullptr;

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    QStringList m_failed;
    QStringList m_retry;
    QString m_destination;
};
