// One small archive of every type the program extracts.
#include "everytype.h"

#include "archivemaker.h"
#include "lzhwriter.h"
#include "module1.h"
#include "rar4writer.h"
#include "rar5writer.h"

#include <QDir>

#include <functional>

namespace tenvo::fixture {

namespace {

struct EveryTypeArchive
{
    QString fileName;
    FixtureEntries entries;
    std::function<bool(const QString &, const FixtureEntries &, std::string *)> write;
};

bool sevenZipRegistered()
{
    for (const SupportType &row : registrationRows()) {
        if (row.extension == u"7Z")
            return true;
    }
    return false;
}

QList<EveryTypeArchive> everyType()
{
    QList<EveryTypeArchive> archives = {
        {QStringLiteral("pack.lzh"), {FixtureEntry::directory("sub"), FixtureEntry::file("sub/one.txt", "one")},
         [](const QString &path, const FixtureEntries &entries, std::string *error) {
             return writeLzh(path, entries, {}, error);
         }},
        {QStringLiteral("box.cab"), {FixtureEntry::file("c/cab.txt", "cabinet")},
         [](const QString &path, const FixtureEntries &entries, std::string *error) {
             CabOptions options;
             options.mszip = true;
             return writeCab(path, entries, options, error);
         }},
        {QStringLiteral("docs.zip"),
         {FixtureEntry::file("top.txt", "top"), FixtureEntry::file("guide/read.txt", "read me")},
         [](const QString &path, const FixtureEntries &entries, std::string *error) {
             ZipOptions options;
             options.deflate = true;
             return writeZip(path, entries, options, error);
         }},
        {QStringLiteral("old.rar"), {FixtureEntry::file("four.txt", "four"), FixtureEntry::file("d4/x.txt", "x4")},
         [](const QString &path, const FixtureEntries &entries, std::string *error) {
             return writeRar4(path, entries, {}, error);
         }},
        {QStringLiteral("notes.rar"), {FixtureEntry::file("a/b/deep.txt", "deep")},
         [](const QString &path, const FixtureEntries &entries, std::string *error) {
             return writeRar5(path, entries, {}, error);
         }},
    };
    if (sevenZipRegistered()) {
        archives.append({QStringLiteral("seven.7z"), {FixtureEntry::file("s/seven.txt", "seven")},
                         [](const QString &path, const FixtureEntries &entries, std::string *error) {
                             return write7z(path, entries, {}, error);
                         }});
    }
    return archives;
}

} // namespace

bool writeEveryType(const QString &folder, std::string *error)
{
    for (const EveryTypeArchive &archive : everyType()) {
        if (!archive.write(QDir(folder).filePath(archive.fileName), archive.entries, error))
            return false;
    }
    return true;
}

QStringList everyTypeFileNames()
{
    QStringList names;
    for (const EveryTypeArchive &archive : everyType())
        names << archive.fileName;
    return names;
}

QMap<QString, QByteArray> everyTypeExtracted()
{
    QMap<QString, QByteArray> files;
    for (const EveryTypeArchive &archive : everyType()) {
        const QString folder = archive.fileName.section(u'.', 0, 0);
        for (const FixtureEntry &entry : archive.entries) {
            if (entry.kind == FixtureEntry::File)
                files.insert(folder + u'/' + QString::fromStdString(entry.name), QByteArray::fromStdString(entry.data));
        }
    }
    return files;
}

} // namespace tenvo::fixture
