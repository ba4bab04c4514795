// The program's language: Japanese, its own, in a Japanese locale and English
// in every other, with Qt's own texts in the user's language.
#pragma once

#include <QLocale>
#include <QString>

// Where a program living in appPath finds its translations: share/tenvo/
// translations beside its own folder, in an installed prefix as in the build
// tree.
QString translationsFolder(const QString &appPath);

// Installs, for the whole application, the English translation of the
// program's texts from folder (any locale but a Japanese one) and Qt's own
// translation for locale. Without the English file the texts stay Japanese.
// Needs the application object; a second call does nothing. Returns whether
// the program's texts are translated.
bool installTranslators(const QString &folder, const QLocale &locale = QLocale());
