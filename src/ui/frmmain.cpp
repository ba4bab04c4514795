// The main window.
#include "frmmain.h"

#include "archivesinfolder.h"
#include "searchfiles.h"
#include "clsarchive.h"
#include "clsfolderblowserdialog.h"
#include "clslistctrl.h"
#include "frmaddfolder.h"
#include "archiveresult.h"
#include "frmextract.h"
#include "frmversion.h"
#include "globals.h"
#include "lastfolder.h"
#include "listcolumns.h"
#include "manual.h"
#include "module1.h"
#include "nameencoding.h"
#include "nativepath.h"
#include "pathtext.h"
#include "startup.h"
#include "userdialogs.h"

#include <QAction>
#include <QActionGroup>
#include <QCloseEvent>
#include <QCoreApplication>
#include <QDragEnterEvent>
#include <QDropEvent>
#include <QFileInfo>
#include <QFocusEvent>
#include <QHeaderView>
#include <QKeyEvent>
#include <QLabel>
#include <QMenu>
#include <QMenuBar>
#include <QMimeData>
#include <QStatusBar>
#include <QToolBar>
#include <QTreeWidget>
#include <QUrl>

namespace {

// What the user reads.
const QString caption = QStringLiteral("Tenvo");
QString fileMenuCaption() { return QCoreApplication::translate("frmMain", " ファイル(&F) "); }
QString newListCaption() { return QCoreApplication::translate("frmMain", " リストを新規作成(&N) "); }
QString addListCaption() { return QCoreApplication::translate("frmMain", " 書庫ファイルを追加(&A) "); }
QString folderListCaption() { return QCoreApplication::translate("frmMain", " 書庫ファイルをフォルダから追加(&F) "); }
QString deleteListCaption() { return QCoreApplication::translate("frmMain", " リストから削除(&D) "); }
QString endCaption() { return QCoreApplication::translate("frmMain", " 終了(&E) "); }
QString ctrlMenuCaption() { return QCoreApplication::translate("frmMain", " 操作(&C) "); }
QString extractCaption() { return QCoreApplication::translate("frmMain", " 解凍(&E) "); }
QString helpMenuCaption() { return QCoreApplication::translate("frmMain", " ヘルプ(&H) "); }
QString helpViewCaption() { return QCoreApplication::translate("frmMain", " ヘルプ(&H)"); }
QString versionCaption() { return QCoreApplication::translate("frmMain", " バージョン情報(&V) "); }
QString debugMenuCaption() { return QCoreApplication::translate("frmMain", "デバッグ(&D)"); }
QString listupTypeCaption() { return QCoreApplication::translate("frmMain", "対応形式表示"); }
QString debugsCaption() { return QCoreApplication::translate("frmMain", "汎用デバッグ"); }
QString encodingMenuCaption() { return QCoreApplication::translate("frmMain", "ファイル名の文字コード"); }
QString automaticEncodingCaption() { return QCoreApplication::translate("frmMain", "自動"); }

QString newButtonCaption() { return QCoreApplication::translate("frmMain", "新規リスト"); }
QString addFileButtonCaption() { return QCoreApplication::translate("frmMain", "追加"); }
QString addFolderButtonCaption() { return QCoreApplication::translate("frmMain", "フォルダから追加"); }
QString deleteButtonCaption() { return QCoreApplication::translate("frmMain", "リストから削除"); }
QString extractButtonCaption() { return QCoreApplication::translate("frmMain", "解凍"); }
QString helpButtonCaption() { return QCoreApplication::translate("frmMain", "ヘルプ"); }
QString exitButtonCaption() { return QCoreApplication::translate("frmMain", "終了"); }

QString notSupportedText() { return QCoreApplication::translate("frmMain", "このファイルは対応していません"); }
QString alreadyListedText() { return QCoreApplication::translate("frmMain", "既にリストに登録されています"); }
QString archiveFolderDescription() { return QCoreApplication::translate("clsFolderBlowserDialog", "書庫ファイルのあるフォルダを指定してください"); }
QString destinationDescription() { return QCoreApplication::translate("clsFolderBlowserDialog", "解凍先のフォルダを指定してください"); }
QString notAddedHeading() { return QCoreApplication::translate("frmMain", "次のファイルは追加できませんでした"); }
QString noArchivesText() { return QCoreApplication::translate("frmMain", "書庫ファイルが見つかりません"); }
QString unreadableText() { return QCoreApplication::translate("frmMain", "ファイルを読み込めません"); }
QString notAddedMore() { return QCoreApplication::translate("frmMain", "ほか %1 件"); }
const QString trueText = QStringLiteral("True");
const QString falseText = QStringLiteral("False");

// ImageList1: the toolbar's five images, from the desktop's theme when it
// has them.
QList<QIcon> imageList()
{
    const struct {
        const char *theme;
        const char *own;
    } images[] = {
        {"document-new", ":/tenvo/icons/new.png"},
        {"list-add", ":/tenvo/icons/add.png"},
        {"list-remove", ":/tenvo/icons/delete.png"},
        {"archive-extract", ":/tenvo/icons/extract.png"},
        {"help-contents", ":/tenvo/icons/help.png"},
    };
    QList<QIcon> icons;
    for (const auto &image : images)
        icons.append(QIcon::fromTheme(QString::fromLatin1(image.theme),
                                      QIcon(QString::fromLatin1(image.own))));
    return icons;
}

// A message box grows with its text; past this many items the rest are only
// counted, so the box still fits on the screen.
constexpr int notAddedLimit = 20;

// The local files and folders a drag carries.
QStringList droppedPaths(const QMimeData *data)
{
    QStringList paths;
    if (!data || !data->hasUrls())
        return paths;
    for (const QUrl &url : data->urls()) {
        if (url.isLocalFile())
            paths << pathFromUrl(url);
    }
    return paths;
}

QAction *namedAction(QMenu *menu, const QString &text, const char *name)
{
    QAction *action = menu->addAction(text);
    action->setObjectName(QString::fromLatin1(name));
    return action;
}

QAction *namedSeparator(QMenu *menu, const char *name)
{
    QAction *action = menu->addSeparator();
    action->setObjectName(QString::fromLatin1(name));
    return action;
}

} // namespace

