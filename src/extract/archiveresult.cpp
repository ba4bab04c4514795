// How one archive of an extraction job ended, and the texts that say so.
#include "archiveresult.h"

#include "archiverlibrary.h"
#include "pathtext.h"
#include "result.h"

#include <QCoreApplication>

namespace {

// What the user reads.
QString summaryHeading() { return QCoreApplication::translate("ArchiveResult", "次の書庫ファイルは解凍できませんでした"); }
QString summaryMore() { return QCoreApplication::translate("ArchiveResult", "ほか %1 件"); }
QString shortenedHeading() { return QCoreApplication::translate("ArchiveResult", "次の書庫ファイルでは、長すぎる名前を短くして解凍しました"); }
QString shortenedCount() { return QCoreApplication::translate("ArchiveResult", "　%1 個の名前"); }
QString existingHeading() { return QCoreApplication::translate("ArchiveResult", "次の書庫ファイルでは、解凍先に同じ名前のファイルがありました"); }
QString existingKept() { return QCoreApplication::translate("ArchiveResult", "既存のファイル %1 個をそのまま残しました"); }
QString existingRenamed() { return QCoreApplication::translate("ArchiveResult", "%1 個のファイルを別の名前で解凍しました"); }
QString existingBoth()
{
    return QCoreApplication::translate("ArchiveResult", "既存のファイル %1 個をそのまま残し、%2 個のファイルを別の名前で解凍しました");
}
QString trashHeading() { return QCoreApplication::translate("ArchiveResult", "次の書庫ファイルはごみ箱に移動できませんでした"); }
QString trashDetail() { return QCoreApplication::translate("ArchiveResult", "　解凍は完了しています"); }
QString causeOpen() { return QCoreApplication::translate("ArchiveResult", "書庫ファイルを開けません"); }
QString causeFormat() { return QCoreApplication::translate("ArchiveResult", "対応していない形式です"); }
QString causeDamaged() { return QCoreApplication::translate("ArchiveResult", "書庫ファイルが壊れています"); }
QString causeEncrypted() { return QCoreApplication::translate("ArchiveResult", "パスワード付きの書庫です"); }
QString causeVolume() { return QCoreApplication::translate("ArchiveResult", "分割書庫の先頭ではないか、一部が欠けています"); }
QString causeUnsafe() { return QCoreApplication::translate("ArchiveResult", "安全でない項目を飛ばしました"); }
QString causeWrite() { return QCoreApplication::translate("ArchiveResult", "解凍先に書き込めません"); }
QString causeEnded() { return QCoreApplication::translate("ArchiveResult", "解凍処理が途中で終了しました"); }
QString causeMethod() { return QCoreApplication::translate("ArchiveResult", "対応していない圧縮方式です"); }
QString causeForbidden() { return QCoreApplication::translate("ArchiveResult", "許可されていない操作をしようとしたため解凍を中止しました"); }
QString causeLibrary() { return QCoreApplication::translate("ArchiveResult", "この形式の解凍ライブラリを読み込めません"); }
QString causeFolder() { return QCoreApplication::translate("ArchiveResult", "フォルダを作成できません"); }
QString causeSkipped() { return QCoreApplication::translate("ArchiveResult", "解凍を飛ばしました"); }
QString causeStopped() { return QCoreApplication::translate("ArchiveResult", "中止したため解凍していません"); }
QString causeStoppedPartly() { return QCoreApplication::translate("ArchiveResult", "中止したため一部のファイルだけを解凍しました"); }
QString causeOther() { return QCoreApplication::translate("ArchiveResult", "解凍に失敗しました (%1)"); }
QString nestedHeading() { return QCoreApplication::translate("ArchiveResult", "次の書庫ファイルの中の書庫ファイルは解凍できませんでした"); }
QString nestedRow() { return QCoreApplication::translate("ArchiveResult", "　%1: %2"); }
QString nestedExtractedLine() { return QCoreApplication::translate("ArchiveResult", "　中の書庫ファイル %1 個を解凍しました"); }
QString nestedLeftLine() { return QCoreApplication::translate("ArchiveResult", "　中の書庫ファイルを解凍できませんでした: %1: %2"); }

// A message box grows with its text; past this many archives the rest are
// only counted, and past nestedLimit the inner archives of one archive.
constexpr int summaryLimit = 20;
constexpr int nestedLimit = 5;

QString nestedRowText(const QString &pair, const QString &format)
{
    return format.arg(displayPath(pair.section(u'\t', 0, 0)), pair.section(u'\t', 1));
}

// numerator / denominator to the nearest integer, an exact half going to the
// even neighbour.
qint64 roundHalfToEven(qint64 numerator, qint64 denominator)
{
    const qint64 quotient = numerator / denominator;
    const qint64 twiceRemainder = 2 * (numerator % denominator);
    if (twiceRemainder > denominator || (twiceRemainder == denominator && quotient % 2 != 0))
        return quotient + 1;
    return quotient;
}

} // namespace

