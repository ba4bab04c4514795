// Extracts a list of archives from the command line through the extraction
// job.
#include "commandlinerun.h"

#include "archiveresult.h"

#include "archivesinfolder.h"
#include "clsarchive.h"
#include "commandline.h"
#include "nativepath.h"
#include "passwordstore.h"
#include "pathtext.h"
#include "result.h"
#include "timeleft.h"

#include <QCoreApplication>
#include <QDir>
#include <QEventLoop>
#include <QFile>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QSet>
#include <QSocketNotifier>

#include <cerrno>
#include <csignal>
#include <fcntl.h>
#include <termios.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

// What the user reads.
QString extractedLine() { return QCoreApplication::translate("CommandLineRun", "解凍しました: %1 → %2"); }
QString failedLine() { return QCoreApplication::translate("CommandLineRun", "解凍できませんでした: %1: %2"); }
QString shortenedLine() { return QCoreApplication::translate("CommandLineRun", "　名前を短くしました: %1 → %2"); }
QString noArchivesLine() { return QCoreApplication::translate("CommandLineRun", "書庫ファイルがありません: %1"); }
QString nothingToExtract() { return QCoreApplication::translate("CommandLineRun", "解凍する書庫ファイルが見つかりませんでした"); }
QString progressLine()
{
    return QCoreApplication::translate("CommandLineRun", "現在解凍中です... %1 / %2  %3  %4 / %5 (%6%)");
}
QString timeLeftLine() { return QCoreApplication::translate("CommandLineRun", "  残り %1"); }
QString cannotMakeDestination() { return QCoreApplication::translate("CommandLineRun", "解凍先のフォルダを作成できません: %1"); }
QString cannotReadPasswords() { return QCoreApplication::translate("CommandLineRun", "パスワードのファイルを読み込めません: %1"); }
QString passwordPrompt() { return QCoreApplication::translate("CommandLineRun", "%1 (空行で飛ばす、Ctrl+C で中止): "); }
QString stoppedBySignal() { return QCoreApplication::translate("CommandLineRun", "中止しました"); }
QString noKeyring() { return QCoreApplication::translate("CommandLineRun", "デスクトップのキーリングが動いていないため、記憶したパスワードを使えません"); }
QString cannotOpenDestination() { return QCoreApplication::translate("CommandLineRun", "解凍先のフォルダを開けません: %1"); }
QString trashedLine() { return QCoreApplication::translate("CommandLineRun", "　書庫ファイルをごみ箱に移しました"); }

// Shows folder in the desktop's file manager, through xdg-open as every
// desktop provides it; no window of ours is needed.
bool openInFileManager(const QString &folder)
{
    QProcess opener;
    opener.setProgram(QStringLiteral("xdg-open"));
    opener.setArguments({folder});
    opener.setStandardInputFile(QProcess::nullDevice());
    opener.setStandardOutputFile(QProcess::nullDevice());
    return opener.startDetached();
}

QString absolute(const QString &path)
{
    return absoluteNativePath(path);
}

QString sizeText(quint64 bytes)
{
    if (bytes < 1024 * 1024)
        return QStringLiteral("%1 KiB").arg(double(bytes) / 1024, 0, 'f', 1);
    if (bytes < quint64(1024) * 1024 * 1024)
        return QStringLiteral("%1 MiB").arg(double(bytes) / (1024 * 1024), 0, 'f', 1);
    return QStringLiteral("%1 GiB").arg(double(bytes) / (1024.0 * 1024 * 1024), 0, 'f', 2);
}

// SIGINT and SIGTERM reach the event loop through a pipe; a blocking read
// of a password is interrupted by them (no SA_RESTART).
int signalPipe[2] = {-1, -1};
volatile std::sig_atomic_t caughtSignal = 0;

void onSignal(int number)
{
    if (caughtSignal == 0)
        caughtSignal = number;
    const int saved = errno;
    const char byte = char(number);
    [[maybe_unused]] const ssize_t written = ::write(signalPipe[1], &byte, 1);
    errno = saved;
}