QString CommonDialog::ShowOpen(QWidget *owner) const
{
    const QString file = userDialogs().openFile(owner, Filter, lastFolder(FolderPurpose::AddFile));
    if (!file.isEmpty())
        rememberFolder(FolderPurpose::AddFile, QFileInfo(file).absolutePath());
    return file;
}

frmMain::frmMain(QWidget *parent)
    : QMainWindow(parent)
    , m_imageList(imageList())
{
    setObjectName(QStringLiteral("frmMain"));
    setWindowTitle(caption);
    setWindowIcon(programIcon());
    // The toolbar is part of the window, not something to hide.
    setContextMenuPolicy(Qt::PreventContextMenu);

    mFile = menuBar()->addMenu(fileMenuCaption());
    mFile->setObjectName(QStringLiteral("mFile"));
    mNewList = namedAction(mFile, newListCaption(), "mNewList");
    mNewList->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_N));
    mspltr = namedSeparator(mFile, "mspltr");
    mAddList = namedAction(mFile, addListCaption(), "mAddList");
    mFolderList = namedAction(mFile, folderListCaption(), "mFolderList");
    mDeleteList = namedAction(mFile, deleteListCaption(), "mDeleteList");
    msplter = namedSeparator(mFile, "msplter");
    mEnd = namedAction(mFile, endCaption(), "mEnd");
    mEnd->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_Q));

    mCtrl = menuBar()->addMenu(ctrlMenuCaption());
    mCtrl->setObjectName(QStringLiteral("mCtrl"));
    mExtract = namedAction(mCtrl, extractCaption(), "mExtract");

    mHelp = menuBar()->addMenu(helpMenuCaption());
    mHelp->setObjectName(QStringLiteral("mHelp"));
    mHelpView = namedAction(mHelp, helpViewCaption(), "mHelpView");
    mHelpView->setShortcut(QKeySequence::HelpContents);
    mspltr2 = namedSeparator(mHelp, "mspltr2");
    mVersion = namedAction(mHelp, versionCaption(), "mVersion");

    // Diagnostics, never shown in a normal run.
    mDebug = menuBar()->addMenu(debugMenuCaption());
    mDebug->setObjectName(QStringLiteral("mDebug"));
    mDebug->menuAction()->setVisible(false);
    mListupType = namedAction(mDebug, listupTypeCaption(), "mListupType");
    mDebugs = namedAction(mDebug, debugsCaption(), "mDebugs");

    connect(mNewList, &QAction::triggered, this, &frmMain::mNewList_Click);
    connect(mAddList, &QAction::triggered, this, &frmMain::mAddList_Click);
    connect(mFolderList, &QAction::triggered, this, &frmMain::mFolderList_Click);
    connect(mDeleteList, &QAction::triggered, this, &frmMain::mDeleteList_Click);
    connect(mEnd, &QAction::triggered, this, &frmMain::mEnd_Click);
    connect(mExtract, &QAction::triggered, this, &frmMain::mExtract_Click);
    connect(mHelpView, &QAction::triggered, this, &frmMain::mHelpView_Click);
    connect(mVersion, &QAction::triggered, this, &frmMain::mVersion_Click);
    connect(mListupType, &QAction::triggered, this, &frmMain::mListupType_Click);
    connect(mDebugs, &QAction::triggered, this, &frmMain::mDebugs_Click);

    toolMenu = new QToolBar(this);
    toolMenu->setObjectName(QStringLiteral("toolMenu"));
    toolMenu->setMovable(false);
    toolMenu->setFloatable(false);
    toolMenu->setToolButtonStyle(Qt::ToolButtonTextUnderIcon);
    toolMenu->setIconSize(QSize(16, 16));
    addToolBar(Qt::TopToolBarArea, toolMenu);
    const auto button = [this](int image, const QString &text, const char *key) {
        QAction *action = image > 0 ? toolMenu->addAction(m_imageList.at(image - 1), text)
                                    : toolMenu->addAction(text);
        action->setObjectName(QString::fromLatin1(key));
        QWidget *widget = toolMenu->widgetForAction(action);
        // Narrower than the design's 84 pixels: Japanese captions set in
        // this desktop's fonts are wider, and all ten positions must still
        // fit the design width.
        widget->setMinimumWidth(72);
        // The list is the only control that takes the keyboard focus.
        widget->setFocusPolicy(Qt::NoFocus);
        return action;
    };
    // Delete and Extract are addressed by position (5 and 7), so this order,
    // separators included, is fixed.
    keyNew = button(1, newButtonCaption(), "keyNew");
    toolMenu->addSeparator();
    keyAddFile = button(2, addFileButtonCaption(), "keyAddFile");
    keyAddFolder = button(2, addFolderButtonCaption(), "keyAddFolder");
    keyDelete = button(3, deleteButtonCaption(), "keyDelete");
    toolMenu->addSeparator();
    keyExtract = button(4, extractButtonCaption(), "keyExtract");
    toolMenu->addSeparator();
    keyHelp = button(5, helpButtonCaption(), "keyHelp");
    keyExit = button(0, exitButtonCaption(), "keyExit");
    connect(toolMenu, &QToolBar::actionTriggered, this, &frmMain::toolMenu_ButtonClick);

    status = new QStatusBar(this);
    status->setObjectName(QStringLiteral("status"));
    announce = new QLabel(status);
    announce->setObjectName(QStringLiteral("announce"));
    status->addWidget(announce, 1);
    setStatusBar(status);

    // The list is placed by the resize rule, not by a layout.
    auto *client = new QWidget(this);
    client->setObjectName(QStringLiteral("client"));
    setCentralWidget(client);
    list = new QTreeWidget(client);
    list->setObjectName(QStringLiteral("list"));
    list->setGeometry(0, 3, 617, 449);
    setupArchiveListColumns(list, ArchiveListLayout::MainWindow);
    list->setSelectionMode(QAbstractItemView::SingleSelection);
    list->setEditTriggers(QAbstractItemView::NoEditTriggers);
    list->setUniformRowHeights(true);
    list->setFocusPolicy(Qt::StrongFocus);
    list->header()->setSectionsClickable(true);
    list->header()->setSortIndicatorShown(false);
    list->header()->setFocusPolicy(Qt::NoFocus);
    connect(list->header(), &QHeaderView::sectionClicked, this, &frmMain::list_ColumnClick);
    list->setContextMenuPolicy(Qt::CustomContextMenu);
    connect(list, &QWidget::customContextMenuRequested, this, &frmMain::list_ContextMenu);
    mListMenu = new QMenu(this);
    mListMenu->setObjectName(QStringLiteral("mListMenu"));
    mEncoding = mListMenu->addMenu(encodingMenuCaption());
    mEncoding->setObjectName(QStringLiteral("mEncoding"));
    auto *encodings = new QActionGroup(mEncoding);
    for (const QString &encoding : QStringList{QString()} + nameEncodingChoices()) {
        QAction *action = mEncoding->addAction(encoding.isEmpty() ? automaticEncodingCaption() : encoding);
        action->setData(encoding);
        action->setCheckable(true);
        encodings->addAction(action);
        connect(action, &QAction::triggered, this, [this, encoding] { setSelectedEncoding(encoding); });
    }
    list->installEventFilter(this);
    connect(list->model(), &QAbstractItemModel::rowsInserted, this,
            [this](const QModelIndex &parent) {
                if (!parent.isValid())
                    selectFirstRowIfNone();
            });
    list->setFocus();

    // Files and folders dropped on the list (or anywhere on the window) join it.
    setAcceptDrops(true);

    // The bars settle their heights only once styled and shown; the list
    // follows them as it follows the window.
    toolMenu->installEventFilter(this);
    status->installEventFilter(this);
    menuBar()->installEventFilter(this);

    resize(designSize.width(), designSize.height() + menuBar()->sizeHint().height());
}

