// The program's command line.
#include "commandline.h"

#include "clsarchive.h"
#include "clsinictrl.h"
#include "commandlinerun.h"
#include "module1.h"
#include "nameencoding.h"
#include "nativepath.h"
#include "sandbox.h"
#include "translations.h"

#include <QCommandLineParser>
#include <QCoreApplication>

#include <cstdio>
#include <cstring>

namespace {

// What the user reads.
QString description()
{
    return QCoreApplication::translate("CommandLine",
                                       "書庫ファイル一括解凍ユーティリティ\n"
                                       "ファイルやフォルダを指定するとそれらをリストに入れてウィンドウを開きます。\n"
                                       "--extract-to を指定するとウィンドウを開かずに解凍します。");
}
QString extractToText() { return QCoreApplication::translate("CommandLine", "ウィンドウを開かずに書庫ファイルを DIR に解凍する"); }
QString nameFoldersText()
{
    return QCoreApplication::translate("CommandLine",
                                       "それぞれの書庫ファイル名でフォルダを作成し、そこに解凍する"
                                       "（同じ名前があれば「名前 (2)」などにする）");
}
QString flattenText() { return QCoreApplication::translate("CommandLine", "書庫ファイル内のフォルダ構造を復元しない(RAR書庫以外)"); }
QString parallelText()
{
    return QCoreApplication::translate("CommandLine", "同時に解凍する書庫ファイルの数（既定: 設定ファイルの Parallel、なければ CPU の数）");
}
QString passwordFileText()
{
    return QCoreApplication::translate("CommandLine", "パスワード付きの書庫に順に試すパスワードを1行に1つずつ書いたファイル（UTF-8）");
}
QString smartFoldersText()
{
    return QCoreApplication::translate("CommandLine",
                                       "--name-folders と共に: 中身がフォルダ1つかファイル1つだけの書庫には"
                                       "フォルダを作成せず、そのまま解凍先に置く");
}
QString existingText()
{
    return QCoreApplication::translate("CommandLine",
                                       "解凍先に同じ名前のファイルがあるとき: overwrite（上書きする、既定）、"
                                       "skip（今あるファイルを残す）、rename（名前を変えて両方残す）、"
                                       "newer（書庫のファイルが新しいときだけ上書きする）");
}
QString keepJunkText()
{
    return QCoreApplication::translate("CommandLine", "__MACOSX、.DS_Store、Thumbs.db、desktop.ini も解凍する");
}
QString nestedText() { return QCoreApplication::translate("CommandLine", "書庫の中の書庫も、その隣の同じ名前のフォルダに解凍する（3階層まで）"); }
QString trashArchivesText() { return QCoreApplication::translate("CommandLine", "すべて解凍できた書庫ファイルをごみ箱に移す（分割書庫はすべての部分）"); }
QString openDestinationText() { return QCoreApplication::translate("CommandLine", "解凍が終わったら解凍先のフォルダをファイルマネージャで開く"); }
QString encodingText()
{
    return QCoreApplication::translate("CommandLine", "すべての書庫のファイル名をこの文字コードで読む: %1（既定: 書庫ごとに自動）");
}
QString keyringText() { return QCoreApplication::translate("CommandLine", "ウィンドウで記憶したパスワード（デスクトップのキーリング）も順に試す"); }
QString badEncoding() { return QCoreApplication::translate("CommandLine", "--encoding には次のどれかを指定してください: %1"); }
QString badExisting()
{
    return QCoreApplication::translate("CommandLine", "--existing には overwrite、skip、rename、newer のどれかを指定してください");
}
QString smartNeedsNameFolders()
{
    return QCoreApplication::translate("CommandLine", "--smart-folders は --name-folders と共に指定してください");
}
QString quietText() { return QCoreApplication::translate("CommandLine", "解凍できなかった書庫ファイルだけを表示する"); }
QString verboseText()
{
    return QCoreApplication::translate("CommandLine", "解凍したファイルをすべて表示する（--version と共に: 解凍処理の保護も表示する）");
}
QString protectionsHeading() { return QCoreApplication::translate("CommandLine", "解凍処理の保護:"); }
QString protectionOn() { return QCoreApplication::translate("CommandLine", "有効"); }
QString protectionMissing() { return QCoreApplication::translate("CommandLine", "使えません（このカーネルにはありません）"); }
QString jsonText() { return QCoreApplication::translate("CommandLine", "書庫ファイルごとの結果を1行1つの JSON で標準出力に書く"); }
QString badParallel() { return QCoreApplication::translate("CommandLine", "--parallel には 1 以上の数を指定してください"); }
QString conflictingOutput()
{
    return QCoreApplication::translate("CommandLine", "--quiet、--verbose、--json はどれか1つだけ指定してください");
}
QString inputsText() { return QCoreApplication::translate("CommandLine", "書庫ファイル、または書庫ファイルを探すフォルダ"); }
QString listSeparator() { return QCoreApplication::translate("CommandLine", "、"); }
QString needsExtractTo()
{
    return QCoreApplication::translate("CommandLine", "--name-folders と --flatten は --extract-to と共に指定してください");
}
QString needsDestination() { return QCoreApplication::translate("CommandLine", "解凍先のフォルダが空です"); }
QString needsInputs() { return QCoreApplication::translate("CommandLine", "解凍する書庫ファイルかフォルダを指定してください"); }
QString seeHelp() { return QCoreApplication::translate("CommandLine", "使い方は「%1 --help」で表示します"); }
QString noDisplayText()
{
    return QCoreApplication::translate("CommandLine",
                                       "ディスプレイが見つからないため、ウィンドウを開けません"
                                       "（--extract-to を指定すると、ディスプレイなしで解凍できます）");
}

// Qt's own options, read by its application objects from the command line.
struct QtOption {
    QLatin1StringView name;
    bool takesValue;
};
constexpr QtOption qtOptions[] = {
    {QLatin1StringView("platform"), true},      {QLatin1StringView("platformpluginpath"), true},
    {QLatin1StringView("platformtheme"), true}, {QLatin1StringView("plugin"), true},
    {QLatin1StringView("qwindowgeometry"), true}, {QLatin1StringView("geometry"), true},
    {QLatin1StringView("qwindowtitle"), true},  {QLatin1StringView("title"), true},
    {QLatin1StringView("qwindowicon"), true},   {QLatin1StringView("icon"), true},
    {QLatin1StringView("display"), true},       {QLatin1StringView("name"), true},
    {QLatin1StringView("session"), true},       {QLatin1StringView("style"), true},
    {QLatin1StringView("stylesheet"), true},    {QLatin1StringView("qmljsdebugger"), true},
    {QLatin1StringView("reverse"), false},      {QLatin1StringView("nograb"), false},
    {QLatin1StringView("dograb"), false},       {QLatin1StringView("sync"), false},
    {QLatin1StringView("widgetcount"), false},  {QLatin1StringView("testability"), false},
};

// How many arguments from index on make one Qt option: 0 when none starts
// there, 2 for "-style Fusion", 1 for "-style=Fusion" or "-reverse".
int qtOptionSpan(const QStringList &arguments, qsizetype index)
{
    QStringView argument = arguments[index];
    if (!argument.startsWith(u'-'))
        return 0;
    argument = argument.mid(argument.startsWith(u"--") ? 2 : 1);
    const qsizetype equals = argument.indexOf(u'=');
    const QStringView name = equals < 0 ? argument : argument.left(equals);
    for (const QtOption &option : qtOptions) {
        if (name != option.name)
            continue;
        if (equals >= 0)
            return option.takesValue ? 1 : 0;
        return option.takesValue && index + 1 < arguments.size() ? 2 : 1;
    }
    return 0;
}

QStringList argumentList(int argc, char **argv)
{
    QStringList arguments;
    for (int i = 0; i < argc; ++i)
        arguments << QString::fromLocal8Bit(argv[i]);
    return arguments;
}

int usageError(const QString &message)
{
    const QString program = QStringLiteral("tenvo");
    std::fputs((program + QStringLiteral(": ") + message + u'\n' + seeHelp().arg(program) + u'\n')
                   .toUtf8().constData(),
               stderr);
    return exitUsageError;
}

void printOut(const QString &text)
{
    std::fputs(text.toUtf8().constData(), stdout);
    std::fflush(stdout);
}

// What confines each decoder process here, asked of the kernel the way the
// decoder program asks it.
QString protectionsText()
{
    const tenvo::isolation::SandboxSupport support = tenvo::isolation::probeSandbox();
    return protectionsHeading() + u'\n'
        + QStringLiteral("  Landlock: ")
        + (support.landlockAbi > 0 ? QStringLiteral("ABI %1").arg(support.landlockAbi) : protectionMissing()) + u'\n'
        + QStringLiteral("  seccomp: ") + (support.seccomp ? protectionOn() : protectionMissing()) + u'\n'
        + QStringLiteral("  no-new-privileges: ") + protectionOn() + u'\n';
}

} // namespace