QString indentText() { return QCoreApplication::translate("ArchiveResult", "　", "indent"); }

QString causeText(const ArchiveResult &result)
{
    if (result.stopped)
        return result.landed > 0 ? causeStoppedPartly() : causeStopped();
    if (result.skippedByUser)
        return causeSkipped();
    if (result.skipped)
        return causeFolder();
    switch (result.code) {
    case TENVO_ERR_OPEN:
        return causeOpen();
    case TENVO_ERR_FORMAT:
    case -2:
        return causeFormat();
    case ArchiverLibrary::libraryUnavailable:
    case TENVO_ERR_DECODER:
        return causeLibrary();
    case TENVO_ERR_DAMAGED:
        return causeDamaged();
    case TENVO_ERR_ENCRYPTED:
        return causeEncrypted();
    case TENVO_ERR_VOLUME:
        return causeVolume();
    case TENVO_ERR_UNSAFE:
        return causeUnsafe();
    case TENVO_ERR_WRITE:
        return causeWrite();
    case TENVO_ERR_ENDED:
        return causeEnded();
    case TENVO_ERR_METHOD:
        return causeMethod();
    case TENVO_ERR_FORBIDDEN:
        return causeForbidden();
    default:
        return causeOther().arg(result.code);
    }
}

QString existingFilesText(const ArchiveResult &result)
{
    if (result.kept > 0 && result.renamed > 0)
        return existingBoth().arg(result.kept).arg(result.renamed);
    if (result.kept > 0)
        return existingKept().arg(result.kept);
    if (result.renamed > 0)
        return existingRenamed().arg(result.renamed);
    return QString();
}

QString summaryText(const QList<ArchiveResult> &results)
{
    QList<const ArchiveResult *> failures;
    QList<const ArchiveResult *> shortened;
    QList<const ArchiveResult *> existing;
    QList<const ArchiveResult *> untrashed;
    QList<const ArchiveResult *> nested;
    for (const ArchiveResult &result : results) {
        if (result.failed())
            failures.append(&result);
        if (!result.shortened.isEmpty())
            shortened.append(&result);
        if (result.kept > 0 || result.renamed > 0)
            existing.append(&result);
        if (result.trashFailed)
            untrashed.append(&result);
        if (!result.nestedLeft.isEmpty())
            nested.append(&result);
    }
    QString text;
    const auto list = [&text](const QString &heading, const QList<const ArchiveResult *> &rows,
                              const auto &detail) {
        if (rows.isEmpty())
            return;
        if (!text.isEmpty())
            text += QStringLiteral("\n\n");
        text += heading + u'\n';
        const qsizetype shown = qMin<qsizetype>(rows.size(), summaryLimit);
        for (qsizetype i = 0; i < shown; ++i)
            text += u'\n' + displayPath(rows[i]->path) + QStringLiteral("\n") + detail(*rows[i]);
        if (rows.size() > shown)
            text += QStringLiteral("\n\n") + summaryMore().arg(rows.size() - shown);
    };
    list(summaryHeading(), failures,
         [](const ArchiveResult &result) { return indentText() + causeText(result); });
    list(shortenedHeading(), shortened,
         [](const ArchiveResult &result) { return shortenedCount().arg(result.shortened.size()); });
    list(existingHeading(), existing,
         [](const ArchiveResult &result) { return indentText() + existingFilesText(result); });
    list(trashHeading(), untrashed, [](const ArchiveResult &) { return trashDetail(); });
    list(nestedHeading(), nested, [](const ArchiveResult &result) {
        const qsizetype shown = qMin<qsizetype>(result.nestedLeft.size(), nestedLimit);
        QStringList rows;
        for (qsizetype i = 0; i < shown; ++i)
            rows.append(nestedRowText(result.nestedLeft[i], nestedRow()));
        if (result.nestedLeft.size() > shown)
            rows.append(indentText() + summaryMore().arg(result.nestedLeft.size() - shown));
        return rows.join(u'\n');
    });
    return text;
}

QStringList nestedLines(const ArchiveResult &result, bool withCount)
{
    QStringList lines;
    if (withCount && result.nestedExtracted > 0)
        lines.append(nestedExtractedLine().arg(result.nestedExtracted));
    for (const QString &pair : result.nestedLeft)
        lines.append(nestedRowText(pair, nestedLeftLine()));
    return lines;
}

int barWidth(int boxWidth, qint64 done, qint64 total)
{
    // Scaled as a whole, not as a per-archive step that rounds to nothing
    // once there are more archives than pixels.
    return int(roundHalfToEven(qint64(boxWidth) * qBound<qint64>(0, done, total), total));
}