frmMain::~frmMain() = default;

std::optional<QRect> frmMain::listPlacement(QSize inner, int toolBarHeight, int statusHeight)
{
    // The list starts 3 pixels under the toolbar and ends 1 pixel above the
    // status bar.
    const int reserved = toolBarHeight + 3 + statusHeight + 1;
    if (inner.width() <= 2 || inner.height() <= reserved)
        return std::nullopt;
    return QRect(0, toolBarHeight + 3, inner.width() - 2, inner.height() - reserved);
}

QSize frmMain::innerSize() const
{
    const QWidget *menu = menuWidget();
    const int top = menu && menu->isVisible() ? menu->geometry().bottom() + 1 : 0;
    return QSize(width(), height() - top);
}

void frmMain::Form_Resize()
{
    const QSize inner = innerSize();
    const int statusHeight = status->isVisible() ? status->height() : 0;
    const std::optional<QRect> placement = listPlacement(inner, toolMenu->height(), statusHeight);
    if (!placement)
        return;
    const int innerTop = height() - inner.height();
    const QPoint topLeft = centralWidget()->mapFrom(this, placement->topLeft() + QPoint(0, innerTop));
    list->setGeometry(QRect(topLeft, placement->size()));
}

void frmMain::resizeEvent(QResizeEvent *event)
{
    QMainWindow::resizeEvent(event);
    Form_Resize();
}

