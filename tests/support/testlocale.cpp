// Installs the program's translators in every test that links this file.
#include "testlocale.h"

#include "translations.h"

#include <QCoreApplication>
#include <QLocale>

namespace {

void installTestTranslators()
{
    installTranslators(QStringLiteral(TENVO_TRANSLATIONS_DIR));
}

} // namespace

Q_COREAPP_STARTUP_FUNCTION(installTestTranslators)

QString inLocale(const QString &ja, const QString &en)
{
    return QLocale().language() == QLocale::Japanese ? ja : en;
}
