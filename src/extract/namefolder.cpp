// The folder of its own that each archive of a run can be extracted into.
#include "namefolder.h"

#include "nativepath.h"
#include "pathtext.h"

#include <sys/stat.h>

#include <cerrno>
#include <cstring>

#include <QCoreApplication>

namespace {

// What the user reads.
QString folderWord() { return QCoreApplication::translate("NameFolder", "フォルダ "); }
QString alreadyExists() { return QCoreApplication::translate("NameFolder", " は既に存在しています。"); }
QString useAnotherName() { return QCoreApplication::translate("NameFolder", "別の名前でフォルダを作成してください"); }
QString renamePrompt() { return QCoreApplication::translate("NameFolder", "変更するフォルダ名を入力してください"); }
QString renameTitle() { return QCoreApplication::translate("NameFolder", "フォルダ名の変更"); }
QString cannotCreate() { return QCoreApplication::translate("NameFolder", " を作成できません。"); }
QString slashInName() { return QCoreApplication::translate("NameFolder", "フォルダ名に「/」は使えません"); }
QString badCharacterInName() { return QCoreApplication::translate("NameFolder", "フォルダ名に使えない文字が含まれています"); }
QString missingParent() { return QCoreApplication::translate("NameFolder", "親フォルダがありません"); }
QString fileInTheWay() { return QCoreApplication::translate("NameFolder", "同じ名前のファイルがあります"); }
QString folderAppeared() { return QCoreApplication::translate("NameFolder", "同じ名前のフォルダが既にあります"); }
QString noPermission() { return QCoreApplication::translate("NameFolder", "書き込む権限がありません"); }
QString nameTooLong() { return QCoreApplication::translate("NameFolder", "名前が長すぎます"); }
QString diskFull() { return QCoreApplication::translate("NameFolder", "ディスクに空きがありません"); }

QString causeOf(int error, const QString &path)
{
    switch (error) {
    case ENOENT:
    case ENOTDIR:
        return missingParent();
    case EEXIST:
        return isFolderAt(path) ? folderAppeared() : fileInTheWay();
    case EACCES:
    case EPERM:
    case EROFS:
        return noPermission();
    case ENAMETOOLONG:
        return nameTooLong();
    case ENOSPC:
    case EDQUOT:
        return diskFull();
    default:
        return QString::fromLocal8Bit(std::strerror(error));
    }
}

} // namespace

QString nameFolderPath(const QString &extractFolder, const QString &archivePath)
{
    // A file name that is not UTF-8 names its folder as the user reads it.
    const QString fileName = readablePath(archivePath.mid(archivePath.lastIndexOf(u'/') + 1));
    const qsizetype dot = fileName.lastIndexOf(u'.');
    QString name = fileName.left(dot);
    // A compressed tar archive is named by what comes before ".tar":
    // "data.tar.gz" gives "data", as "data.tgz" does.
    static const QStringList compressors{QStringLiteral("gz"), QStringLiteral("bz2"),
                                         QStringLiteral("xz"), QStringLiteral("zst")};
    if (dot > 0 && compressors.contains(fileName.mid(dot + 1), Qt::CaseInsensitive)
        && name.endsWith(QStringLiteral(".tar"), Qt::CaseInsensitive) && name.size() > 4)
        name.chop(4);
    // A file name such as ".zip", or one without a dot, leaves no name before
    // the dot; the archive's whole file name serves instead.
    if (dot < 0 || name.isEmpty())
        name = fileName;
    return extractFolder + name + u'/';
}

QString freeNameFolderPath(const QString &path)
{
    const QString base = path.endsWith(u'/') ? path.chopped(1) : path;
    QString candidate = base;
    // A dangling link is in the way too, so the entry itself is looked at.
    for (int n = 2; entryExistsAt(candidate); ++n)
        candidate = base + QStringLiteral(" (%1)").arg(n);
    return candidate + u'/';
}

QString nameFolderTakenText(const QString &path)
{
    return folderWord() + displayPath(path) + alreadyExists() + u'\n' + useAnotherName();
}

QString renamePromptText()
{
    return renamePrompt();
}

QString renameTitleText()
{
    return renameTitle();
}

QString makeNameFolder(const QString &path)
{
    if (::mkdir(nativePath(path).constData(), 0777) == 0)
        return QString();
    const int error = errno;
    return folderWord() + displayPath(path) + cannotCreate() + u'\n' + causeOf(error, path);
}

QString renamedNameFolder(const QString &path, const QString &name, QString *problem)
{
    QString folder = path.endsWith(u'/') ? path.chopped(1) : path;
    const qsizetype slash = folder.lastIndexOf(u'/');
    if (name.isEmpty())
        return folder + u'/';
    folder = folder.left(slash + 1) + name + u'/';
    // The answer names one folder beside the others; a "/" would lead
    // elsewhere and a NUL would cut the name short on its way to the file
    // system.
    const QString cause = name.contains(u'/') ? slashInName()
        : name.contains(QChar(u'\0'))      ? badCharacterInName()
                                           : QString();
    if (!cause.isEmpty()) {
        if (problem)
            *problem = folderWord() + displayPath(folder) + cannotCreate() + u'\n' + cause;
        return QString();
    }
    return folder;
}
