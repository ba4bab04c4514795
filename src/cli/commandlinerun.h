// Extracts a list of archives from the command line: a front end of the
// extraction job, with no window.
#pragma once

#include "extractjob.h"

#include <QList>
#include <QObject>
#include <QString>
#include <QStringList>

#include <cstdio>

class clsArchive;

struct CommandLineOptions
{
    QString destination; // the folder extracted into; made when missing
    bool nameFolders = false;
    bool flatten = false;
    int parallel = 1;    // archives at once (and decoder processes in all)
    QString passwordFile; // passwords to try, one per line ("" for none)
    bool smartFolders = false;
    ExtractOptions::Existing existing = ExtractOptions::Existing::Overwrite;
    bool keepJunk = false;
    bool nested = false;
    bool trashArchives = false;
    bool openDestination = false; // in the file manager, once the run is over
    QString encoding;     // of every archive's names ("": decided per archive)
    bool keyring = false; // try the passwords remembered in the desktop's keyring
    enum class Output { Normal, Quiet, Verbose, Json };
    Output output = Output::Normal;
    QStringList inputs; // archives and folders, as given
};

class CommandLineRun : public QObject
{
    Q_OBJECT

public:
    // archive: the engine with its types registered. Lines go to out, the
    // progress, questions and the summary to err; passwords are asked on
    // in when it is a terminal.
    CommandLineRun(clsArchive &archive, std::FILE *out, std::FILE *err, std::FILE *in = stdin);

    // Extracts every archive the inputs name: a file as it is, a folder
    // through the scan of every registered type, each archive once, through
    // the extraction job. A name folder that is taken gets the next free
    // name ("data (2)"). SIGINT and SIGTERM stop the job. Returns the exit
    // code: 0 when every archive was extracted, 1 when one was not or
    // nothing was found to extract, 130 or 143 after SIGINT or SIGTERM.
    int run(const CommandLineOptions &options);

private:
    QStringList archivesToExtract(const QStringList &inputs, bool *allFound);
    bool readPasswordFile(const QString &path, QStringList &passwords);
    void answer(JobQuestion *question);
    QString askPassword(const JobQuestion &question, bool *stop);
    void archiveFinished(const ArchiveResult &result);
    void printJson(const ArchiveResult &result);
    void print(std::FILE *stream, const QString &text);
    void showProgress();
    void clearProgress();

    clsArchive &m_archive;
    std::FILE *m_out;
    std::FILE *m_err;
    std::FILE *m_in;
    bool m_progress = false;
    bool m_progressShown = false;
    CommandLineOptions::Output m_output = CommandLineOptions::Output::Normal;
    ExtractJob *m_job = nullptr;
    QString m_current; // the archive started last, as shown
};
