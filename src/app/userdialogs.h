// The one seam through which the program asks the user anything: message
// boxes, input boxes and folder/file choosers. The windows install the real
// implementation; tests install a scripted one, so no test waits on a dialog.
#pragma once

#include <QString>
#include <QStringList>

class QWidget;

class UserDialogs
{
public:
    virtual ~UserDialogs() = default;

    // A modal message box with the exclamation icon, an OK button and no
    // title of its own. Returns when the user has pressed OK.
    virtual void exclamation(QWidget *owner, const QString &text) = 0;

    // The same box with no icon.
    virtual void plainMessage(QWidget *owner, const QString &text) = 0;

    // A modal box asking text, with Yes and No buttons (No the default);
    // true when the user answered Yes. This default answers No, so a seam
    // that cannot ask never agrees to anything.
    virtual bool question(QWidget *owner, const QString &text)
    {
        Q_UNUSED(owner);
        Q_UNUSED(text);
        return false;
    }

    // A modal input box; returns the answer, or "" when the user cancelled.
    virtual QString inputBox(QWidget *owner, const QString &prompt, const QString &title,
                             const QString &preset) = 0;

    // A modal input box that does not show what is typed, for a password.
    // Returns the answer ("" when left empty), or a null QString when the
    // user cancelled. This default cancels, so a seam that cannot ask never
    // hands out a password.
    virtual QString password(QWidget *owner, const QString &prompt, const QString &title)
    {
        Q_UNUSED(owner);
        Q_UNUSED(prompt);
        Q_UNUSED(title);
        return QString();
    }

    // A modal box showing text with the exclamation icon and one button per
    // caption, the first the default. Returns the index of the button
    // pressed, or -1 when the box was closed without one. This default
    // closes at once, so a seam that cannot ask never chooses.
    virtual int choice(QWidget *owner, const QString &text, const QStringList &buttons)
    {
        Q_UNUSED(owner);
        Q_UNUSED(text);
        Q_UNUSED(buttons);
        return -1;
    }

    // The password box with a way to stop everything as well: Answered
    // with answer set, Skipped (the box's Cancel: go on without this
    // archive) or StopRun. remember not null: the box offers a tick to
    // remember the password, and *remember tells whether it was ticked
    // (false unless Answered). This default asks through password(), whose
    // Cancel skips, and offers no tick.
    enum class PasswordReply { Answered, Skipped, StopRun };
    virtual PasswordReply passwordOrStop(QWidget *owner, const QString &prompt, const QString &title,
                                         QString &answer, bool *remember = nullptr)
    {
        if (remember)
            *remember = false;
        answer = password(owner, prompt, title);
        return answer.isNull() ? PasswordReply::Skipped : PasswordReply::Answered;
    }

    // A modal folder chooser showing description; offers making a new
    // folder when allowed. Returns the chosen folder, or a null QString on
    // cancel. start: the folder to show first ("" for the default).
    virtual QString chooseFolder(QWidget *owner, const QString &description,
                                 bool showNewFolderButton, const QString &start) = 0;

    // A modal open-file dialog offering the filter's description/pattern
    // pairs, showing the folder start first ("" for the default); returns
    // the chosen file, or a null QString on cancel.
    virtual QString openFile(QWidget *owner, const QString &filter, const QString &start) = 0;
};

// The installed implementation. Never null once the program (or a test) has
// called setUserDialogs.
UserDialogs &userDialogs();
// Installs dialogs (not owned) and returns the previous one.
UserDialogs *setUserDialogs(UserDialogs *dialogs);
