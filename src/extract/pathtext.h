// How paths are written into texts the user reads.
#pragma once

#include <QString>

// The path as it may be shown in a label or a message box: control
// characters (newline, carriage return, tab, escape, ...), line and paragraph
// separators and the invisible direction marks are written as backslash
// escapes ("\n", "\t", "\x1b", "\u202e"), so a file name can neither break a
// text into lines nor disguise itself. A name that is not UTF-8 is shown as
// readablePath gives it. Ordinary paths come back unchanged.
QString displayPath(const QString &path);
