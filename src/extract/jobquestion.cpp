// A question an extraction job asks and waits on.
#include "jobquestion.h"

#include "clsarchive.h"

JobQuestion::JobQuestion(Kind kind, int index, QString archivePath, QString text, QString title,
                         QString preset, QObject *parent)
    : QObject(parent)
    , m_kind(kind)
    , m_index(index)
    , m_archivePath(std::move(archivePath))
    , m_text(std::move(text))
    , m_title(std::move(title))
    , m_preset(std::move(preset))
{
}

JobQuestion::~JobQuestion()
{
    wipeAnswer();
}

void JobQuestion::answer(const QString &text, bool remember)
{
    if (!isOpen())
        return;
    m_answer = text;
    m_answer.detach();
    m_remember = remember;
    close(Answered);
}

void JobQuestion::skip()
{
    close(Skipped);
}

void JobQuestion::stopRun()
{
    close(StopRequested);
}

void JobQuestion::withdraw()
{
    if (!isOpen())
        return;
    m_reply = Withdrawn;
    emit withdrawn();
}

void JobQuestion::wipeAnswer()
{
    wipeSecret(m_answer);
}

void JobQuestion::close(Reply reply)
{
    if (!isOpen())
        return;
    m_reply = reply;
    emit replied();
}
