// The dialog seam answered by real Qt dialogs.
#pragma once

#include "userdialogs.h"

// The program installs one of these with setUserDialogs at start-up.
class QtUserDialogs : public UserDialogs
{
public:
    void exclamation(QWidget *owner, const QString &text) override;
    QString inputBox(QWidget *owner, const QString &prompt, const QString &title,
                     const QString &preset) override;
    QString chooseFolder(QWidget *owner, const QString &description, bool showNewFolderButton,
                         const QString &start) override;
    QString openFile(QWidget *owner, const QString &filter) override;

    // The open-file filter ("description|patterns|description|patterns...",
    // patterns separated by ";") as Qt's file dialog takes it:
    // "description (patterns);;...". Each pattern is offered in lower case
    // as well, as this file system tells "a.lzh" from "a.LZH".
    static QString qtFilter(const QString &filter);
};
