// Finding and opening the HTML manual.
#include "manual.h"

#include "userdialogs.h"

#include <QCoreApplication>
#include <QDesktopServices>
#include <QDir>
#include <QFileInfo>
#include <QUrl>

namespace {

QString notFoundText() { return QCoreApplication::translate("Manual", "マニュアルが見つかりません\n\n%1"); }
QString cannotOpenText() { return QCoreApplication::translate("Manual", "マニュアルを開けませんでした\n\n%1"); }

QString pageFor(const QString &appPath, const QString &language)
{
    return QDir::cleanPath(appPath + QStringLiteral("/../share/doc/tenvo/manual/") + language
                           + QStringLiteral("/index.html"));
}

} // namespace

QString manualLanguage(const QLocale &locale)
{
    return locale.language() == QLocale::Japanese ? QStringLiteral("ja") : QStringLiteral("en");
}

QString manualPath(const QString &appPath, const QString &language)
{
    const QString other = language == u"ja" ? QStringLiteral("en") : QStringLiteral("ja");
    for (const QString &candidate : {pageFor(appPath, language), pageFor(appPath, other)}) {
        if (QFileInfo(candidate).isFile())
            return candidate;
    }
    return QString();
}

void openManual(QWidget *owner, const QString &appPath)
{
    const QString language = manualLanguage();
    const QString page = manualPath(appPath, language);
    if (page.isEmpty()) {
        userDialogs().exclamation(owner, notFoundText().arg(QDir::toNativeSeparators(pageFor(appPath, language))));
        return;
    }
    if (!QDesktopServices::openUrl(QUrl::fromLocalFile(page)))
        userDialogs().exclamation(owner, cannotOpenText().arg(QDir::toNativeSeparators(page)));
}
