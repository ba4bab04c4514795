// The remembered-passwords dialog: lists the passwords kept in the keyring,
// masked, and removes them.
#pragma once

#include <QDialog>

class PasswordStore;
class QLabel;
class QListWidget;
class QPushButton;

// Shows one row per remembered password, most recent first, each the same
// row of dots so that no length shows; never the passwords themselves.
// Where no keyring answers, lblStatus says so and the list stays empty.
class frmPasswords : public QDialog
{
    Q_OBJECT

public:
    // store: not owned, outlives the dialog.
    explicit frmPasswords(PasswordStore &store, QWidget *parent = nullptr);

    // Opens the dialog modally over owner: the entry point of the options
    // dialog's button.
    static void showFor(QWidget *owner, PasswordStore &store);

    // Fills the list anew from the keyring.
    void refreshList();
    // Forgets the selected password; a keyring that refuses gets a message
    // and the list shows what it holds.
    void cmdRemove_Click();

    // The row every password is shown as.
    static QString maskText();

    QLabel *lblStatus = nullptr;
    QListWidget *lstPasswords = nullptr;
    QPushButton *cmdRemove = nullptr;
    QPushButton *cmdClose = nullptr;

private:
    PasswordStore &m_store;
};
