// Start-up services that need no window.
#include "module1.h"

#include "archiverlibrary.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
#include <QStandardPaths>

#include <unistd.h>

QString getAppPath()
{
    QString path = QCoreApplication::applicationDirPath();
    if (!path.endsWith(u'/'))
        path += u'/';
    return path;
}

QString settingsFilePath(const QString &appPath)
{
    QString folder = appPath;
    if (!folder.endsWith(u'/'))
        folder += u'/';
    const QString inFolder = folder + QStringLiteral("Tenvo.ini");
    // access() asks the kernel, which knows about read-only mounts and ACLs.
    // The file is replaced through a temporary beside it, so the folder must
    // be writable too.
    const bool folderWritable = ::access(QFile::encodeName(folder).constData(), W_OK | X_OK) == 0;
    const bool fileWritable = !QFileInfo::exists(inFolder)
        || ::access(QFile::encodeName(inFolder).constData(), W_OK) == 0;
    // An installed program (its libraries in lib/tenvo beside its folder)
    // keeps each user's settings in that user's own folder.
    const bool installed = QFileInfo(ArchiverLibrary::searchFolders(folder).constLast()).isDir();
    if (folderWritable && fileWritable && !installed)
        return inFolder;
    const QString config = QStandardPaths::writableLocation(QStandardPaths::AppConfigLocation);
    QDir().mkpath(config);
    return QDir(config).filePath(QStringLiteral("Tenvo.ini"));
}

QList<SupportType> registrationRows()
{
    return {
        {QStringLiteral("LHA"), QStringLiteral("LZH"), QStringLiteral("unlha32.dll")},
        {QStringLiteral("CAB"), QStringLiteral("CAB"), QStringLiteral("cab32.dll")},
        {QStringLiteral("ZIP"), QStringLiteral("ZIP"), QStringLiteral("unzip32.dll")},
        {QStringLiteral("RAR"), QStringLiteral("RAR"), QStringLiteral("unrar32.dll")},
        {QStringLiteral("7Z"), QStringLiteral("7Z"), QStringLiteral("7-zip32.dll")},
        {QStringLiteral("TAR"), QStringLiteral("TAR"), QStringLiteral("tar32.dll")},
    };
}

QString buildFilter(const QList<SupportType> &types)
{
    if (types.isEmpty() || types.first().typeName.isEmpty())
        return QCoreApplication::translate("module1", "対応する形式はありません") + QStringLiteral("|*.nohavedllfiles");

    QString description = QCoreApplication::translate("module1", " 対応する形式(");
    QString patterns;
    QString pairs;
    for (const SupportType &type : types) {
        QStringList typePatterns;
        for (const QString &e : extensionsOf(type))
            typePatterns << QStringLiteral("*.") + e;
        pairs += type.typeName + QStringLiteral(" (") + typePatterns.join(u',') + QStringLiteral(") | ")
            + typePatterns.join(u';') + QStringLiteral("| ");
        description += typePatterns.join(u',') + u',';
        patterns += typePatterns.join(u';') + u';';
    }
    description.chop(1);
    description += u')';
    return description + QStringLiteral("| ") + patterns + QStringLiteral("| ") + pairs;
}
