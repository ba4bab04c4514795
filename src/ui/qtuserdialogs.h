// The dialog seam answered by real Qt dialogs.
#pragma once

#include "userdialogs.h"

#include <QFileDialog>

#include <memory>

class QDialog;
class QInputDialog;

// The program installs one of these with setUserDialogs at start-up. Qt's
// own dialog texts are in the user's language once the program has installed
// its translators (installTranslators).
class QtUserDialogs : public UserDialogs
{
public:
    QtUserDialogs();
    ~QtUserDialogs() override;

    void exclamation(QWidget *owner, const QString &text) override;
    void plainMessage(QWidget *owner, const QString &text) override;
    bool question(QWidget *owner, const QString &text) override;
    QString inputBox(QWidget *owner, const QString &prompt, const QString &title,
                     const QString &preset) override;
    QString password(QWidget *owner, const QString &prompt, const QString &title) override;
    int choice(QWidget *owner, const QString &text, const QStringList &buttons) override;
    PasswordReply passwordOrStop(QWidget *owner, const QString &prompt, const QString &title,
                                 QString &answer, bool *remember = nullptr) override;
    QString chooseFolder(QWidget *owner, const QString &description, bool showNewFolderButton,
                         const QString &start) override;
    QString openFile(QWidget *owner, const QString &filter, const QString &start) override;

    // The message box exclamation (icon QMessageBox::Warning) and
    // plainMessage (QMessageBox::NoIcon) show: text in lines as given, never
    // wrapped, an OK button. Not yet shown.
    static std::unique_ptr<QDialog> messageBox(QWidget *owner, int icon, const QString &text);
    // Puts description in a label (folderDescription) above the chooser's
    // folder view; the dialog is then Qt's own, not the desktop's.
    static void showDescription(QFileDialog &dialog, const QString &description);
    // The box passwordOrStop shows: the field hides what is typed, Cancel
    // skips the archive, a third button (DestructiveRole) stops the run,
    // and with offerTick a tick (chkRemember) to remember the password.
    // It ends with QDialog::Accepted, Rejected or passwordStopCode. Not yet
    // shown.
    static constexpr int passwordStopCode = 2;
    static std::unique_ptr<QInputDialog> passwordBox(QWidget *owner, const QString &prompt,
                                                     const QString &title, bool offerTick);
    // The folder chooser and the open-file dialog as chooseFolder and
    // openFile show them; not yet shown.
    static std::unique_ptr<QFileDialog> folderDialog(QWidget *owner, const QString &description,
                                                     bool showNewFolderButton, const QString &start);
    static std::unique_ptr<QFileDialog> openFileDialog(QWidget *owner, const QString &filter,
                                                       const QString &start);

    // The open-file filter ("description|patterns|description|patterns...",
    // patterns separated by ";") as Qt's file dialog takes it:
    // "description (patterns);;...". Each pattern is offered in lower case
    // as well, as this file system tells "a.lzh" from "a.LZH".
    static QString qtFilter(const QString &filter);
};
