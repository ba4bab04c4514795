// The folder of its own that each archive of a run can be extracted into.
#pragma once

#include <QString>

// The name-folder path of an archive: extractFolder (which ends in "/"), the
// archive's file name without its last extension, and "/". a.tar.lzh gives
// "a.tar"; a file name with no "." in it, or with nothing before its only
// ".", gives the whole file name. A file name that is not UTF-8 gives the
// name as readablePath shows it (CP932 decoded, or "\x83" escapes).
QString nameFolderPath(const QString &extractFolder, const QString &archivePath);

// path (a name-folder path ending in "/") when nothing of that name exists
// yet, else the first free one of "name (2)/", "name (3)/", ... beside it.
// What a run that cannot ask the user does instead of asking.
QString freeNameFolderPath(const QString &path);

// The texts of the question asked when a name folder exists: the warning
// for path, and the prompt and title of the box that asks another name.
QString nameFolderTakenText(const QString &path);
QString renamePromptText();
QString renameTitleText();

// Makes the folder path (which ends in "/"). Returns "" on success, else
// what the user reads: the path and the cause.
QString makeNameFolder(const QString &path);
// path's parent with name in place of its last folder ("/" at the end):
// path itself when name is "". A name holding "/" or NUL gives "" and the
// message of why through problem.
QString renamedNameFolder(const QString &path, const QString &name, QString *problem);
