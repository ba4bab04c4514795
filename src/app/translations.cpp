// Installing the translators that give the program its user's language.
#include "translations.h"

#include <QCoreApplication>
#include <QDir>
#include <QLibraryInfo>
#include <QTranslator>

namespace {

// The translators are children of the application, found again by name so
// that they are installed only once.
const QString ownName = QStringLiteral("tenvoTranslator");

QTranslator *newTranslator(const QString &name)
{
    auto *translator = new QTranslator(QCoreApplication::instance());
    translator->setObjectName(name);
    return translator;
}

} // namespace

QString translationsFolder(const QString &appPath)
{
    return QDir::cleanPath(appPath + QStringLiteral("/../share/tenvo/translations"));
}

bool installTranslators(const QString &folder, const QLocale &locale)
{
    QCoreApplication *app = QCoreApplication::instance();
    if (!app)
        return false;
    if (const auto *own = app->findChild<QTranslator *>(ownName, Qt::FindDirectChildrenOnly))
        return !own->isEmpty();

    // Qt's file and folder choosers, message box buttons and --help headings.
    QTranslator *qt = newTranslator(QStringLiteral("qtTranslator"));
    if (qt->load(locale, QStringLiteral("qtbase"), QStringLiteral("_"),
                 QLibraryInfo::path(QLibraryInfo::TranslationsPath)))
        QCoreApplication::installTranslator(qt);

    // Installed even when empty: it marks the work as done.
    QTranslator *own = newTranslator(ownName);
    if (locale.language() != QLocale::Japanese)
        (void)own->load(QStringLiteral("tenvo_en"), folder);
    QCoreApplication::installTranslator(own);
    return !own->isEmpty();
}