bool runsWithoutWindow(int argc, char **argv)
{
    const QStringList arguments = withoutQtOptions(argumentList(argc, argv));
    for (const QString &argument : arguments.mid(1)) {
        if (argument == u"--")
            return false;
        if (argument.size() > 1 && argument.startsWith(u'-'))
            return true;
    }
    return false;
}

bool asksForHelpAll(int argc, char **argv)
{
    for (int i = 1; i < argc && std::strcmp(argv[i], "--") != 0; ++i) {
        if (std::strcmp(argv[i], "--help-all") == 0)
            return true;
    }
    return false;
}

QStringList withoutQtOptions(const QStringList &arguments)
{
    QStringList kept = arguments.mid(0, 1);
    for (qsizetype i = 1; i < arguments.size();) {
        if (arguments[i] == u"--") {
            kept << arguments.mid(i);
            break;
        }
        const int span = qtOptionSpan(arguments, i);
        if (span == 0)
            kept << arguments[i];
        i += qMax(span, 1);
    }
    return kept;
}

QStringList windowStartPaths(const QStringList &arguments)
{
    QStringList paths;
    bool sawSeparator = false;
    for (const QString &argument : withoutQtOptions(arguments).mid(1)) {
        if (argument == u"--" && !sawSeparator) {
            sawSeparator = true;
            continue;
        }
        paths << absoluteNativePath(argument);
    }
    return paths;
}

