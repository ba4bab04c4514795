// Reading the command lines the program hands each archiver library.
#include "commandline.h"
#include "namecodec.h"
#include "profiles.h"

#include <QtTest>

using namespace tenvo::engine;

class TestCommandLine : public QObject {
    Q_OBJECT

private slots:
    void parse_data();
    void parse();
    void optionWords_data();
    void optionWords();
    void words_data();
    void words();
};

namespace {

const LibraryProfile &profileNamed(const QByteArray &name)
{
    if (name == "unlha32")
        return unlhaProfile();
    if (name == "cab32")
        return cabProfile();
    if (name == "unzip32")
        return unzipProfile();
    if (name == "7-zip32")
        return sevenZipProfile();
    return unrarProfile();
}

} // namespace

void TestCommandLine::parse_data()
{
    QTest::addColumn<QByteArray>("library");
    QTest::addColumn<QByteArray>("line");
    QTest::addColumn<int>("result");
    QTest::addColumn<bool>("flatten");
    QTest::addColumn<QByteArray>("archive");
    QTest::addColumn<QByteArray>("destination");

    const int ok = TENVO_OK;
    const int bad = TENVO_ERR_COMMAND;

    // The lines exactly as clsArchive builds them for each library.
    QTest::newRow("unlha32, restore folders") << QByteArray("unlha32")
        << QByteArray(R"(x "/data/a.lzh" "/out/")") << ok << false
        << QByteArray("/data/a.lzh") << QByteArray("/out/");
    QTest::newRow("unlha32, flatten") << QByteArray("unlha32")
        << QByteArray(R"(e "/data/a.lzh" "/out/")") << ok << true
        << QByteArray("/data/a.lzh") << QByteArray("/out/");
    QTest::newRow("cab32, restore folders") << QByteArray("cab32")
        << QByteArray(R"(-x "/data/a.cab" "/out/")") << ok << false
        << QByteArray("/data/a.cab") << QByteArray("/out/");
    QTest::newRow("cab32, flatten") << QByteArray("cab32")
        << QByteArray(R"(-x -j "/data/a.cab" "/out/")") << ok << true
        << QByteArray("/data/a.cab") << QByteArray("/out/");
    QTest::newRow("unzip32, restore folders") << QByteArray("unzip32")
        << QByteArray(R"(-x "/data/a.zip" "/out/")") << ok << false
        << QByteArray("/data/a.zip") << QByteArray("/out/");
    QTest::newRow("unzip32, flatten") << QByteArray("unzip32")
        << QByteArray(R"(-x -j "/data/a.zip" "/out/")") << ok << true
        << QByteArray("/data/a.zip") << QByteArray("/out/");
    QTest::newRow("7-zip32, restore folders") << QByteArray("7-zip32")
        << QByteArray(R"(x "/data/a.zip" "/out/")") << ok << false
        << QByteArray("/data/a.zip") << QByteArray("/out/");
    QTest::newRow("7-zip32, flatten") << QByteArray("7-zip32")
        << QByteArray(R"(e "/data/a.zip" "/out/")") << ok << true
        << QByteArray("/data/a.zip") << QByteArray("/out/");
    QTest::newRow("unrar32, destination with the extra separator") << QByteArray("unrar32")
        << QByteArray(R"(-x "/a/b.rar" "/out//")") << ok << false
        << QByteArray("/a/b.rar") << QByteArray("/out//");

    // What paths may hold.
    QTest::newRow("spaces inside quotes") << QByteArray("unlha32")
        << QByteArray(R"(x "/my data/a b.lzh" "/out dir/")") << ok << false
        << QByteArray("/my data/a b.lzh") << QByteArray("/out dir/");
    QTest::newRow("doubled quote is one quote") << QByteArray("unzip32")
        << QByteArray(R"(-x "/data/say ""hi"".zip" "/o""ut/")") << ok << false
        << QByteArray(R"(/data/say "hi".zip)") << QByteArray(R"(/o"ut/)");
    QTest::newRow("path that is only a quote") << QByteArray("unzip32")
        << QByteArray(R"(-x """" "/out/")") << ok << false << QByteArray(R"(")")
        << QByteArray("/out/");
    QTest::newRow("backslashes are ordinary, even before the closing quote")
        << QByteArray("7-zip32") << QByteArray(R"(x "/data/back\slash\.zip" "/out\")") << ok
        << false << QByteArray(R"(/data/back\slash\.zip)") << QByteArray(R"(/out\)");
    QTest::newRow("non-ASCII UTF-8 paths") << QByteArray("unlha32")
        << QByteArray(R"(e "/データ/表ソ能.lzh" "/出力/")") << ok << true
        << QByteArray("/データ/表ソ能.lzh") << QByteArray("/出力/");
    QTest::newRow("unquoted paths") << QByteArray("cab32")
        << QByteArray("-x -j /data/a.cab /out/") << ok << true << QByteArray("/data/a.cab")
        << QByteArray("/out/");
    QTest::newRow("tabs and extra blanks") << QByteArray("unlha32")
        << QByteArray("  x\t\"/a.lzh\"   \"/out/\"  ") << ok << false << QByteArray("/a.lzh")
        << QByteArray("/out/");
    QTest::newRow("upper-case switch") << QByteArray("unzip32")
        << QByteArray(R"(-X -J "/a.zip" "/out/")") << ok << true << QByteArray("/a.zip")
        << QByteArray("/out/");
    QTest::newRow("empty archive path reaches the opener") << QByteArray("unlha32")
        << QByteArray(R"(x "" "/out/")") << ok << false << QByteArray() << QByteArray("/out/");

    // Lines that cannot be understood.
    QTest::newRow("empty line") << QByteArray("unlha32") << QByteArray("") << bad << false
                                << QByteArray() << QByteArray();
    QTest::newRow("blank line") << QByteArray("unlha32") << QByteArray(" \t ") << bad << false
                                << QByteArray() << QByteArray();
    QTest::newRow("switch alone") << QByteArray("unlha32") << QByteArray("x") << bad << false
                                  << QByteArray() << QByteArray();
    QTest::newRow("missing destination") << QByteArray("unzip32")
        << QByteArray(R"(-x "/a.zip")") << bad << false << QByteArray() << QByteArray();
    QTest::newRow("extra argument") << QByteArray("unlha32")
        << QByteArray(R"(x "/a.lzh" "/out/" "/more")") << bad << false << QByteArray()
        << QByteArray();
    QTest::newRow("unterminated quote") << QByteArray("unlha32")
        << QByteArray(R"(x "/a.lzh" "/out/)") << bad << false << QByteArray() << QByteArray();
    QTest::newRow("quote inside an unquoted word") << QByteArray("unlha32")
        << QByteArray(R"(x /a"b.lzh "/out/")") << bad << false << QByteArray() << QByteArray();
    QTest::newRow("text glued to a closing quote") << QByteArray("unlha32")
        << QByteArray(R"(x "/a"b.lzh "/out/")") << bad << false << QByteArray() << QByteArray();
    QTest::newRow("unknown switch") << QByteArray("unlha32")
        << QByteArray(R"(t "/a.lzh" "/out/")") << bad << false << QByteArray() << QByteArray();
    QTest::newRow("unlha32 refuses unzip32's switch") << QByteArray("unlha32")
        << QByteArray(R"(-x "/a.lzh" "/out/")") << bad << false << QByteArray() << QByteArray();
    QTest::newRow("unzip32 refuses unlha32's switch") << QByteArray("unzip32")
        << QByteArray(R"(x "/a.zip" "/out/")") << bad << false << QByteArray() << QByteArray();
    QTest::newRow("unrar32 has no flatten switch") << QByteArray("unrar32")
        << QByteArray(R"(-x -j "/a.rar" "/out/")") << bad << false << QByteArray()
        << QByteArray();
    QTest::newRow("quoted switch is a path") << QByteArray("7-zip32")
        << QByteArray(R"("x" "/a.zip" "/out/")") << bad << false << QByteArray() << QByteArray();
    QTest::newRow("switch without paths, only a flag") << QByteArray("cab32")
        << QByteArray("-x -j") << bad << false << QByteArray() << QByteArray();
}

void TestCommandLine::parse()
{
    QFETCH(QByteArray, library);
    QFETCH(QByteArray, line);
    QFETCH(int, result);
    QFETCH(bool, flatten);
    QFETCH(QByteArray, archive);
    QFETCH(QByteArray, destination);

    Command command;
    std::string message;
    const TenvoResult got = parseCommandLine(line.toStdString(), profileNamed(library).switches,
                                             command, message);
    QCOMPARE(int(got), result);
    if (result == TENVO_OK) {
        QCOMPARE(command.flatten, flatten);
        QCOMPARE(QByteArray::fromStdString(command.archivePath), archive);
        QCOMPARE(QByteArray::fromStdString(command.destination), destination);
    } else {
        QVERIFY2(!message.empty(), "a refused line says why");
    }
}

void TestCommandLine::optionWords_data()
{
    QTest::addColumn<QByteArray>("library");
    QTest::addColumn<QByteArray>("line");
    QTest::addColumn<int>("result");
    QTest::addColumn<bool>("hasPassword");
    QTest::addColumn<QByteArray>("password");
    QTest::addColumn<QByteArray>("encoding");

    const int ok = TENVO_OK;
    const int bad = TENVO_ERR_COMMAND;
    const QByteArray none;
    QTest::newRow("password quoted, with blanks and a doubled quote") << QByteArray("unzip32")
        << QByteArray(R"(-x "-pmy ""pass"" 1" "/a.zip" "/out/")") << ok << true
        << QByteArray(R"(my "pass" 1)") << none;
    QTest::newRow("password unquoted, after the flatten switch") << QByteArray("7-zip32")
        << QByteArray(R"(e -psecret "/a.zip" "/out/")") << ok << true << QByteArray("secret") << none;
    QTest::newRow("an empty password is a password") << QByteArray("unzip32")
        << QByteArray(R"(-x -j "-p" "/a.zip" "/out/")") << ok << true << none << none;
    QTest::newRow("no word: no password, names read automatically") << QByteArray("cab32")
        << QByteArray(R"(-x "/a.zip" "/out/")") << ok << false << none << none;
    QTest::newRow("a library without passwords refuses it, not naming it") << QByteArray("unlha32")
        << QByteArray(R"(x "-psecret" "/a.lzh" "/out/")") << bad << false << none << none;
    QTest::newRow("a password after the paths is refused, not named") << QByteArray("unzip32")
        << QByteArray(R"(-x "/a.zip" "/out/" "-psecret")") << bad << false << none << none;
    QTest::newRow("names after the switch") << QByteArray("unlha32")
        << QByteArray(R"(x --names=EUC-JP "/a.zip" "/out/")") << ok << false << none << QByteArray("EUC-JP");
    QTest::newRow("names in any case, before a password") << QByteArray("unzip32")
        << QByteArray(R"(-x -j --NAMES=shift_jis -psecret "/a.zip" "/out/")") << ok << true
        << QByteArray("secret") << QByteArray("Shift_JIS");
    QTest::newRow("every library reads names") << QByteArray("unrar32")
        << QByteArray(R"(-x --names=big5 "/a.zip" "/out/")") << ok << false << none << QByteArray("Big5");
    QTest::newRow("an unknown encoding is refused") << QByteArray("7-zip32")
        << QByteArray(R"(x --names=KOI8-R "/a.zip" "/out/")") << bad << false << none << none;
    QTest::newRow("an empty encoding is refused") << QByteArray("7-zip32")
        << QByteArray(R"(x --names= "/a.zip" "/out/")") << bad << false << none << none;
    QTest::newRow("names quoted are a path") << QByteArray("unlha32")
        << QByteArray(R"(x "--names=EUC-JP" "/a.zip" "/out/")") << bad << false << none << none;
    QTest::newRow("names after the paths are refused") << QByteArray("unlha32")
        << QByteArray(R"(x "/a.zip" "/out/" --names=EUC-JP)") << bad << false << none << none;
}

// The words a library reads between its switch and the paths.
void TestCommandLine::optionWords()
{
    QFETCH(QByteArray, library);
    QFETCH(QByteArray, line);
    QFETCH(int, result);
    QFETCH(bool, hasPassword);
    QFETCH(QByteArray, password);
    QFETCH(QByteArray, encoding);

    const LibraryProfile &profile = profileNamed(library);
    Command command;
    std::string message;
    QCOMPARE(int(parseCommandLine(line.toStdString(), profile.switches, command, message,
                                  profile.takesPassword)),
             result);
    QCOMPARE(command.hasPassword, hasPassword);
    QCOMPARE(QByteArray::fromStdString(command.password), password);
    QCOMPARE(QByteArray(command.encoding ? command.encoding->name : ""), encoding);
    if (result == TENVO_OK)
        QVERIFY(command.archivePath == "/a.zip" && command.destination == "/out/");
    else
        QVERIFY2(!message.empty(), "a refused line says why");
    QVERIFY2(message.find("secret") == std::string::npos, message.c_str());
}

void TestCommandLine::words_data()
{
    QTest::addColumn<QByteArray>("line");
    QTest::addColumn<QList<QByteArray>>("words");

    QTest::newRow("quoted and unquoted") << QByteArray(R"(a "b c" d)")
                                         << QList<QByteArray>{"a", "b c", "d"};
    QTest::newRow("empty quoted word") << QByteArray(R"("" x)") << QList<QByteArray>{"", "x"};
    QTest::newRow("three quotes in a row end a quoted quote")
        << QByteArray(R"("a""" b)") << QList<QByteArray>{R"(a")", "b"};
    QTest::newRow("line break inside quotes is kept")
        << QByteArray("\"a\nb\" c") << QList<QByteArray>{"a\nb", "c"};
}

void TestCommandLine::words()
{
    QFETCH(QByteArray, line);
    QFETCH(QList<QByteArray>, words);

    std::vector<CommandWord> got;
    std::string message;
    QVERIFY(splitCommandWords(line.toStdString(), got, message));
    QList<QByteArray> texts;
    for (const CommandWord &word : got)
        texts << QByteArray::fromStdString(word.text);
    QCOMPARE(texts, words);
}

QTEST_GUILESS_MAIN(TestCommandLine)
#include "tst_commandline.moc"
