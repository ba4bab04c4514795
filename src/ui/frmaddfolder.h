// The add-from-folder dialog: lists the archives found in a folder, with a
// check box each, and adds the ticked ones to the main archive list.
#pragma once

#include <QDialog>

#include <memory>

class clsListCtrl;
class QAction;
class QFrame;
class QLabel;
class QMenu;
class QPushButton;
class QTreeWidget;

// Creating the dialog loads it: it gets its own list model over its list,
// which stays empty until the dialog is first shown. The folder is set with
// setFolderPath before showing. The dialog shows no message of its own.
class frmAddFolder : public QDialog
{
    Q_OBJECT

public:
    explicit frmAddFolder(QWidget *parent = nullptr);
    ~frmAddFolder() override;

    // The folder to scan, used exactly as given (callers give it a trailing
    // "/"); lblFolderPath shows it.
    void setFolderPath(const QString &path);
    QString folderPath() const { return m_folderPath; }

    // Fills the list anew from the folder: the archives of each registered
    // type in registration order, within a type in the scan's order, every
    // row unticked. Matching sub-folders are not listed; archives found
    // inside them are, and keep their own location for adding.
    void refreshList();

    // Lets the user choose another folder; on a choice the list is refilled,
    // on cancel nothing changes.
    void cmdOpenDlg_Click();
    // Adds every ticked row's archive to the main list (gListCtrl), files
    // already listed there silently skipped, and closes the dialog.
    void Command1_Click();
    // Closes the dialog; the main list is unchanged.
    void Command2_Click();
    // Refills the list; the ticks are lost.
    void Command4_Click();
    // Right button only: enables the tick-all and untick-all items when the
    // list has rows, then pops up mPopup at globalPos.
    void list_MouseDown(Qt::MouseButton button, const QPoint &globalPos);
    void mCheckAll_Click();
    void mCheckOff_Click();

    // The full path a row stands for.
    static QString rowPath(const class QTreeWidgetItem *row);

    QLabel *Label1 = nullptr;
    QFrame *Picture1 = nullptr;
    QLabel *lblFolderPath = nullptr;
    QPushButton *cmdOpenDlg = nullptr;
    QLabel *Label2 = nullptr;
    QTreeWidget *list = nullptr;
    QPushButton *Command4 = nullptr;
    QFrame *Line1 = nullptr;
    QPushButton *Command1 = nullptr;
    QPushButton *Command2 = nullptr;
    QMenu *mPopup = nullptr;
    QAction *mCheckAll = nullptr;
    QAction *mCheckOff = nullptr;

protected:
    void showEvent(QShowEvent *event) override;
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    void setAllChecks(Qt::CheckState state);

    std::unique_ptr<clsListCtrl> m_listCtrl;
    QString m_folderPath;
    bool m_filled = false;
};
