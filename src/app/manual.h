// Finding the HTML manual that is installed with the program and opening it
// in the desktop's browser.
#pragma once

#include <QLocale>
#include <QString>

class QWidget;

// "ja" in a Japanese locale, "en" in every other.
QString manualLanguage(const QLocale &locale = QLocale());

// The manual's first page in language for a program living in appPath: it
// lies in share/doc/tenvo/manual/ beside the program's own folder, in an
// installed prefix as in the build tree (whose share/doc/tenvo leads to the
// source tree's docs/). The other language's page when this one is missing,
// "" when neither is there. Never opens anything.
QString manualPath(const QString &appPath, const QString &language);

// Opens the manual in the user's language in the desktop's browser. When no
// manual is found, or the desktop cannot open it, a message box through the
// dialog seam says so and where the manual was looked for.
void openManual(QWidget *owner, const QString &appPath);
