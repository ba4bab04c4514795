// A dialog seam that answers from a script and records every question.
#pragma once

#include "userdialogs.h"

#include <QList>
#include <QString>
#include <QStringList>

#include <functional>

// Installed for the lifetime of the object. inputBox and chooseFolder take
// their answers from the front of the queues; "" stands for Cancel (or an
// empty field) in inputBox, a null QString for Cancel in chooseFolder.
class ScriptedDialogs : public UserDialogs
{
public:
    struct Input
    {
        QString prompt;
        QString title;
        QString preset;
    };
    struct FolderRequest
    {
        QWidget *owner;
        QString description;
        bool showNewFolderButton;
        QString start;
    };

    ScriptedDialogs() { m_previous = setUserDialogs(this); }
    ~ScriptedDialogs() override { setUserDialogs(m_previous); }

    void exclamation(QWidget *owner, const QString &text) override
    {
        exclamations.append(text);
        exclamationOwners.append(owner);
        if (onExclamation)
            onExclamation();
    }

    void plainMessage(QWidget *owner, const QString &text) override
    {
        plainMessages.append(text);
        exclamationOwners.append(owner);
    }

    // Answers from questionAnswers in order; No once they run out.
    bool question(QWidget *, const QString &text) override
    {
        questions.append(text);
        if (onQuestion)
            onQuestion();
        return questionAnswers.isEmpty() ? false : questionAnswers.takeFirst();
    }

    QString inputBox(QWidget *, const QString &prompt, const QString &title,
                     const QString &preset) override
    {
        inputs.append({prompt, title, preset});
        if (onInput)
            onInput();
        if (inputAnswers.isEmpty()) {
            // An unscripted question would otherwise loop for ever; a name
            // holding "/" ends the name-folder loop, and the test sees the flag.
            ranOutOfAnswers = true;
            return QStringLiteral("unscripted/answer");
        }
        return inputAnswers.takeFirst();
    }

    // Answers from passwordAnswers in order (a null QString is Cancel);
    // Cancel once they run out.
    QString password(QWidget *, const QString &prompt, const QString &title) override
    {
        passwordPrompts.append(prompt);
        passwordTitles.append(title);
        return passwordAnswers.isEmpty() ? QString() : passwordAnswers.takeFirst();
    }

    // Answers from passwordAnswers as password() does; an answer equal to
    // stopRun stops the run. Notes whether the tick was offered; an
    // offered tick is set from passwordTicks in order (unticked once they
    // run out).
    PasswordReply passwordOrStop(QWidget *owner, const QString &prompt, const QString &title,
                                 QString &answer, bool *remember = nullptr) override
    {
        ticksOffered.append(remember != nullptr);
        const bool ticked = remember && !passwordTicks.isEmpty() && passwordTicks.takeFirst();
        if (remember)
            *remember = false;
        answer = password(owner, prompt, title);
        if (answer == stopRun) {
            answer.clear();
            return PasswordReply::StopRun;
        }
        if (answer.isNull())
            return PasswordReply::Skipped;
        if (remember)
            *remember = ticked;
        return PasswordReply::Answered;
    }
    static inline const QString stopRun = QStringLiteral("<stop the run>");

    // Answers from choiceAnswers in order; -1 (closed) once they run out.
    int choice(QWidget *, const QString &text, const QStringList &buttons) override
    {
        choices.append(text);
        choiceButtons = buttons;
        if (onChoice)
            onChoice();
        return choiceAnswers.isEmpty() ? -1 : choiceAnswers.takeFirst();
    }

    QString chooseFolder(QWidget *owner, const QString &description, bool showNewFolderButton,
                         const QString &start) override
    {
        folderRequests.append({owner, description, showNewFolderButton, start});
        if (folderAnswers.isEmpty()) {
            ranOutOfAnswers = true;
            return QString();
        }
        return folderAnswers.takeFirst();
    }

    QString openFile(QWidget *, const QString &, const QString &) override
    {
        ranOutOfAnswers = true;
        return QString();
    }

    QStringList inputAnswers;
    QStringList passwordAnswers;
    QStringList passwordPrompts;
    QStringList passwordTitles;
    QList<bool> passwordTicks;
    QList<bool> ticksOffered;
    QStringList folderAnswers;
    std::function<void()> onExclamation;
    std::function<void()> onInput;

    QStringList choices;
    QStringList choiceButtons;
    QList<int> choiceAnswers;
    std::function<void()> onChoice;

    QStringList exclamations;
    QStringList questions;
    QList<bool> questionAnswers;
    std::function<void()> onQuestion;
    QStringList plainMessages;
    QList<QWidget *> exclamationOwners;
    QList<Input> inputs;
    QList<FolderRequest> folderRequests;
    bool ranOutOfAnswers = false;

private:
    UserDialogs *m_previous = nullptr;
};
