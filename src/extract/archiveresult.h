// How one archive of an extraction job ended, and the texts that say so.
#pragma once

#include <QList>
#include <QString>
#include <QStringList>

struct ArchiveResult
{
    QString path;        // the archive, as the list gave it
    QString destination; // the folder it was (or was to be) extracted into
    // The archiver library's result (0: every entry landed), -2 for a type
    // that is not registered, -3 when the library cannot be called.
    int code = 0;
    // True when its name folder could not be made; no library was called.
    bool skipped = false;
    // True when the user chose to skip the archive at a question.
    bool skippedByUser = false;
    // True when the run was stopped before this archive was finished (or
    // started); what it had written whole stays, nothing partial.
    bool stopped = false;
    // Files (and links) that landed in the destination.
    int landed = 0;
    // What the library said of the call (its output buffer), for the
    // command line's detail; never shown in a window.
    QString message;
    // Stored names that landed under a shortened name: "stored\tlanded".
    QStringList shortened;
    // The paths landed, relative to the folder they were moved into (its
    // name folder, else the run's destination, when the job was asked for
    // them).
    QStringList landedNames;
    // Files the destination already held: kept instead of the archive's
    // file, and the archive's files landed under a new name ("name (2).ext").
    int kept = 0;
    int renamed = 0;
    // Archives it held that were extracted beside themselves and those left
    // as they were: "inner path\tcause" (the inner path relative to the
    // destination).
    QStringList nestedLeft;
    int nestedExtracted = 0;
    // The archive file (and its other volumes) went to the trash.
    bool trashed = false;
    // It was to go to the trash but could not (or not every volume).
    bool trashFailed = false;
    qint64 bytes = 0;      // the archive file's size
    double seconds = 0;    // from its start to its end

    bool failed() const { return skipped || skippedByUser || stopped || code != 0; }
};

// What sets the lines under a file's name off from it, in the user's
// language (a full-width space in Japanese).
QString indentText();
// Why an archive failed, in the user's words.
QString causeText(const ArchiveResult &result);
// How many files the destination already held were kept and how many of the
// archive's files landed under a new name, in one line; "" when none.
QString existingFilesText(const ArchiveResult &result);
// The message listing every failed archive with its cause, the archives
// whose names were shortened, those that met files already there, those
// that could not be moved to the trash, and the archives held in others that
// were left as they were, with their causes; "" when there is nothing to tell.
QString summaryText(const QList<ArchiveResult> &results);
// The command line's lines under an archive's own: how many archives it
// held were extracted (withCount), and each one left with its cause.
QStringList nestedLines(const ArchiveResult &result, bool withCount = true);
// The bar's width in a box of boxWidth pixels once done of total steps are
// done: in proportion, to the nearest pixel. total > 0.
int barWidth(int boxWidth, qint64 done, qint64 total);