class SignalCatcher
{
public:
    SignalCatcher()
    {
        caughtSignal = 0;
        if (::pipe2(signalPipe, O_CLOEXEC | O_NONBLOCK) != 0)
            return;
        struct sigaction action = {};
        action.sa_handler = onSignal;
        sigemptyset(&action.sa_mask);
        ::sigaction(SIGINT, &action, &m_oldInt);
        ::sigaction(SIGTERM, &action, &m_oldTerm);
        m_installed = true;
    }
    ~SignalCatcher()
    {
        if (!m_installed)
            return;
        ::sigaction(SIGINT, &m_oldInt, nullptr);
        ::sigaction(SIGTERM, &m_oldTerm, nullptr);
        ::close(signalPipe[0]);
        ::close(signalPipe[1]);
        signalPipe[0] = signalPipe[1] = -1;
    }
    int readFd() const { return m_installed ? signalPipe[0] : -1; }

private:
    struct sigaction m_oldInt = {};
    struct sigaction m_oldTerm = {};
    bool m_installed = false;
};

} // namespace

CommandLineRun::CommandLineRun(clsArchive &archive, std::FILE *out, std::FILE *err, std::FILE *in)
    : m_archive(archive)
    , m_out(out)
    , m_err(err)
    , m_in(in)
    , m_progress(::isatty(::fileno(err)) == 1)
{
}

int CommandLineRun::run(const CommandLineOptions &options)
{
    m_output = options.output;
    if (m_output == CommandLineOptions::Output::Quiet || m_output == CommandLineOptions::Output::Json)
        m_progress = false;
    QString destination = absolute(options.destination);
    if (!makeFolders(destination)) {
        print(m_err, cannotMakeDestination().arg(displayPath(destination)));
        return exitSomeFailed;
    }

    ExtractOptions jobOptions;
    jobOptions.destination = destination;
    jobOptions.nameFolders = options.nameFolders;
    jobOptions.restorePaths = !options.flatten;
    jobOptions.parallel = options.parallel;
    jobOptions.freeNameFolders = true;
    jobOptions.smartFolders = options.nameFolders && options.smartFolders;
    jobOptions.existing = options.existing;
    jobOptions.skipJunk = !options.keepJunk;
    jobOptions.nested = options.nested;
    jobOptions.trashArchives = options.trashArchives;
    jobOptions.wantLandedNames = m_output == CommandLineOptions::Output::Verbose;
    jobOptions.encoding = options.encoding;
    if (options.keyring) {
        // The window's remembered passwords go first, as they do there.
        PasswordStore store;
        if (store.available())
            jobOptions.passwords = store.passwords();
        else
            print(m_err, noKeyring());
    }
    if (!options.passwordFile.isEmpty() && !readPasswordFile(options.passwordFile, jobOptions.passwords)) {
        print(m_err, cannotReadPasswords().arg(displayPath(options.passwordFile)));
        return exitSomeFailed;
    }

    bool allFound = true;
    const QStringList archives = archivesToExtract(options.inputs, &allFound);
    if (archives.isEmpty()) {
        wipeSecrets(jobOptions.passwords);
        print(m_err, nothingToExtract());
        return exitSomeFailed;
    }

    const SignalCatcher catcher;
    ExtractJob job(m_archive, archives, jobOptions);
    wipeSecrets(jobOptions.passwords);
    m_job = &job;
    QEventLoop loop;
    std::unique_ptr<QSocketNotifier> signalNotifier;
    if (catcher.readFd() >= 0) {
        signalNotifier = std::make_unique<QSocketNotifier>(catcher.readFd(), QSocketNotifier::Read);
        QObject::connect(signalNotifier.get(), &QSocketNotifier::activated, &job, [&job] {
            char bytes[16];
            while (::read(signalPipe[0], bytes, sizeof bytes) > 0) {
            }
            job.stop();
        });
    }
    QObject::connect(&job, &ExtractJob::archiveStarted, this, [this](int, const QString &path) {
        m_current = displayPath(QFileInfo(path).fileName());
        showProgress();
    });
    QObject::connect(&job, &ExtractJob::bytesProgress, this, [this] { showProgress(); });
    QObject::connect(&job, &ExtractJob::archiveFinished, this,
                     [this](int, const ArchiveResult &result) { archiveFinished(result); });
    QObject::connect(&job, &ExtractJob::question, this, &CommandLineRun::answer, Qt::QueuedConnection);
    QObject::connect(&job, &ExtractJob::finished, &loop, &QEventLoop::quit, Qt::QueuedConnection);
    job.start();
    loop.exec();
    clearProgress();
    m_job = nullptr;

    const int signal = caughtSignal;
    bool anyFailed = !allFound;
    for (const ArchiveResult &result : job.results())
        anyFailed = anyFailed || result.failed();
    const QString summary = summaryText(job.results());
    if (!summary.isEmpty() && m_output != CommandLineOptions::Output::Json)
        print(m_err, summary);
    if (signal != 0) {
        print(m_err, stoppedBySignal());
        return 128 + signal;
    }
    if (options.openDestination && !openInFileManager(destination))
        print(m_err, cannotOpenDestination().arg(displayPath(destination)));
    return anyFailed ? exitSomeFailed : exitExtracted;
}

