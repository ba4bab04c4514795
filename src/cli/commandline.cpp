// The program's command line.
#include "commandline.h"

#include "clsarchive.h"
#include "commandlinerun.h"
#include "module1.h"
#include "nativepath.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QLibraryInfo>
#include <QLocale>
#include <QTranslator>

#include <cstdio>
#include <cstring>

namespace {

// What the user reads.
const QString description = QStringLiteral(
    "書庫ファイル一括解凍ユーティリティ\n"
    "ファイルやフォルダを指定するとそれらをリストに入れてウィンドウを開きます。\n"
    "--extract-to を指定するとウィンドウを開かずに解凍します。");
const QString extractToText = QStringLiteral("ウィンドウを開かずに書庫ファイルを DIR に解凍する");
const QString nameFoldersText = QStringLiteral("それぞれの書庫ファイル名でフォルダを作成し、そこに解凍する"
                                               "（同じ名前があれば「名前 (2)」などにする）");
const QString flattenText = QStringLiteral("書庫ファイル内のフォルダ構造を復元しない(RAR書庫以外)");
const QString inputsText = QStringLiteral("書庫ファイル、または書庫ファイルを探すフォルダ");
const QString needsExtractTo = QStringLiteral("--name-folders と --flatten は --extract-to と共に指定してください");
const QString needsDestination = QStringLiteral("解凍先のフォルダが空です");
const QString needsInputs = QStringLiteral("解凍する書庫ファイルかフォルダを指定してください");
const QString seeHelp = QStringLiteral("使い方は「%1 --help」で表示します");

int usageError(const QString &message)
{
    const QString program = QStringLiteral("tenvo");
    std::fputs((program + QStringLiteral(": ") + message + u'\n' + seeHelp.arg(program) + u'\n')
                   .toUtf8().constData(),
               stderr);
    return exitUsageError;
}

void printOut(const QString &text)
{
    std::fputs(text.toUtf8().constData(), stdout);
    std::fflush(stdout);
}

} // namespace

bool runsWithoutWindow(int argc, char **argv)
{
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--") == 0)
            return false;
        if (argv[i][0] == '-' && argv[i][1] != '\0')
            return true;
    }
    return false;
}

QStringList windowStartPaths(const QStringList &arguments)
{
    QStringList paths;
    bool sawSeparator = false;
    for (const QString &argument : arguments.mid(1)) {
        if (argument == u"--" && !sawSeparator) {
            sawSeparator = true;
            continue;
        }
        paths << absoluteNativePath(argument);
    }
    return paths;
}

int commandLineMain(const QStringList &arguments)
{
    // Qt's own words in the help and the parser's errors follow the user's
    // language, as Qt's dialogs do in the window.
    QTranslator qtTranslator;
    if (qtTranslator.load(QLocale(), QStringLiteral("qtbase"), QStringLiteral("_"),
                          QLibraryInfo::path(QLibraryInfo::TranslationsPath)))
        QCoreApplication::installTranslator(&qtTranslator);

    QCommandLineParser parser;
    parser.setApplicationDescription(description);
    const QCommandLineOption extractTo(QStringLiteral("extract-to"), extractToText, QStringLiteral("DIR"));
    const QCommandLineOption nameFolders(QStringLiteral("name-folders"), nameFoldersText);
    const QCommandLineOption flatten(QStringLiteral("flatten"), flattenText);
    parser.addOptions({extractTo, nameFolders, flatten});
    const QCommandLineOption help = parser.addHelpOption();
    const QCommandLineOption version = parser.addVersionOption();
    parser.addPositionalArgument(QStringLiteral("FILE|FOLDER"), inputsText, QStringLiteral("[FILE|FOLDER...]"));

    if (!parser.parse(arguments))
        return usageError(parser.errorText());
    if (parser.isSet(help)) {
        printOut(parser.helpText());
        return exitExtracted;
    }
    if (parser.isSet(version)) {
        printOut(QCoreApplication::applicationName() + u' ' + QCoreApplication::applicationVersion() + u'\n');
        return exitExtracted;
    }
    if (!parser.isSet(extractTo))
        return usageError(needsExtractTo);

    CommandLineOptions options;
    options.destination = parser.value(extractTo);
    options.nameFolders = parser.isSet(nameFolders);
    options.flatten = parser.isSet(flatten);
    options.inputs = parser.positionalArguments();
    if (options.destination.isEmpty())
        return usageError(needsDestination);
    if (options.inputs.isEmpty())
        return usageError(needsInputs);

    clsArchive archive;
    archive.setLibraryFolder(getAppPath());
    for (const SupportType &row : registrationRows())
        archive.addSupportType(row);
    CommandLineRun run(archive, stdout, stderr);
    return run.run(options);
}
