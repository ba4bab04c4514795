// The folder last used for each purpose, kept in the settings file.
#include "lastfolder.h"

#include "clsinictrl.h"
#include "globals.h"

#include <QDir>
#include <QFileInfo>

namespace {

const QString section = QStringLiteral("Folders");

QString keyOf(FolderPurpose purpose)
{
    switch (purpose) {
    case FolderPurpose::AddFile:
        return QStringLiteral("AddFile");
    case FolderPurpose::AddFolder:
        return QStringLiteral("AddFolder");
    case FolderPurpose::Destination:
        return QStringLiteral("Destination");
    }
    return QString();
}

} // namespace

QString lastFolder(FolderPurpose purpose)
{
    if (!gIniCtrl)
        return QDir::homePath();
    // A read gives at most 255 bytes, so a long path may come back cut
    // short; then, as for a folder since removed, a parent is offered.
    QString folder = gIniCtrl->getString(section, keyOf(purpose));
    if (!QDir::isAbsolutePath(folder))
        return QDir::homePath();
    folder = QDir::cleanPath(folder);
    while (!QFileInfo(folder).isDir()) {
        const QString parent = QFileInfo(folder).path();
        if (parent == folder)
            return QDir::homePath();
        folder = parent;
    }
    return folder;
}

void rememberFolder(FolderPurpose purpose, const QString &folder)
{
    if (gIniCtrl && QDir::isAbsolutePath(folder))
        gIniCtrl->setString(section, keyOf(purpose), QDir::cleanPath(folder));
}