void frmMain::closeEvent(QCloseEvent *event)
{
    // Form_Unload: never cancelled.
    event->accept();
    if (!m_unloaded) {
        m_unloaded = true;
        endApplication();
    }
}

bool frmMain::eventFilter(QObject *watched, QEvent *event)
{
    if ((watched == toolMenu || watched == status || watched == menuWidget())
        && (event->type() == QEvent::Resize || event->type() == QEvent::Show || event->type() == QEvent::Hide)) {
        Form_Resize();
    } else if (watched == list) {
        if (event->type() == QEvent::FocusIn) {
            // list_GotFocus. A closing menu hands the focus back without
            // the list ever having lost it to another control, so menu
            // commands leave the command state as it was.
            const Qt::FocusReason reason = static_cast<QFocusEvent *>(event)->reason();
            if (reason != Qt::PopupFocusReason && reason != Qt::MenuBarFocusReason)
                updateButtons();
        } else if (event->type() == QEvent::KeyPress) {
            // list_KeyDown: the Delete key, whatever the modifiers.
            const auto *key = static_cast<QKeyEvent *>(event);
            if (key->key() == Qt::Key_Delete && list->topLevelItemCount() > 0) {
                deleteSelected();
                updateButtons();
                return true;
            }
        }
    }
    return QMainWindow::eventFilter(watched, event);
}

