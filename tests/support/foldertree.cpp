// What a folder holds, as lines a test can compare in one go.
#include "foldertree.h"

#include <QCryptographicHash>
#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QFileInfo>

namespace tenvo::test {

QString md5Hex(const QByteArray &data)
{
    return QString::fromLatin1(QCryptographicHash::hash(data, QCryptographicHash::Md5).toHex());
}

QStringList folderTree(const QString &folder)
{
    QStringList out;
    QDirIterator it(folder, QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden | QDir::System,
                    QDirIterator::Subdirectories);
    while (it.hasNext()) {
        const QString path = it.next();
        const QString shown = QDir(folder).relativeFilePath(path);
        const QFileInfo info(path);
        if (info.isSymLink()) {
            out << shown + " -> " + info.symLinkTarget().section(u'/', -1);
        } else if (info.isDir()) {
            out << shown + "/";
        } else {
            QFile file(path);
            out << shown + " = "
                    + (file.open(QIODevice::ReadOnly) ? md5Hex(file.readAll()) : QStringLiteral("<unreadable>"));
        }
    }
    out.sort();
    return out;
}

} // namespace tenvo::test
