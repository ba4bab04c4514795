// The hidden folder one archive is extracted into before its files are
// moved into place, so archives extracted at once land in list order.
#pragma once

#include <QString>
#include <QStringList>

// What moving a stage folder's files into place did.
struct StageMerge
{
    int landed = 0;     // files and links moved into place
    bool failed = false; // something could not be moved (a folder where a file goes, ...)
    QStringList names;  // the relative paths landed, when asked for
};

// Makes a new, empty stage folder inside folder (which ends in "/"), named
// ".tenvo-<pid>-s<n>", and returns its path ending in "/"; a null QString
// with errno set when it cannot be made.
QString makeStageFolder(const QString &folder);

// Moves everything in stage into folder: a file or link replaces what has
// its name there, a folder missing there is moved whole, a folder present
// there is merged into. Folders holding no file are left out unless
// keepEmptyFolders. Never follows a link in folder: a link where a folder
// goes is not entered (the entry counts as failed). Then removes stage with
// whatever could not be moved. With wantNames, names holds each path landed.
StageMerge mergeStageFolder(const QString &stage, const QString &folder, bool keepEmptyFolders,
                            bool wantNames = false);

// Removes path and everything under it, following no link.
void removeTree(const QString &path);

// Removes the stage folders in folder left by a process that is gone
// (killed, or the machine lost power); those of a running process stay.
void sweepStaleStageFolders(const QString &folder);