void frmMain::dragEnterEvent(QDragEnterEvent *event)
{
    if (!droppedPaths(event->mimeData()).isEmpty())
        event->acceptProposedAction();
}

void frmMain::dragMoveEvent(QDragMoveEvent *event)
{
    if (!droppedPaths(event->mimeData()).isEmpty())
        event->acceptProposedAction();
}

void frmMain::dropEvent(QDropEvent *event)
{
    const QStringList paths = droppedPaths(event->mimeData());
    if (paths.isEmpty())
        return;
    event->acceptProposedAction();
    addPaths(paths);
}

void frmMain::addPaths(const QStringList &paths)
{
    if (!gArchive || !gListCtrl)
        return;
    QList<SupportType> types;
    gArchive->getSupportTypes(types);
    QStringList refused;
    const auto refuse = [&refused](const QString &path, const QString &cause) {
        refused << displayPath(path) + u'\n' + indentText() + cause;
    };
    for (const QString &path : paths) {
        if (isFolderAt(path)) {
            const QStringList archives = archivesInFolder(path, types);
            if (archives.isEmpty())
                refuse(path, noArchivesText());
            for (const QString &archive : archives)
                gListCtrl->addFile(archive);
            continue;
        }
        // A later part of a set stands for its first; parts dropped together
        // list the set once, without a word.
        const QString first = firstVolumeOf(path);
        if (gArchive->isSupportFile(first) < 0) {
            refuse(path, notSupportedText());
            continue;
        }
        const int added = gListCtrl->addFile(first);
        if (added == clsListCtrl::alreadyListed) {
            if (first == path)
                refuse(path, alreadyListedText());
        } else if (added != clsListCtrl::added)
            refuse(path, unreadableText());
    }
    if (!refused.isEmpty()) {
        QString text = notAddedHeading() + u'\n';
        const qsizetype shown = qMin<qsizetype>(refused.size(), notAddedLimit);
        for (qsizetype i = 0; i < shown; ++i)
            text += u'\n' + refused[i];
        if (refused.size() > shown)
            text += QStringLiteral("\n\n") + notAddedMore().arg(refused.size() - shown);
        userDialogs().exclamation(this, text);
    }
    updateButtons();
}

void frmMain::list_ColumnClick(int column)
{
    m_sortKey = column;
    m_sortOrder = m_sortOrder == Qt::DescendingOrder ? Qt::AscendingOrder : Qt::DescendingOrder;
    m_sorted = true;
    QHeaderView *header = list->header();
    header->setSortIndicatorShown(true);
    header->setSortIndicator(m_sortKey, m_sortOrder);
    // From now on rows join the list at their sorted place.
    if (!list->isSortingEnabled())
        list->setSortingEnabled(true);
    list->sortItems(m_sortKey, m_sortOrder);
}

void frmMain::toolMenu_ButtonClick(QAction *button)
{
    const QString key = button->objectName();
    if (key == u"keyNew")
        newList();
    else if (key == u"keyAddFile")
        addFileFromDialog();
    else if (key == u"keyAddFolder")
        addFromFolder();
    else if (key == u"keyDelete")
        deleteSelected();
    else if (key == u"keyExtract")
        startExtract();
    else if (key == u"keyHelp")
        mHelpView_Click();
    else if (key == u"keyExit") {
        close();
        return;
    }
    updateButtons();
}

void frmMain::mNewList_Click() { newList(); }
void frmMain::mAddList_Click() { addFileFromDialog(); }
void frmMain::mFolderList_Click() { addFromFolder(); }
void frmMain::mDeleteList_Click() { deleteSelected(); }
void frmMain::mExtract_Click() { startExtract(); }
void frmMain::mEnd_Click() { close(); }

