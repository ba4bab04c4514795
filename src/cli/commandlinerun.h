// Extracts a list of archives from the command line, with no window and no
// questions.
#pragma once

#include "extractrun.h"

#include <QList>
#include <QString>
#include <QStringList>

#include <cstdio>

class clsArchive;

struct CommandLineOptions
{
    QString destination; // the folder extracted into; made when missing
    bool nameFolders = false;
    bool flatten = false;
    QStringList inputs; // archives and folders, as given
};

class CommandLineRun
{
public:
    // archive: the engine with its types registered. Lines go to out, the
    // progress and the summary to err.
    CommandLineRun(clsArchive &archive, std::FILE *out, std::FILE *err);

    // Extracts every archive the inputs name: a file as it is (one of no
    // registered type fails without a library call), a folder through the
    // scan of every registered type. Each archive is extracted once. A name
    // folder that is taken gets the next free name ("data (2)"). Returns
    // the exit code.
    int run(const CommandLineOptions &options);

private:
    QStringList archivesToExtract(const QStringList &inputs);
    ArchiveResult extractOne(const QString &path, const QString &destination, bool nameFolders);
    void print(std::FILE *stream, const QString &text);
    void showProgress(int index, int total, const QString &path);
    void clearProgress();

    clsArchive &m_archive;
    std::FILE *m_out;
    std::FILE *m_err;
    bool m_progress = false;
};
