// The extraction run: works through the archive list, one archive per tick.
#include "extractrun.h"

#include "archiverlibrary.h"
#include "clsarchive.h"
#include "clslistctrl.h"
#include "globals.h"
#include "namefolder.h"
#include "pathtext.h"
#include "result.h"
#include "userdialogs.h"

namespace {

// What the user reads.
const QString preparingText = QStringLiteral("現在準備中です...");
const QString extractingText = QStringLiteral("現在解凍中です...");
const QString finishedText = QStringLiteral("解凍が終了しました");
const QString counterSeparator = QStringLiteral(" / ");
const QString summaryHeading = QStringLiteral("次の書庫ファイルは解凍できませんでした");
const QString summaryMore = QStringLiteral("ほか %1 件");
const QString causeOpen = QStringLiteral("書庫ファイルを開けません");
const QString causeFormat = QStringLiteral("対応していない形式です");
const QString causeDamaged = QStringLiteral("書庫ファイルが壊れています");
const QString causeEncrypted = QStringLiteral("パスワード付きの書庫です");
const QString causeVolume = QStringLiteral("分割書庫の先頭ではないか、一部が欠けています");
const QString causeUnsafe = QStringLiteral("安全でない項目を飛ばしました");
const QString causeWrite = QStringLiteral("解凍先に書き込めません");
const QString causeLibrary = QStringLiteral("この形式の解凍ライブラリを読み込めません");
const QString causeFolder = QStringLiteral("フォルダを作成できません");
const QString causeOther = QStringLiteral("解凍に失敗しました (%1)");

// A message box grows with its text; past this many archives the rest are
// only counted, so the box still fits on the screen.
constexpr int summaryLimit = 20;

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

ExtractRun::ExtractRun(ProgressView &view)
    : m_view(view)
{
    load();
}

void ExtractRun::load()
{
    m_currentIndex = 1;
    m_runState = Preparing;
    m_inTick = false;
    m_finished = false;
    m_results.clear();
}

void ExtractRun::setExtractFolder(const QString &folder)
{
    m_extractFolder = folder;
    if (!m_extractFolder.endsWith(u'/'))
        m_extractFolder += u'/';
}

void ExtractRun::tick()
{
    if (m_inTick)
        return;
    m_inTick = true;
    switch (m_runState) {
    case Preparing:
        prepare();
        break;
    case Extracting:
        extractNext();
        break;
    case Finishing:
        finish();
        break;
    }
    m_inTick = false;
}

void ExtractRun::prepare()
{
    m_view.setMessage(preparingText + QStringLiteral("\n\n0") + counterSeparator
                      + QString::number(m_totalCount));
    gListCtrl->setIndex();
    m_totalCount = gListCtrl->getCount();
    if (m_totalCount <= 0) {
        // Nothing to extract and no bar to divide: finish straight away.
        m_runState = Finishing;
        finish();
        return;
    }
    m_runState = Extracting;
}

void ExtractRun::extractNext()
{
    const QString path = gListCtrl->getItem(-1);
    if (path.isEmpty()) {
        m_runState = Finishing;
        m_view.repaintWindow();
        return;
    }
    m_view.setMessage(extractingText + u'\n' + displayPath(path) + QStringLiteral("\n\n")
                      + QString::number(m_currentIndex) + counterSeparator
                      + QString::number(m_totalCount));

    ArchiveResult result;
    result.path = path;
    result.destination = m_extractFolder;
    bool haveFolder = true;
    if (gMakeNameFolder) {
        result.destination = nameFolderPath(m_extractFolder, path);
        haveFolder = createNameFolder(result.destination, m_view.dialogOwner());
    }
    if (haveFolder)
        result.code = m_passwords.extract(*gArchive, path, result.destination,
                                          [this](const QString &prompt, const QString &title) {
                                              return userDialogs().password(m_view.dialogOwner(),
                                                                            prompt, title);
                                          });
    else
        result.skipped = true;
    m_results.append(result);

    m_view.drawProgressBar(barWidth(m_view.progressBoxWidth(), m_currentIndex, m_totalCount));
    ++m_currentIndex;
    m_view.repaintWindow();
}

void ExtractRun::finish()
{
    m_view.setMessage(finishedText);
    m_passwords.wipe();
    m_view.stopTimer();
    m_view.enableClose();
    m_finished = true;
    if (gDeleteFromList)
        gListCtrl->clear();

    QList<ArchiveResult> failures;
    for (const ArchiveResult &result : std::as_const(m_results)) {
        if (result.failed())
            failures.append(result);
    }
    if (!failures.isEmpty()) {
        // The user must see what went wrong, so the window stays open even
        // when it was asked to close by itself.
        m_view.repaintWindow();
        userDialogs().exclamation(m_view.dialogOwner(), summaryText(failures));
        return;
    }
    if (gCloseDialog)
        m_view.closeWindow();
}

int ExtractRun::barWidth(int boxWidth, int done, int total)
{
    // Scaled as a whole, not as a per-archive step that rounds to nothing
    // once there are more archives than pixels.
    return int(roundHalfToEven(qint64(boxWidth) * done, total));
}

QString ExtractRun::causeText(const ArchiveResult &result)
{
    if (result.skipped)
        return causeFolder;
    switch (result.code) {
    case TENVO_ERR_OPEN:
        return causeOpen;
    case TENVO_ERR_FORMAT:
    case -2:
        return causeFormat;
    case ArchiverLibrary::libraryUnavailable:
        return causeLibrary;
    case TENVO_ERR_DAMAGED:
        return causeDamaged;
    case TENVO_ERR_ENCRYPTED:
        return causeEncrypted;
    case TENVO_ERR_VOLUME:
        return causeVolume;
    case TENVO_ERR_UNSAFE:
        return causeUnsafe;
    case TENVO_ERR_WRITE:
        return causeWrite;
    default:
        return causeOther.arg(result.code);
    }
}

QString ExtractRun::summaryText(const QList<ArchiveResult> &failures)
{
    QString text = summaryHeading + u'\n';
    const qsizetype shown = qMin<qsizetype>(failures.size(), summaryLimit);
    for (qsizetype i = 0; i < shown; ++i) {
        const ArchiveResult &result = failures[i];
        text += u'\n' + displayPath(result.path) + QStringLiteral("\n　") + causeText(result);
    }
    if (failures.size() > shown)
        text += QStringLiteral("\n\n") + summaryMore.arg(failures.size() - shown);
    return text;
}
