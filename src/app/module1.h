// Start-up services that need no window: program folder, settings-file
// location, the archive types offered at start-up and the open-file filter.
#pragma once

#include "supporttype.h"

#include <QList>
#include <QString>

// The folder that holds the program's executable, always ending in one "/".
QString getAppPath();

// The settings file for a program living in appPath: "Tenvo.ini" there when
// that folder (and the file, if present) can be written and the program is
// not installed (no lib/tenvo beside its folder), otherwise the same name in
// the user's configuration folder, which is created when missing.
QString settingsFilePath(const QString &appPath);

// The four archive types start-up offers for registration, in order
// LHA, CAB, ZIP, RAR.
QList<SupportType> registrationRows();

// The open-file dialog's filter text for the registered types (a copy of the
// type table, slot 0 empty when nothing is registered).
QString buildFilter(const QList<SupportType> &types);
