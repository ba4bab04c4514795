// What the window tests share: a scripted dialog seam, a program folder with
// a chosen set of archiver libraries, and answering a modal window.
#pragma once

#include "userdialogs.h"

#include <QApplication>
#include <QDialog>
#include <QDir>
#include <QFile>
#include <QList>
#include <QPointer>
#include <QString>
#include <QStringList>
#include <QTemporaryDir>
#include <QTimer>
#include <QWidget>

#include <functional>

// Installed for its lifetime. Each question takes its answer from the front
// of its queue; a null QString stands for Cancel. A question without a
// scripted answer is cancelled and noted in ranOutOfAnswers.
class ScriptedDialogs : public UserDialogs
{
public:
    struct FolderRequest
    {
        QWidget *owner;
        QString ownerName; // the owner may be gone when the test looks
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
    std::function<void()> onExclamation;

    void plainMessage(QWidget *owner, const QString &text) override
    {
        plainMessages.append(text);
        exclamationOwners.append(owner);
    }

    QString inputBox(QWidget *, const QString &, const QString &, const QString &) override
    {
        ranOutOfAnswers = true;
        return QString();
    }

    QString chooseFolder(QWidget *owner, const QString &description, bool showNewFolderButton,
                         const QString &start) override
    {
        folderRequests.append({owner, owner ? owner->objectName() : QString(), description,
                               showNewFolderButton, start});
        if (folderAnswers.isEmpty()) {
            ranOutOfAnswers = true;
            return QString();
        }
        return folderAnswers.takeFirst();
    }

    QString openFile(QWidget *owner, const QString &filter, const QString &start) override
    {
        openFilters.append(filter);
        openStarts.append(start);
        openOwners.append(owner);
        if (fileAnswers.isEmpty()) {
            ranOutOfAnswers = true;
            return QString();
        }
        return fileAnswers.takeFirst();
    }

    QStringList folderAnswers;
    QStringList fileAnswers;

    QStringList exclamations;
    QStringList plainMessages;
    QList<QWidget *> exclamationOwners;
    QList<FolderRequest> folderRequests;
    QStringList openFilters;
    QStringList openStarts;
    QList<QWidget *> openOwners;
    bool ranOutOfAnswers = false;

private:
    UserDialogs *m_previous = nullptr;
};

// A temporary program folder holding copies of archiver libraries.
class ProgramFolder
{
public:
    // Copies each named library file from source (a build folder) into the
    // program folder, with the decoder program the real libraries start (and
    // its module) when source holds it. False when a library is missing.
    bool addLibraries(const QString &source, const QStringList &names)
    {
        for (const QString &name : names) {
            if (!QFile::copy(source + u'/' + name, path() + name))
                return false;
        }
        for (const QString &decoder : {QStringLiteral("tenvo-decoder"), QStringLiteral("tenvo-decoders.so")}) {
            if (QFile::exists(source + u'/' + decoder) && !QFile::exists(path() + decoder)
                && !QFile::copy(source + u'/' + decoder, path() + decoder))
                return false;
        }
        return true;
    }

    // The program folder, ending in "/".
    QString path() const { return m_dir.path() + u'/'; }
    QString iniPath() const { return path() + QStringLiteral("Tenvo.ini"); }
    bool isValid() const { return m_dir.isValid(); }

    QByteArray iniText() const
    {
        QFile file(iniPath());
        return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
    }

    bool writeIni(const QByteArray &text) const
    {
        QFile file(iniPath());
        return file.open(QIODevice::WriteOnly) && file.write(text) == text.size();
    }

private:
    QTemporaryDir m_dir;
};

// Runs answer on the modal window that the next step opens, from inside its
// own event loop (no waiting on a clock). After the step, handled() tells
// whether a modal window came up at all; answer must close it.
class ModalAnswer : public QObject
{
public:
    explicit ModalAnswer(std::function<void(QDialog *)> answer)
        : m_answer(std::move(answer))
    {
        QTimer::singleShot(0, this, [this] { run(); });
    }

    bool handled() const { return m_handled; }

private:
    void run()
    {
        auto *dialog = qobject_cast<QDialog *>(QApplication::activeModalWidget());
        if (!dialog)
            return;
        m_handled = true;
        m_answer(dialog);
    }

    std::function<void(QDialog *)> m_answer;
    bool m_handled = false;
};

// Deletes the windows that closed with WA_DeleteOnClose.
inline void deleteClosedWindows()
{
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
}
