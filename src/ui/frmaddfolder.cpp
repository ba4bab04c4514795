// The add-from-folder dialog.
#include "frmaddfolder.h"

#include "archivesinfolder.h"
#include "clsarchive.h"
#include "clslistctrl.h"
#include "folderbox.h"
#include "globals.h"
#include "listcolumns.h"
#include "pathtext.h"
#include "userdialogs.h"

#include <QAction>
#include <QCoreApplication>
#include <QFrame>
#include <QGuiApplication>
#include <QLabel>
#include <QMenu>
#include <QMouseEvent>
#include <QPushButton>
#include <QTreeWidget>

namespace {

// What the user reads.
QString caption() { return QCoreApplication::translate("frmAddFolder", " 書庫ファイルをフォルダから追加"); }
QString folderLabel() { return QCoreApplication::translate("frmAddFolder", "フォルダ名"); }
QString listLabel() { return QCoreApplication::translate("frmAddFolder", "対応書庫ファイル一覧"); }
QString refreshCaption() { return QCoreApplication::translate("frmAddFolder", "最新の情報に更新(&R)"); }
QString addCaption() { return QCoreApplication::translate("frmAddFolder", "追加(&A)"); }
QString cancelCaption() { return QCoreApplication::translate("frmAddFolder", "キャンセル(&C)"); }
const QString popupCaption = QStringLiteral("_");
QString checkAllCaption() { return QCoreApplication::translate("frmAddFolder", "すべて選択"); }
QString checkOffCaption() { return QCoreApplication::translate("frmAddFolder", "すべての選択を解除"); }
QString pickerDescription() { return QCoreApplication::translate("clsFolderBlowserDialog", "書庫ファイルのあるフォルダを指定してください"); }

// A row keeps the full path of its archive: an archive found in a matching
// sub-folder does not lie in the chosen folder itself.
constexpr int pathRole = Qt::UserRole;

// A scan that may walk many folders keeps the busy cursor up while it runs.
class BusyCursor
{
public:
    BusyCursor() { QGuiApplication::setOverrideCursor(Qt::WaitCursor); }
    ~BusyCursor() { QGuiApplication::restoreOverrideCursor(); }
    BusyCursor(const BusyCursor &) = delete;
    BusyCursor &operator=(const BusyCursor &) = delete;
};

} // namespace

frmAddFolder::frmAddFolder(QWidget *parent)
    : QDialog(parent)
    , m_listCtrl(std::make_unique<clsListCtrl>())
{
    setObjectName(QStringLiteral("frmAddFolder"));
    setWindowTitle(caption());
    setFixedSize(415, 474);

    Label1 = new QLabel(folderLabel(), this);
    Label1->setObjectName(QStringLiteral("Label1"));
    placeLabel(Label1, 8, 8, 55, 12);

    const FolderBox folderBox = createFolderBox(this);
    Picture1 = folderBox.frame;
    lblFolderPath = folderBox.pathLabel;
    cmdOpenDlg = folderBox.button;
    cmdOpenDlg->setAutoDefault(false);
    connect(cmdOpenDlg, &QPushButton::clicked, this, &frmAddFolder::cmdOpenDlg_Click);

    Label2 = new QLabel(listLabel(), this);
    Label2->setObjectName(QStringLiteral("Label2"));
    placeLabel(Label2, 8, 64, 113, 12);

    list = new QTreeWidget(this);
    list->setObjectName(QStringLiteral("list"));
    list->setGeometry(8, 80, 401, 337);
    setupArchiveListColumns(list, ArchiveListLayout::AddFolderDialog);
    list->setSelectionMode(QAbstractItemView::SingleSelection);
    list->setEditTriggers(QAbstractItemView::NoEditTriggers);
    list->setUniformRowHeights(true);
    list->viewport()->installEventFilter(this);

    Command4 = new QPushButton(refreshCaption(), this);
    Command4->setObjectName(QStringLiteral("Command4"));
    Command4->setGeometry(8, 432, 161, 25);
    Command4->setAutoDefault(false);
    connect(Command4, &QPushButton::clicked, this, &frmAddFolder::Command4_Click);

    Line1 = new QFrame(this);
    Line1->setObjectName(QStringLiteral("Line1"));
    Line1->setGeometry(184, 424, 1, 40);
    Line1->setFrameShape(QFrame::NoFrame);
    Line1->setAutoFillBackground(true);
    QPalette grey = Line1->palette();
    grey.setColor(QPalette::Window, QColor(128, 128, 128));
    Line1->setPalette(grey);

    Command1 = new QPushButton(addCaption(), this);
    Command1->setObjectName(QStringLiteral("Command1"));
    Command1->setGeometry(200, 432, 97, 25);
    Command1->setDefault(true);
    connect(Command1, &QPushButton::clicked, this, &frmAddFolder::Command1_Click);

    Command2 = new QPushButton(cancelCaption(), this);
    Command2->setObjectName(QStringLiteral("Command2"));
    Command2->setGeometry(304, 432, 97, 25);
    Command2->setAutoDefault(false);
    connect(Command2, &QPushButton::clicked, this, &frmAddFolder::Command2_Click);

    // Never part of the window; the list's pop-up menu only.
    mPopup = new QMenu(popupCaption, this);
    mPopup->setObjectName(QStringLiteral("mPopup"));
    mCheckAll = mPopup->addAction(checkAllCaption());
    mCheckAll->setObjectName(QStringLiteral("mCheckAll"));
    connect(mCheckAll, &QAction::triggered, this, &frmAddFolder::mCheckAll_Click);
    mCheckOff = mPopup->addAction(checkOffCaption());
    mCheckOff->setObjectName(QStringLiteral("mCheckOff"));
    connect(mCheckOff, &QAction::triggered, this, &frmAddFolder::mCheckOff_Click);

    setTabOrder(list, Command1);
    setTabOrder(Command1, Command2);
    setTabOrder(Command2, cmdOpenDlg);
    setTabOrder(cmdOpenDlg, Command4);
    list->setFocus();

    m_listCtrl->setList(list);
}

