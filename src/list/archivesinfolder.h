// The archives that adding a whole folder finds in it.
#pragma once

#include "supporttype.h"

#include <QList>
#include <QStringList>

// Every archive the folder scan finds in folder for each registered type of
// types (.lha as well as .lzh), as the add-from-folder dialog lists them: full
// paths of files only, matching sub-folders themselves left out, the folder's
// own archives first and each folder's in naturalLess order of their names,
// whatever their types. Empty when nothing is registered (slot 0 with an
// empty typeName). Reads the file system only.
QStringList archivesInFolder(const QString &folder, const QList<SupportType> &types);
