// The main window: the archive list between toolbar and status bar, and the
// menus and toolbar buttons of every user command.
#pragma once

#include <QIcon>
#include <QList>
#include <QMainWindow>
#include <QRect>

#include <optional>

class QAction;
class QLabel;
class QMenu;
class QStatusBar;
class QToolBar;
class QTreeWidget;
class QTreeWidgetItem;

// The open-file dialog of the main window. Filter holds the description /
// pattern pairs separated by "|", exactly as start-up built them.
class CommonDialog
{
public:
    QString Filter;

    // Lets the user pick one file (through the dialog seam) offering Filter.
    // Returns the chosen file's full path, or "" when the user cancelled.
    QString ShowOpen(QWidget *owner) const;
};

// Creating the window loads it, hidden and without a load handler of its
// own: Main binds gListCtrl to list, sets cmdlg.Filter, places and shows it.
// Closing it by any way runs endApplication.
class frmMain : public QMainWindow
{
    Q_OBJECT

public:
    explicit frmMain(QWidget *parent = nullptr);
    ~frmMain() override;

    // Design size of the window's inner area (below the menu bar).
    static constexpr QSize designSize{619, 507};

    // Where the list goes for an inner area of size inner, given the heights
    // of the toolbar and the status bar: left 0, just under the toolbar, 2
    // pixels narrower than the area and reaching to one pixel above the
    // status bar (58 pixels less than the area at design heights 37 and 17).
    // nullopt when the area is too small to hold it; the list then stays.
    static std::optional<QRect> listPlacement(QSize inner, int toolBarHeight, int statusHeight);

    // Sorts the list by the column at the zero-based position, the order
    // flipping on every click whatever column was clicked before (so the
    // first click sorts descending); the list stays sorted from then on.
    void list_ColumnClick(int column);
    // Runs the command of a toolbar button by its key; every button but
    // keyExit refreshes the command state afterwards.
    void toolMenu_ButtonClick(QAction *button);

    // Menu commands: they run their operation and leave the command state
    // as it was.
    void mNewList_Click();
    void mAddList_Click();
    void mFolderList_Click();
    void mDeleteList_Click();
    void mExtract_Click();
    void mEnd_Click();
    // Opens the manual (also the help button and F1).
    void mHelpView_Click();
    void mVersion_Click();
    void mListupType_Click();
    void mDebugs_Click();

    // Adds what paths name, as dropping them on the window does: a file of a
    // registered type joins the list; a folder adds every archive its scan
    // finds, as the add-from-folder dialog would with every row ticked
    // (those already listed are skipped). Files of no registered type, files
    // already listed or not readable and folders without archives are
    // reported together in one message box; then the command state is
    // refreshed.
    void addPaths(const QStringList &paths);

    // The list's context menu at pos (in the list's viewport), shown
    // without waiting for it, when a row is selected: "ファイル名の文字コード"
    // with 自動 and every name encoding, the selected row's choice checked.
    // A choice applies to every selected row.
    void list_ContextMenu(const QPoint &pos);

    // Enables Delete and Extract (toolbar buttons and menu items) when the
    // list has a selected row with a file name, disables them otherwise.
    void updateButtons();

    // The row the commands act on; nullptr when none is selected.
    QTreeWidgetItem *selectedItem() const;

    int sortKey() const { return m_sortKey; }
    Qt::SortOrder sortOrder() const { return m_sortOrder; }
    bool isSorted() const { return m_sorted; }

    // The inner area: the window below its menu bar.
    QSize innerSize() const;

    QToolBar *toolMenu = nullptr;
    QStatusBar *status = nullptr;
    QLabel *announce = nullptr;
    QTreeWidget *list = nullptr;
    CommonDialog cmdlg;

    QMenu *mFile = nullptr;
    QAction *mNewList = nullptr;
    QAction *mspltr = nullptr;
    QAction *mAddList = nullptr;
    QAction *mFolderList = nullptr;
    QAction *mDeleteList = nullptr;
    QAction *msplter = nullptr;
    QAction *mEnd = nullptr;
    QMenu *mCtrl = nullptr;
    QAction *mExtract = nullptr;
    QMenu *mHelp = nullptr;
    QAction *mHelpView = nullptr;
    QAction *mspltr2 = nullptr;
    QAction *mVersion = nullptr;
    QMenu *mDebug = nullptr;
    QAction *mListupType = nullptr;
    QAction *mDebugs = nullptr;
    // The list's context menu and its submenu of name encodings.
    QMenu *mListMenu = nullptr;
    QMenu *mEncoding = nullptr;

    // The toolbar's buttons, named by their keys.
    QAction *keyNew = nullptr;
    QAction *keyAddFile = nullptr;
    QAction *keyAddFolder = nullptr;
    QAction *keyDelete = nullptr;
    QAction *keyExtract = nullptr;
    QAction *keyHelp = nullptr;
    QAction *keyExit = nullptr;

protected:
    void resizeEvent(QResizeEvent *event) override;
    void closeEvent(QCloseEvent *event) override;
    bool eventFilter(QObject *watched, QEvent *event) override;
    void dragEnterEvent(QDragEnterEvent *event) override;
    void dragMoveEvent(QDragMoveEvent *event) override;
    void dropEvent(QDropEvent *event) override;

private:
    void Form_Resize();
    void addFileFromDialog();
    void addFromFolder();
    void startExtract();
    void newList();
    void deleteSelected();
    void selectFirstRowIfNone();
    void keepSorted();
    void setSelectedEncoding(const QString &encoding);

    QList<QIcon> m_imageList;
    int m_sortKey = 0;
    Qt::SortOrder m_sortOrder = Qt::AscendingOrder;
    bool m_sorted = false;
    bool m_unloaded = false;
};