void frmMain::mHelpView_Click() { openManual(this, getAppPath()); }

void frmMain::mVersion_Click()
{
    frmVersion about(this);
    about.exec();
}

void frmMain::mListupType_Click()
{
    if (gArchive)
        gArchive->supportType_Listup();
}

void frmMain::mDebugs_Click()
{
    if (!gListCtrl || !gArchive)
        return;
    const bool accepted = gArchive->checkArchive(gListCtrl->getItem(0));
    userDialogs().plainMessage(this, accepted ? trueText : falseText);
}

QTreeWidgetItem *frmMain::selectedItem() const
{
    const QList<QTreeWidgetItem *> selected = list->selectedItems();
    return selected.isEmpty() ? nullptr : selected.first();
}

void frmMain::list_ContextMenu(const QPoint &pos)
{
    QTreeWidgetItem *item = selectedItem();
    if (!item || !gListCtrl)
        return;
    const QString current = gListCtrl->encoding(list->indexOfTopLevelItem(item));
    for (QAction *action : mEncoding->actions())
        action->setChecked(action->data().toString() == current);
    mListMenu->popup(list->viewport()->mapToGlobal(pos));
}

void frmMain::setSelectedEncoding(const QString &encoding)
{
    if (!gListCtrl)
        return;
    for (QTreeWidgetItem *item : list->selectedItems())
        gListCtrl->setEncoding(list->indexOfTopLevelItem(item), encoding);
}

void frmMain::updateButtons()
{
    const QTreeWidgetItem *item = selectedItem();
    const bool enabled = list->topLevelItemCount() > 0 && item && !item->text(0).isEmpty();
    keyDelete->setEnabled(enabled);
    mDeleteList->setEnabled(enabled);
    keyExtract->setEnabled(enabled);
    mExtract->setEnabled(enabled);
}

void frmMain::addFileFromDialog()
{
    // Any failure while adding a picked file ends the command silently.
    try {
        const QString fileName = cmdlg.ShowOpen(this);
        if (fileName.isEmpty() || !gArchive || !gListCtrl)
            return;
        if (gArchive->isSupportFile(firstVolumeOf(fileName)) < 0) {
            userDialogs().exclamation(this, displayPath(fileName) + QStringLiteral("\n\n") + notSupportedText());
            return;
        }
        if (gListCtrl->addFile(fileName) == clsListCtrl::alreadyListed)
            userDialogs().exclamation(this, displayPath(fileName) + QStringLiteral("\n\n") + alreadyListedText());
    } catch (...) {
    }
}

void frmMain::addFromFolder()
{
    if (!gFolderDialog)
        return;
    gFolderDialog->setDescription(archiveFolderDescription());
    if (!gFolderDialog->ShowDialog(this))
        return;
    frmAddFolder dialog(this);
    QString folder = gFolderDialog->SelectedPath();
    if (!folder.endsWith(u'/'))
        folder += u'/';
    dialog.setFolderPath(folder);
    dialog.exec();
}

void frmMain::startExtract()
{
    if (!gFolderDialog)
        return;
    gFolderDialog->setDescription(destinationDescription());
    if (!gFolderDialog->ShowDialog(this))
        return;
    frmExtract dialog(this);
    dialog.setFolderPath(gFolderDialog->SelectedPath());
    dialog.exec();
}

void frmMain::newList()
{
    list->clear();
}

void frmMain::deleteSelected()
{
    QTreeWidgetItem *item = selectedItem();
    if (!item)
        return;
    const int row = list->indexOfTopLevelItem(item);
    delete list->takeTopLevelItem(row);
    // The next row (or the new last one) becomes the selected row, so the
    // command can be repeated.
    const int count = list->topLevelItemCount();
    if (count > 0)
        list->setCurrentItem(list->topLevelItem(qMin(row, count - 1)));
}

void frmMain::selectFirstRowIfNone()
{
    // As soon as the list has rows one of them is the selected row.
    if (list->selectedItems().isEmpty() && list->topLevelItemCount() > 0)
        list->setCurrentItem(list->topLevelItem(0));
}
