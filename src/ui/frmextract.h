// The extraction options dialog: destination folder, the options, start.
#pragma once

#include "extractjob.h"

#include <QDialog>

class QComboBox;
class QFrame;
class QLabel;
class QPushButton;
class QTreeWidget;
class QTreeWidgetItem;

// Creating the dialog loads it: the options are read from the settings file
// (gIniCtrl) into the globals and shown as check items. The options are
// written back only when the user starts a run.
// Opens folder in the desktop's file manager.
void openFolderInFileManager(const QString &folder);

class frmExtract : public QDialog
{
    Q_OBJECT

public:
    explicit frmExtract(QWidget *parent = nullptr);

    // The destination folder the run will use, exactly as given; the label
    // lblFolderPath shows it.
    void setFolderPath(const QString &path);
    QString folderPath() const { return m_folderPath; }

    // Reads MakeNameFolder, RestoreFolder, DeleteFromList and CloseDialog
    // from section "Option" into the globals, in that order, then the
    // choices added since (SmartFolders, SkipJunk, Nested, OpenFolder,
    // TrashArchives, Existing).
    void loadOption();
    // Writes the globals to section "Option" in the same order.
    void writeOption();
    // The job's options as the globals and the settings file give them.
    ExtractOptions extractOptions() const;

    // Copies the item's check mark into the global its key names; an item
    // with another key changes nothing.
    void list_ItemCheck(QTreeWidgetItem *item);
    // Lets the user choose another destination folder (kept on cancel).
    void cmdOpenDlg_Click();
    // Stores the options, passes them on, runs the extraction in the modal
    // progress window and then closes this dialog.
    void cmdExtract_Click();
    // Lists the passwords remembered in the desktop's keyring, to remove.
    void cmdPasswords_Click();
    // Closes the dialog; nothing is written.
    void cmdCancel_Click();

    QPushButton *cmdOpenDlg;
    QFrame *Picture1;
    QLabel *lblFolderPath;
    QPushButton *cmdExtract;
    QPushButton *cmdCancel;
    QLabel *Label2;
    QTreeWidget *list;
    QLabel *Label1;
    QLabel *lblExisting;
    QComboBox *cboExisting;
    QPushButton *cmdPasswords;

private:
    void showDependentItems();
    void layOut();

    QString m_folderPath;
};