frmAddFolder::~frmAddFolder() = default;

void frmAddFolder::setFolderPath(const QString &path)
{
    m_folderPath = path;
    showFolderPath(lblFolderPath, path);
}

QString frmAddFolder::rowPath(const QTreeWidgetItem *row)
{
    return row->data(0, pathRole).toString();
}

void frmAddFolder::refreshList()
{
    const BusyCursor busy;
    m_listCtrl->clear();
    if (!gArchive)
        return;
    QList<SupportType> types;
    gArchive->getSupportTypes(types);
    for (const QString &path : archivesInFolder(m_folderPath, types)) {
        if (m_listCtrl->addFile(path) != clsListCtrl::added)
            continue;
        QTreeWidgetItem *row = list->topLevelItem(list->topLevelItemCount() - 1);
        row->setData(0, pathRole, path);
        row->setToolTip(0, displayPath(path));
        row->setCheckState(0, Qt::Unchecked);
    }
}

void frmAddFolder::cmdOpenDlg_Click()
{
    QString path;
    if (!pickFolder(this, pickerDescription(), path))
        return;
    setFolderPath(path);
    refreshList();
}

void frmAddFolder::Command1_Click()
{
    if (gListCtrl) {
        for (int i = 0; i < list->topLevelItemCount(); ++i) {
            const QTreeWidgetItem *row = list->topLevelItem(i);
            if (row->checkState(0) == Qt::Checked)
                gListCtrl->addFile(rowPath(row));
        }
    }
    accept();
}

void frmAddFolder::Command2_Click()
{
    reject();
}

void frmAddFolder::Command4_Click()
{
    refreshList();
}

void frmAddFolder::list_MouseDown(Qt::MouseButton button, const QPoint &globalPos)
{
    if (button != Qt::RightButton)
        return;
    const bool hasRows = list->topLevelItemCount() > 0;
    mCheckAll->setEnabled(hasRows);
    mCheckOff->setEnabled(hasRows);
    mPopup->popup(globalPos);
}

void frmAddFolder::mCheckAll_Click()
{
    setAllChecks(Qt::Checked);
}

void frmAddFolder::mCheckOff_Click()
{
    setAllChecks(Qt::Unchecked);
}

void frmAddFolder::setAllChecks(Qt::CheckState state)
{
    for (int i = 0; i < list->topLevelItemCount(); ++i)
        list->topLevelItem(i)->setCheckState(0, state);
}

void frmAddFolder::showEvent(QShowEvent *event)
{
    QDialog::showEvent(event);
    // The list is filled when the dialog first comes up, not on every later
    // activation, so switching to another program and back keeps the ticks.
    if (!m_filled) {
        m_filled = true;
        refreshList();
    }
}

bool frmAddFolder::eventFilter(QObject *watched, QEvent *event)
{
    if (watched == list->viewport() && event->type() == QEvent::MouseButtonPress) {
        const auto *mouse = static_cast<QMouseEvent *>(event);
        list_MouseDown(mouse->button(), mouse->globalPosition().toPoint());
    }
    return QDialog::eventFilter(watched, event);
}