QStringList CommandLineRun::archivesToExtract(const QStringList &inputs, bool *allFound)
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
        if (found.isEmpty()) {
            print(m_err, noArchivesLine().arg(displayPath(path)));
            *allFound = false;
        }
        for (const QString &archive : found)
            take(absolute(archive));
    }
    return archives;
}

bool CommandLineRun::readPasswordFile(const QString &path, QStringList &passwords)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return false;
    QByteArray bytes = file.readAll();
    const bool read = file.error() == QFileDevice::NoError;
    for (QByteArray line : bytes.split('\n')) {
        if (line.endsWith('\r'))
            line.chop(1);
        if (!line.isEmpty())
            passwords.append(QString::fromUtf8(line));
        wipeSecret(line);
    }
    wipeSecret(bytes);
    return read;
}

void CommandLineRun::answer(JobQuestion *question)
{
    if (!question->isOpen())
        return;
    switch (question->kind()) {
    case JobQuestion::FolderFailed:
        print(m_err, question->text());
        question->answer(QString());
        return;
    case JobQuestion::NameFolderTaken:
        // Not asked: the job takes the next free name itself.
        question->skip();
        return;
    case JobQuestion::Password: {
        // Asked only on a terminal; elsewhere the archive stays encrypted.
        if (::isatty(::fileno(m_in)) != 1) {
            question->skip();
            return;
        }
        bool stop = false;
        QString password = askPassword(*question, &stop);
        if (stop || caughtSignal != 0)
            question->stopRun();
        else if (password.isEmpty())
            question->skip();
        else
            question->answer(password);
        wipeSecret(password);
        return;
    }
    }
}

QString CommandLineRun::askPassword(const JobQuestion &question, bool *stop)
{
    clearProgress();
    print(m_err, question.text());
    std::fputs(passwordPrompt().arg(question.title()).toUtf8().constData(), m_err);
    std::fflush(m_err);
    const int fd = ::fileno(m_in);
    termios saved;
    const bool terminal = ::tcgetattr(fd, &saved) == 0;
    if (terminal) {
        termios quiet = saved;
        quiet.c_lflag &= ~tcflag_t(ECHO);
        ::tcsetattr(fd, TCSAFLUSH, &quiet);
    }
    QByteArray line;
    for (;;) {
        char byte = 0;
        const ssize_t got = ::read(fd, &byte, 1);
        if (got < 0 && errno == EINTR && caughtSignal == 0)
            continue;
        if (got <= 0) {
            *stop = caughtSignal != 0;
            break;
        }
        if (byte == '\n')
            break;
        line.append(byte);
    }
    if (terminal)
        ::tcsetattr(fd, TCSAFLUSH, &saved);
    std::fputc('\n', m_err);
    QString password = QString::fromUtf8(line);
    wipeSecret(line);
    return password;
}

