// The tests' language: the program's translators installed as the program
// installs them, and the text a test expects in the locale it runs in.
#pragma once

#include <QString>

// ja in a Japanese locale (the program's own texts), en in every other.
QString inLocale(const QString &ja, const QString &en);
