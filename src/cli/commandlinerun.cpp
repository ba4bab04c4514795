// Extracts a list of archives from the command line.
#include "commandlinerun.h"

#include "archivesinfolder.h"
#include "clsarchive.h"
#include "commandline.h"
#include "namefolder.h"
#include "nativepath.h"
#include "pathtext.h"
#include "result.h"

#include <QDir>
#include <QFileInfo>
#include <QSet>

#include <sys/stat.h>
#include <unistd.h>

namespace {

// What the user reads.
const QString extractedLine = QStringLiteral("解凍しました: %1 → %2");
const QString failedLine = QStringLiteral("解凍できませんでした: %1: %2");
const QString noArchivesLine = QStringLiteral("書庫ファイルがありません: %1");
const QString progressLine = QStringLiteral("現在解凍中です... %1 / %2  %3");
const QString cannotMakeDestination = QStringLiteral("解凍先のフォルダを作成できません: %1");

QString absolute(const QString &path)
{
    return absoluteNativePath(path);
}

} // namespace

CommandLineRun::CommandLineRun(clsArchive &archive, std::FILE *out, std::FILE *err)
    : m_archive(archive)
    , m_out(out)
    , m_err(err)
    , m_progress(::isatty(::fileno(err)) == 1)
{
}

int CommandLineRun::run(const CommandLineOptions &options)
{
    QString destination = absolute(options.destination);
    if (!makeFolders(destination)) {
        print(m_err, cannotMakeDestination.arg(displayPath(destination)));
        return exitSomeFailed;
    }
    if (!destination.endsWith(u'/'))
        destination += u'/';
    m_archive.setRestoreFolder(!options.flatten);

    const QStringList archives = archivesToExtract(options.inputs);
    QList<ArchiveResult> failures;
    for (qsizetype i = 0; i < archives.size(); ++i) {
        showProgress(int(i) + 1, int(archives.size()), archives[i]);
        const ArchiveResult result = extractOne(archives[i], destination, options.nameFolders);
        clearProgress();
        if (result.failed()) {
            print(m_out, failedLine.arg(displayPath(result.path), ExtractRun::causeText(result)));
            failures.append(result);
        } else {
            print(m_out, extractedLine.arg(displayPath(result.path), displayPath(result.destination)));
        }
    }
    if (failures.isEmpty())
        return exitExtracted;
    print(m_err, ExtractRun::summaryText(failures));
    return exitSomeFailed;
}

QStringList CommandLineRun::archivesToExtract(const QStringList &inputs)
{
    QList<SupportType> types;
    m_archive.getSupportTypes(types);
    QStringList archives;
    QSet<QString> seen;
    const auto take = [&](const QString &path) {
        if (!seen.contains(path)) {
            seen.insert(path);
            archives << path;
        }
    };
    for (const QString &input : inputs) {
        const QString path = absolute(input);
        if (!isFolderAt(path)) {
            take(path);
            continue;
        }
        const QStringList found = archivesInFolder(path, types);
        if (found.isEmpty())
            print(m_err, noArchivesLine.arg(displayPath(path)));
        for (const QString &archive : found)
            take(absolute(archive));
    }
    return archives;
}

ArchiveResult CommandLineRun::extractOne(const QString &path, const QString &destination, bool nameFolders)
{
    ArchiveResult result;
    result.path = path;
    result.destination = destination;
    // Nothing is made for a file no library will take or that is not there.
    if (m_archive.isSupportFile(path) < 0) {
        result.code = -2;
        return result;
    }
    if (!isFileAt(path)) {
        result.code = TENVO_ERR_OPEN;
        return result;
    }
    if (nameFolders) {
        result.destination = freeNameFolderPath(nameFolderPath(destination, path));
        if (::mkdir(nativePath(result.destination).constData(), 0777) != 0) {
            result.skipped = true;
            return result;
        }
    }
    result.code = m_archive.extract(path, result.destination);
    return result;
}

void CommandLineRun::print(std::FILE *stream, const QString &text)
{
    std::fputs(text.toUtf8().constData(), stream);
    std::fputc('\n', stream);
    std::fflush(stream);
}

void CommandLineRun::showProgress(int index, int total, const QString &path)
{
    if (!m_progress)
        return;
    const QString name = displayPath(QFileInfo(path).fileName());
    std::fputs(("\r\x1b[K" + progressLine.arg(index).arg(total).arg(name)).toUtf8().constData(), m_err);
    std::fflush(m_err);
}

void CommandLineRun::clearProgress()
{
    if (!m_progress)
        return;
    std::fputs("\r\x1b[K", m_err);
    std::fflush(m_err);
}