void CommandLineRun::archiveFinished(const ArchiveResult &result)
{
    clearProgress();
    using Output = CommandLineOptions::Output;
    if (m_output == Output::Json) {
        printJson(result);
    } else if (result.failed()) {
        print(m_out, failedLine().arg(displayPath(result.path), causeText(result)));
        // The library's own words name the entry a cause concerns.
        if (!result.message.isEmpty() && !result.stopped && !result.skippedByUser)
            print(m_out, indentText() + displayPath(result.message));
    } else if (m_output != Output::Quiet) {
        print(m_out, extractedLine().arg(displayPath(result.path), displayPath(result.destination)));
    }
    if (m_output != Output::Json) {
        if (result.trashed && m_output != Output::Quiet)
            print(m_out, trashedLine());
        if (const QString existing = existingFilesText(result); !existing.isEmpty())
            print(m_out, indentText() + existing);
        for (const QString &pair : result.shortened)
            print(m_out, shortenedLine().arg(displayPath(pair.section(u'\t', 0, 0)),
                                           displayPath(pair.section(u'\t', 1))));
        for (const QString &line : nestedLines(result, m_output != Output::Quiet))
            print(m_out, line);
    }
    if (m_output == Output::Verbose) {
        for (const QString &name : result.landedNames)
            print(m_out, indentText() + displayPath(name));
    }
    showProgress();
}

void CommandLineRun::printJson(const ArchiveResult &result)
{
    QJsonArray shortened;
    for (const QString &pair : result.shortened)
        shortened.append(QJsonObject{{QStringLiteral("stored"), pair.section(u'\t', 0, 0)},
                                     {QStringLiteral("landed"), pair.section(u'\t', 1)}});
    QJsonArray nestedLeft;
    for (const QString &pair : result.nestedLeft)
        nestedLeft.append(QJsonObject{{QStringLiteral("path"), pair.section(u'\t', 0, 0)},
                                      {QStringLiteral("cause"), pair.section(u'\t', 1)}});
    int code = result.code;
    if (result.stopped)
        code = TENVO_ERR_STOPPED;
    const QJsonObject object{
        {QStringLiteral("path"), result.path},
        {QStringLiteral("destination"), result.destination},
        {QStringLiteral("result"), code},
        {QStringLiteral("extracted"), !result.failed()},
        {QStringLiteral("cause"), result.failed() ? causeText(result) : QString()},
        {QStringLiteral("message"), result.message},
        {QStringLiteral("entries"), result.landed},
        {QStringLiteral("bytes"), result.bytes},
        {QStringLiteral("seconds"), result.seconds},
        {QStringLiteral("shortened"), shortened},
        {QStringLiteral("kept"), result.kept},
        {QStringLiteral("renamed"), result.renamed},
        {QStringLiteral("trashed"), result.trashed},
        {QStringLiteral("nestedExtracted"), result.nestedExtracted},
        {QStringLiteral("nestedLeft"), nestedLeft},
    };
    std::fputs(QJsonDocument(object).toJson(QJsonDocument::Compact).constData(), m_out);
    std::fputc('\n', m_out);
    std::fflush(m_out);
}

void CommandLineRun::print(std::FILE *stream, const QString &text)
{
    std::fputs(text.toUtf8().constData(), stream);
    std::fputc('\n', stream);
    std::fflush(stream);
}

void CommandLineRun::showProgress()
{
    if (!m_progress || !m_job)
        return;
    const JobProgress progress = m_job->progress();
    const int percent = progress.bytesTotal > 0 ? int(progress.bytesDone * 100 / progress.bytesTotal) : 0;
    QString line = progressLine().arg(progress.archivesDone)
                       .arg(progress.archivesTotal)
                       .arg(m_current, sizeText(progress.bytesDone), sizeText(progress.bytesTotal))
                       .arg(percent);
    if (progress.runningTotal > 0)
        line += QStringLiteral(" [%1%]").arg(progress.runningDone * 100 / progress.runningTotal);
    if (const TimeLeft left = timeLeft(progress); left.known)
        line += timeLeftLine().arg(durationText(left.seconds));
    std::fputs(("\r\x1b[K" + line).toUtf8().constData(), m_err);
    std::fflush(m_err);
    m_progressShown = true;
}

void CommandLineRun::clearProgress()
{
    if (!m_progressShown)
        return;
    std::fputs("\r\x1b[K", m_err);
    std::fflush(m_err);
    m_progressShown = false;
}
