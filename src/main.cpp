// Tenvo's entry point.
#include "clsarchive.h"
#include "clsinictrl.h"
#include "module1.h"

#include <QApplication>
#include <QTextStream>

int main(int argc, char *argv[])
{
    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("Tenvo"));

    clsArchive archive;
    archive.setLibraryFolder(getAppPath());
    for (const SupportType &row : registrationRows())
        archive.addSupportType(row);

    clsINICtrl ini;
    ini.setFile(settingsFilePath(getAppPath()));

    QList<SupportType> types;
    archive.getSupportTypes(types);
    QTextStream out(stdout);
    out << "Tenvo: settings in " << ini.file() << '\n';
    for (const SupportType &type : std::as_const(types))
        out << type.typeName << '\t' << type.extension << '\t' << type.dllName << '\n';
    out << buildFilter(types) << '\n';
    return 0;
}