QString noDisplayLine() { return QStringLiteral("tenvo: ") + noDisplayText() + u'\n'; }

int commandLineMain(const QStringList &arguments)
{
    // The help, the parser's errors and every line after in the user's
    // language, as in the window.
    installTranslators(translationsFolder(getAppPath()));

    QCommandLineParser parser;
    parser.setApplicationDescription(description());
    const QCommandLineOption extractTo(QStringLiteral("extract-to"), extractToText(), QStringLiteral("DIR"));
    const QCommandLineOption nameFolders(QStringLiteral("name-folders"), nameFoldersText());
    const QCommandLineOption flatten(QStringLiteral("flatten"), flattenText());
    const QCommandLineOption parallel(QStringLiteral("parallel"), parallelText(), QStringLiteral("N"));
    const QCommandLineOption passwordFile(QStringLiteral("password-file"), passwordFileText(), QStringLiteral("FILE"));
    const QCommandLineOption smartFolders(QStringLiteral("smart-folders"), smartFoldersText());
    const QCommandLineOption existing(QStringLiteral("existing"), existingText(), QStringLiteral("MODE"));
    const QCommandLineOption keepJunk(QStringLiteral("keep-junk"), keepJunkText());
    const QCommandLineOption nested(QStringLiteral("nested"), nestedText());
    const QCommandLineOption trashArchives(QStringLiteral("trash-archives"), trashArchivesText());
    const QCommandLineOption openDestination(QStringLiteral("open-destination"), openDestinationText());
    const QCommandLineOption encoding(QStringLiteral("encoding"),
                                      encodingText().arg(nameEncodingChoices().join(listSeparator())),
                                      QStringLiteral("NAME"));
    const QCommandLineOption keyring(QStringLiteral("keyring"), keyringText());
    const QCommandLineOption quiet(QStringLiteral("quiet"), quietText());
    const QCommandLineOption verbose(QStringLiteral("verbose"), verboseText());
    const QCommandLineOption json(QStringLiteral("json"), jsonText());
    parser.addOptions({extractTo, nameFolders, smartFolders, flatten, existing, keepJunk, nested, encoding, parallel,
                       passwordFile, keyring, trashArchives, openDestination, quiet, verbose, json});
    const QCommandLineOption help = parser.addHelpOption();
    const QCommandLineOption version = parser.addVersionOption();
    parser.addPositionalArgument(QStringLiteral("FILE|FOLDER"), inputsText(), QStringLiteral("[FILE|FOLDER...]"));

    // Qt's window options mean nothing without a window; they are let pass.
    const QStringList ownArguments = withoutQtOptions(arguments);
    if (!parser.parse(ownArguments))
        return usageError(parser.errorText());
    // Only the parser can list Qt's own options; it exits when done.
    if (parser.isSet(QStringLiteral("help-all")))
        parser.process(ownArguments);
    if (parser.isSet(help)) {
        printOut(parser.helpText());
        return exitExtracted;
    }
    if (parser.isSet(version)) {
        printOut(QCoreApplication::applicationName() + u' ' + QCoreApplication::applicationVersion() + u'\n'
                 + (parser.isSet(verbose) ? protectionsText() : QString()));
        return exitExtracted;
    }
    if (!parser.isSet(extractTo))
        return usageError(needsExtractTo());

    CommandLineOptions options;
    options.destination = parser.value(extractTo);
    options.nameFolders = parser.isSet(nameFolders);
    options.flatten = parser.isSet(flatten);
    options.inputs = parser.positionalArguments();
    options.passwordFile = parser.value(passwordFile);
    options.smartFolders = parser.isSet(smartFolders);
    if (options.smartFolders && !options.nameFolders)
        return usageError(smartNeedsNameFolders());
    if (parser.isSet(existing)) {
        static const QStringList modes{QStringLiteral("overwrite"), QStringLiteral("skip"), QStringLiteral("rename"),
                                       QStringLiteral("newer")};
        const qsizetype mode = modes.indexOf(parser.value(existing).toLower());
        if (mode < 0)
            return usageError(badExisting());
        options.existing = ExtractOptions::Existing(mode);
    }
    options.keepJunk = parser.isSet(keepJunk);
    options.nested = parser.isSet(nested);
    options.trashArchives = parser.isSet(trashArchives);
    options.openDestination = parser.isSet(openDestination);
    options.keyring = parser.isSet(keyring);
    if (parser.isSet(encoding)) {
        const std::optional<QString> chosen = canonicalNameEncoding(parser.value(encoding));
        if (!chosen)
            return usageError(badEncoding().arg(nameEncodingChoices().join(listSeparator())));
        options.encoding = *chosen;
    }
    if (int(parser.isSet(quiet)) + int(parser.isSet(verbose)) + int(parser.isSet(json)) > 1)
        return usageError(conflictingOutput());
    options.output = parser.isSet(quiet)     ? CommandLineOptions::Output::Quiet
        : parser.isSet(verbose)              ? CommandLineOptions::Output::Verbose
        : parser.isSet(json)                 ? CommandLineOptions::Output::Json
                                             : CommandLineOptions::Output::Normal;
    if (parser.isSet(parallel)) {
        bool number = false;
        options.parallel = parser.value(parallel).toInt(&number);
        if (!number || options.parallel < 1)
            return usageError(badParallel());
    } else {
        // The window's setting, when the settings file has one.
        clsINICtrl settings;
        settings.setFile(settingsFilePath(getAppPath()));
        options.parallel = ExtractOptions::parallelFor(settings.getLong(QStringLiteral("Option"), QStringLiteral("Parallel")));
    }
    if (options.destination.isEmpty())
        return usageError(needsDestination());
    if (options.inputs.isEmpty())
        return usageError(needsInputs());

    clsArchive archive;
    archive.setLibraryFolder(getAppPath());
    for (const SupportType &row : registrationRows())
        archive.addSupportType(row);
    CommandLineRun run(archive, stdout, stderr);
    return run.run(options);
}
