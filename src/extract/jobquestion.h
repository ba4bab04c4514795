// A question an extraction job asks and waits on while the rest of the job
// goes on.
#pragma once

#include <QObject>
#include <QString>

// The job emits the question and keeps it open until one of answer(),
// skip() or stopRun() is called, or until the job withdraws it (the run was
// stopped or ended), which it says through withdrawn(). A front end answers
// from a dialog, from its options or on a terminal, at any later time; the
// job never waits on it with a blocked thread.
class JobQuestion : public QObject
{
    Q_OBJECT

public:
    enum Kind {
        // The archive is encrypted: answer() with a password.
        Password,
        // The archive's name folder exists: answer() with another name for
        // it (a folder name, not a path), or "" to be asked again.
        NameFolderTaken,
        // The archive's name folder cannot be made (text says why); only
        // to be acknowledged (answer() or skip()); the archive is skipped
        // either way.
        FolderFailed,
    };
    enum Reply { Open, Answered, Skipped, StopRequested, Withdrawn };

    JobQuestion(Kind kind, int index, QString archivePath, QString text, QString title = QString(),
                QString preset = QString(), QObject *parent = nullptr);
    ~JobQuestion() override;

    Kind kind() const { return m_kind; }
    // The archive's place in the job's list, and its path.
    int index() const { return m_index; }
    QString archivePath() const { return m_archivePath; }
    // The question in the user's words, a title for its box, and what an
    // input field starts with (the folder's current name).
    QString text() const { return m_text; }
    QString title() const { return m_title; }
    QString preset() const { return m_preset; }

    Reply reply() const { return m_reply; }
    bool isOpen() const { return m_reply == Open; }
    // The answer; a password is wiped once the job has taken it.
    QString answerText() const { return m_answer; }
    // A password answer the user asked to remember, should it open the
    // archive.
    bool rememberAnswer() const { return m_remember; }

    void answer(const QString &text, bool remember = false);
    // Skips this archive; the rest of the run goes on.
    void skip();
    // Stops the whole run.
    void stopRun();
    // For the job: the question no longer needs an answer.
    void withdraw();
    // For the job: overwrites the answer.
    void wipeAnswer();

signals:
    // The question has its reply (answered, skipped or stop asked).
    void replied();
    // The job no longer waits for this question: close its box.
    void withdrawn();

private:
    void close(Reply reply);

    Kind m_kind;
    int m_index;
    QString m_archivePath;
    QString m_text;
    QString m_title;
    QString m_preset;
    QString m_answer;
    bool m_remember = false;
    Reply m_reply = Open;
};
