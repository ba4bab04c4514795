// The folder last used for each purpose, kept in the settings file.
#pragma once

#include <QString>

// What a file or folder dialog is asked for. Each purpose has its key in the
// section "Folders" of the settings file (gIniCtrl):
//   AddFile      the folder of the archive last added through the open-file dialog
//   AddFolder    the folder last chosen to add archives from
//   Destination  the folder last chosen to extract into
enum class FolderPurpose { AddFile, AddFolder, Destination };

// The folder to show first for purpose: the one last used for it, or, when
// it is gone, the nearest of its parents that still exists; the home folder
// the first time, and when no settings file is bound.
QString lastFolder(FolderPurpose purpose);

// Remembers folder (an absolute path) for purpose. Nothing without a
// settings file; a refused write is silent, as every settings write is.
void rememberFolder(FolderPurpose purpose, const QString &folder);
