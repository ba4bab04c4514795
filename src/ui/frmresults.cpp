// The results window: how each archive of a run ended, to read, copy and act on.
#include "frmresults.h"

#include "pathtext.h"
#include "userdialogs.h"
#include "windowcentre.h"

#include <QAction>
#include <QApplication>
#include <QClipboard>
#include <QCoreApplication>
#include <QDesktopServices>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QHeaderView>
#include <QKeySequence>
#include <QPushButton>
#include <QTreeWidget>
#include <QUrl>
#include <QVBoxLayout>

#include <utility>

namespace {

// What the user reads.
QString caption() { return QCoreApplication::translate("frmResults", "解凍結果"); }
QStringList columnTitles()
{
    return {QCoreApplication::translate("frmResults", "書庫ファイル"), QCoreApplication::translate("frmResults", "結果"),
            QCoreApplication::translate("frmResults", "詳細"), QCoreApplication::translate("frmResults", "解凍先")};
}
QString extractedText() { return QCoreApplication::translate("frmResults", "解凍しました"); }
QString failedText() { return QCoreApplication::translate("frmResults", "解凍できませんでした"); }
QString shortenedNote() { return QCoreApplication::translate("frmResults", "長すぎる名前を短くして解凍しました (%1 個の名前)"); }
QString nestedNote() { return QCoreApplication::translate("frmResults", "中の書庫を解凍しました (%1 個)"); }
QString nestedLeftNote() { return QCoreApplication::translate("frmResults", "中の書庫を解凍できませんでした (%1 個)"); }
QString trashedNote() { return QCoreApplication::translate("frmResults", "書庫ファイルをごみ箱に移しました"); }
QString noteSeparator() { return QCoreApplication::translate("frmResults", "、"); }
QString openFolderCaption() { return QCoreApplication::translate("frmResults", "解凍先を開く"); }
QString retryCaption() { return QCoreApplication::translate("frmResults", "失敗した書庫をリストに戻す"); }
QString closeCaption() { return QCoreApplication::translate("frmResults", "閉じる"); }
QString copyCaption() { return QCoreApplication::translate("frmResults", "コピー"); }
QString selectAllCaption() { return QCoreApplication::translate("frmResults", "すべて選択"); }
QString cannotOpenFolder() { return QCoreApplication::translate("frmResults", "解凍先のフォルダを開けませんでした\n\n%1"); }

enum Column { NameColumn, ResultColumn, DetailColumn, DestinationColumn };

// The cause of a failure, then what else happened on the way; the second
// text lists the names behind the counts, for the tooltip.
std::pair<QString, QString> details(const ArchiveResult &result)
{
    QStringList notes;
    QStringList names;
    if (result.failed())
        notes.append(causeText(result));
    if (!result.shortened.isEmpty()) {
        notes.append(shortenedNote().arg(result.shortened.size()));
        for (const QString &pair : result.shortened)
            names.append(displayPath(pair.section(u'\t', 0, 0)) + QStringLiteral(" → ")
                         + displayPath(pair.section(u'\t', 1)));
    }
    if (result.kept > 0 || result.renamed > 0)
        notes.append(existingFilesText(result));
    if (result.nestedExtracted > 0)
        notes.append(nestedNote().arg(result.nestedExtracted));
    if (!result.nestedLeft.isEmpty()) {
        notes.append(nestedLeftNote().arg(result.nestedLeft.size()));
        for (const QString &pair : result.nestedLeft)
            names.append(displayPath(pair.section(u'\t', 0, 0)) + QStringLiteral(": ") + pair.section(u'\t', 1));
    }
    if (result.trashed)
        notes.append(trashedNote());
    return {notes.join(noteSeparator()), names.join(u'\n')};
}

} // namespace

