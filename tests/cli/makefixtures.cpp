// Writes the every-type archives into FOLDER/in and what extracting them into
// name folders gives into FOLDER/expected, for scripts/installcheck.sh.
#include "everytype.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <cstdio>

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    if (argc != 2) {
        std::fprintf(stderr, "usage: %s FOLDER\n", argv[0]);
        return 2;
    }
    const QDir folder(QString::fromLocal8Bit(argv[1]));
    std::string error;
    if (!QDir().mkpath(folder.filePath(QStringLiteral("in")))
        || !tenvo::fixture::writeEveryType(folder.filePath(QStringLiteral("in")), &error)) {
        std::fprintf(stderr, "cannot write the archives: %s\n", error.c_str());
        return 1;
    }
    const QMap<QString, QByteArray> files = tenvo::fixture::everyTypeExtracted();
    for (auto it = files.begin(); it != files.end(); ++it) {
        const QString path = folder.filePath(QStringLiteral("expected/") + it.key());
        QFile file(path);
        if (!QDir().mkpath(QFileInfo(path).path()) || !file.open(QIODevice::WriteOnly)
            || file.write(it.value()) != it.value().size()) {
            std::fprintf(stderr, "cannot write %s\n", qPrintable(path));
            return 1;
        }
    }
    return 0;
}
