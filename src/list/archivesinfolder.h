// The archives that adding a whole folder finds in it.
#pragma once

#include "supporttype.h"

#include <QList>
#include <QStringList>

// Every archive the folder scan finds in folder for each registered type of
// types (in their order, each type's files in the scan's order), as the
// add-from-folder dialog lists them: full paths of files only, matching
// sub-folders themselves left out. Empty when nothing is registered (slot 0
// with an empty typeName). Reads the file system only.
QStringList archivesInFolder(const QString &folder, const QList<SupportType> &types);