frmResults::frmResults(const QList<ArchiveResult> &results, const QString &destination, QWidget *parent)
    : QDialog(parent)
    , m_destination(destination)
{
    setObjectName(QStringLiteral("frmResults"));
    setWindowTitle(caption());

    list = new QTreeWidget(this);
    list->setObjectName(QStringLiteral("list"));
    list->setHeaderLabels(columnTitles());
    list->setRootIsDecorated(false);
    list->setUniformRowHeights(true);
    list->setSelectionMode(QAbstractItemView::ExtendedSelection);
    list->setTextElideMode(Qt::ElideMiddle);
    for (const ArchiveResult &result : results) {
        auto *item = new QTreeWidgetItem(list);
        item->setText(NameColumn, displayPath(result.path));
        item->setToolTip(NameColumn, item->text(NameColumn));
        item->setText(ResultColumn, result.failed() ? failedText() : extractedText());
        const auto [detail, names] = details(result);
        item->setText(DetailColumn, detail);
        item->setToolTip(DetailColumn, names.isEmpty() ? detail : detail + u'\n' + names);
        // A failed archive that left nothing went nowhere.
        if (!result.failed() || result.landed > 0) {
            item->setText(DestinationColumn, displayPath(result.destination));
            item->setToolTip(DestinationColumn, item->text(DestinationColumn));
        }
        if (result.failed())
            m_failed.append(result.path);
    }
    for (int column = 0; column < list->columnCount(); ++column) {
        list->resizeColumnToContents(column);
        list->setColumnWidth(column, qMin(list->columnWidth(column), 320));
    }
    // List order until the user clicks a column's header.
    list->header()->setSortIndicator(-1, Qt::AscendingOrder);
    list->setSortingEnabled(true);

    mCopy = new QAction(copyCaption(), list);
    mCopy->setObjectName(QStringLiteral("mCopy"));
    mCopy->setShortcut(QKeySequence::Copy);
    mCopy->setShortcutContext(Qt::WidgetShortcut);
    connect(mCopy, &QAction::triggered, this, &frmResults::copyRows);
    auto *selectAll = new QAction(selectAllCaption(), list);
    selectAll->setObjectName(QStringLiteral("mSelectAll"));
    selectAll->setShortcut(QKeySequence::SelectAll);
    selectAll->setShortcutContext(Qt::WidgetShortcut);
    connect(selectAll, &QAction::triggered, list, &QTreeWidget::selectAll);
    // The view would copy only the cell under the cursor.
    list->installEventFilter(this);
    list->addAction(mCopy);
    list->addAction(selectAll);
    list->setContextMenuPolicy(Qt::ActionsContextMenu);

    cmdOpenFolder = new QPushButton(openFolderCaption(), this);
    cmdOpenFolder->setObjectName(QStringLiteral("cmdOpenFolder"));
    cmdOpenFolder->setAutoDefault(false);
    connect(cmdOpenFolder, &QPushButton::clicked, this, &frmResults::cmdOpenFolder_Click);
    cmdRetry = new QPushButton(retryCaption(), this);
    cmdRetry->setObjectName(QStringLiteral("cmdRetry"));
    cmdRetry->setAutoDefault(false);
    cmdRetry->setEnabled(!m_failed.isEmpty());
    connect(cmdRetry, &QPushButton::clicked, this, &frmResults::cmdRetry_Click);
    cmdClose = new QPushButton(closeCaption(), this);
    cmdClose->setObjectName(QStringLiteral("cmdClose"));
    cmdClose->setDefault(true);
    connect(cmdClose, &QPushButton::clicked, this, &frmResults::cmdClose_Click);

    auto *buttons = new QHBoxLayout;
    buttons->addWidget(cmdOpenFolder);
    buttons->addWidget(cmdRetry);
    buttons->addStretch();
    buttons->addWidget(cmdClose);
    auto *layout = new QVBoxLayout(this);
    layout->addWidget(list);
    layout->addLayout(buttons);

    // Wide enough for the columns as filled, within reason.
    resize(qBound(640, list->header()->length() + 2 * list->frameWidth() + 40, 1000), 320);
    list->setFocus();
    if (list->topLevelItemCount() > 0)
        list->setCurrentItem(list->topLevelItem(0), 0, QItemSelectionModel::NoUpdate);
    centreOnScreen(this);
}

bool frmResults::worthShowing(const QList<ArchiveResult> &results)
{
    for (const ArchiveResult &result : results) {
        if (result.failed() || result.kept > 0 || result.renamed > 0 || !result.shortened.isEmpty()
            || !result.nestedLeft.isEmpty() || result.trashFailed)
            return true;
    }
    return false;
}

bool frmResults::eventFilter(QObject *watched, QEvent *event)
{
    if (watched == list && (event->type() == QEvent::KeyPress || event->type() == QEvent::ShortcutOverride)
        && static_cast<QKeyEvent *>(event)->matches(QKeySequence::Copy)) {
        if (event->type() == QEvent::KeyPress)
            copyRows();
        event->accept();
        return true;
    }
    return QDialog::eventFilter(watched, event);
}

QString frmResults::selectedText() const
{
    QString text;
    for (int row = 0; row < list->topLevelItemCount(); ++row) {
        const QTreeWidgetItem *item = list->topLevelItem(row);
        if (!item->isSelected())
            continue;
        QStringList cells;
        for (int column = 0; column < list->columnCount(); ++column)
            cells.append(item->text(column));
        text += cells.join(u'\t') + u'\n';
    }
    return text;
}

void frmResults::copyRows()
{
    const QString text = selectedText();
    if (!text.isEmpty())
        QApplication::clipboard()->setText(text);
}

void frmResults::cmdOpenFolder_Click()
{
    if (!QDesktopServices::openUrl(QUrl::fromLocalFile(m_destination)))
        userDialogs().exclamation(this, cannotOpenFolder().arg(displayPath(m_destination)));
}

void frmResults::cmdRetry_Click()
{
    m_retry = m_failed;
    accept();
}

void frmResults::cmdClose_Click()
{
    reject();
}
