// Writes the fuzz targets' seed corpora: command lines, settings files and
// small archives of every format made by the test fixture writers.
#include "archivemaker.h"
#include "cabwriter.h"
#include "deflate64zip.h"
#include "lzhwriter.h"
#include "rar4writer.h"
#include "rar5writer.h"

#include <QCoreApplication>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>

using namespace tenvo::fixture;

namespace {

std::filesystem::path g_out;
int g_written = 0;

void seed(const char *target, const std::string &name, const std::string &bytes)
{
    const std::filesystem::path folder = g_out / target;
    std::filesystem::create_directories(folder);
    std::ofstream(folder / name, std::ios::binary) << bytes;
    ++g_written;
}

// Stores an archive seed, or says why the writer could not make it.
void archive(const std::string &name, const std::string &bytes, const std::string &error)
{
    if (bytes.empty())
        std::fprintf(stderr, "makeseeds: no %s: %s\n", name.c_str(), error.c_str());
    else {
        seed("extract", name, bytes);
        seed("decoders", name, bytes);
    }
}

std::string text(int lines)
{
    std::string out;
    for (int i = 0; i < lines; ++i)
        out += "line " + std::to_string(i) + " of a small text file\n";
    return out;
}

std::string binary(int size)
{
    std::string out;
    unsigned state = 12345;
    for (int i = 0; i < size; ++i) {
        state = state * 1103515245u + 12345u;
        out += char(state >> 24);
    }
    return out;
}

FixtureEntries plainEntries()
{
    return {FixtureEntry::directory("dir"), FixtureEntry::file("a.txt", text(20)),
            FixtureEntry::file("dir/b.bin", binary(300)), FixtureEntry::file("empty", ""),
            FixtureEntry::file("dir/sub/c.txt", text(3), 0600)};
}

// Names and modes that must never take effect as stored.
FixtureEntries hostileEntries()
{
    return {FixtureEntry::file("../escape.txt", "up"),
            FixtureEntry::file("/tmp/tenvo-absolute.txt", "absolute"),
            FixtureEntry::file("dir/../../up.txt", "up"),
            FixtureEntry::file("suid", "#!/bin/sh\n", 04777),
            FixtureEntry::file("a.txt", "first"),
            FixtureEntry::file("a.txt", "second")};
}

FixtureEntries linkEntries()
{
    return {FixtureEntry::directory("dir"), FixtureEntry::file("dir/f.txt", "data"),
            FixtureEntry::symlink("inside", "dir/f.txt"), FixtureEntry::symlink("out", "../../x"),
            FixtureEntry::symlink("abs", "/etc"), FixtureEntry::symlink("here", "."),
            FixtureEntry::file("out/planted.txt", "through a link"),
            FixtureEntry::symlink("dir/up", ".."), FixtureEntry::file("dir/up/y.txt", "y")};
}

FixtureEntries nameEntries()
{
    return {FixtureEntry::file("\x83\x5C\x83\x74\x83\x67.txt", "cp932 with a 0x5C byte"),
            FixtureEntry::file("\xE6\x97\xA5\xE6\x9C\xAC/\xE8\xAA\x9E.txt", "utf-8"),
            FixtureEntry::file("back\\slash.txt", "backslash")};
}

void commandLineSeeds()
{
    const char *lines[] = {
        "x \"/data/a.lzh\" \"/out/\"", "e \"/data/a.lzh\" \"/out/\"",
        "-x \"/data/a.zip\" \"/out/\"", "-x -j \"/data/a.zip\" \"/out/\"",
        "-X  -J\t\"/data/with \"\"quote\"\".cab\" \"/out/\"", "x \"\" \"\"",
        "x \"/a\"\"\" \"/b\" extra", "x unquoted/path \"/out/\"", "x \"/open", "",
    };
    int i = 0;
    for (const char *line : lines)
        seed("commandline", "line" + std::to_string(i++), line);
    seed("commandline", "pair", std::string("/data/a\"b.lzh\0/out/", 19));
}

void settingsSeeds()
{
    seed("settings", "options", "Option\tRestoreFolder\t1\n"
                                "[Option]\nMakeNameFolder=1\nRestoreFolder=0\n"
                                "DeleteFromList=0\nCloseDialog=1\n");
    seed("settings", "window", "Tenvo\tWidth\t640\n"
                               "\xEF\xBB\xBF[Tenvo]\r\nTop=10\r\nLeft=-20\r\nWidth=9999999999\r\n"
                               "Height=\"480\"\r\n\r\n[Option]\r\nmakenamefolder = 1\r\n");
    seed("settings", "oddities", "\xE8\xA8\xAD\xE5\xAE\x9A\tKey\t\xE5\x80\xA4\n"
                                 "[ spaced ]\n=novalue\nnokey\n[unclosed\nk=v\n[Option]\n"
                                 "k=" + std::string(300, 'x') + "\n[option]\nk=duplicate\n");
    seed("settings", "empty", "New\tKey\tValue\n");
}

void archiveSeeds()
{
    std::string error;
    const FixtureEntries plain = plainEntries();
    const FixtureEntries hostile = hostileEntries();
    const FixtureEntries links = linkEntries();
    const FixtureEntries names = nameEntries();

    for (int level = 0; level <= 3; ++level) {
        const std::string l = std::to_string(level);
        archive("lzh" + l, makeLzh(plain, {.level = level}, &error), error);
        archive("lzh" + l + "-hostile", makeLzh(hostile, {.level = level}, &error), error);
        archive("lzh" + l + "-unix", makeLzh(links, {.level = level, .os = 'U'}, &error), error);
        archive("lzh" + l + "-names", makeLzh(names, {.level = level, .codePage = 932}, &error),
                error);
        archive("lzh" + l + "-badcrc", makeLzh(plain, {.level = level, .badDataCrcEntry = 1}, &error),
                error);
    }
    archive("lzh1-pathinname", makeLzh(plain, {.level = 1, .nameSeparator = '\xFF', .pathInName = true}, &error), error);
    archive("lzh2-truncated", makeLzh(plain, {.truncateInLastData = true}, &error), error);
    // Older tools' methods, which go to the other decoder.
    for (const char *method : {"-lh1-", "-lh4-", "-lzs-", "-lz5-", "-pm0-"}) {
        const std::string id = std::string(method).substr(1, 3);
        archive("lzh0-" + id, makeLzh(plain, {.level = 0, .method = method}, &error), error);
        archive("lzh0-" + id + "-badcrc",
                makeLzh(plain, {.level = 0, .badDataCrcEntry = 1, .method = method}, &error), error);
    }

    archive("zip-stored", makeZip(plain, {}, &error), error);
    archive("zip-deflate", makeZip(plain, {.deflate = true}, &error), error);
    archive("zip-hostile", makeZip(hostile, {.deflate = true}, &error), error);
    archive("zip-links", makeZip(links, {}, &error), error);
    archive("zip-raw-names", makeZip(names, {.names = ZipOptions::Names::Raw}, &error), error);
    archive("zip-encrypted", makeZip(plain, {.password = "secret"}, &error), error);
    archive("zip-badcrc", makeZip(plain, {.deflate = true, .corruptFirstData = true}, &error), error);
    // Deflate data that fills several of the direct decoder's output pieces.
    archive("zip-deflate-pieces",
            makeZip({FixtureEntry::file("run.txt", std::string(2500000, 'x') + "end")}, {.deflate = true}, &error),
            error);
    archive("zip-deflate64", makeDeflate64Zip(plain, {.blockSize = 100}, &error), error);
    archive("zip-deflate64-links", makeDeflate64Zip(links, {.zip64EndRecords = true}, &error), error);
    archive("zip-deflate64-hostile",
            makeDeflate64Zip(hostile, {.host = Deflate64ZipOptions::Host::Windows}, &error), error);
    // Stored entries with DOS times and FAT attributes alone, as Windows
    // writes them: the engine walks these itself.
    FixtureEntries windowsEntries = plain;
    windowsEntries.push_back(names[0]);
    std::vector<std::size_t> everyEntry(windowsEntries.size());
    for (std::size_t i = 0; i < everyEntry.size(); ++i)
        everyEntry[i] = i;
    archive("zip-stored-windows",
            makeDeflate64Zip(windowsEntries, {.names = Deflate64ZipOptions::Names::Raw,
                                     .host = Deflate64ZipOptions::Host::Windows,
                                     .storedEntries = everyEntry}, &error),
            error);

    archive("7z-lzma2", make7z(plain, {}, &error), error);
    archive("7z-store", make7z(plain, {.method = SevenZipOptions::Method::Store}, &error), error);
    archive("7z-deflate-hostile", make7z(hostile, {.method = SevenZipOptions::Method::Deflate}, &error),
            error);
    archive("7z-links", make7z(links, {}, &error), error);
    archive("tar-gzip", makeTar(plain, {.compressor = "gzip"}, &error), error);
    archive("gzip-single", makeTar({FixtureEntry::file("a.txt", text(300))}, {.compressor = "gzip", .single = true}, &error),
            error);
    // The raw LZMA2 stream of a 7z of one file (which starts right after the
    // signature header), for the LZMA decoder alone: LZMA2, a 1 MiB
    // dictionary, the file's size, the stream.
    for (const int lines : {3, 400}) {
        const std::string content = text(lines) + binary(lines * 20);
        const std::string made = make7z({FixtureEntry::file("a.txt", content)}, {}, &error);
        if (made.size() <= 32)
            continue;
        std::string input("\x01\x10\0\0\0\0", 6);
        for (int i = 0; i < 4; ++i)
            input += char((content.size() >> (8 * i)) & 0xFF);
        seed("lzma", "lzma2-" + std::to_string(lines), input + made.substr(32));
    }
    // Encrypted 7z, made by 7zz when it is installed.
    for (const auto &[name, options] : {std::pair<std::string, QStringList>{"7z-aes", {}},
                                        {"7z-aes-names", {"-mhe=on"}},
                                        {"7z-aes-stored", {"-mx=0"}}}) {
        QTemporaryDir work;
        QFile plainFile(work.filePath("a.txt"));
        if (!plainFile.open(QIODevice::WriteOnly) || plainFile.write(text(20).c_str()) <= 0)
            continue;
        plainFile.close();
        QProcess maker;
        maker.setWorkingDirectory(work.path());
        maker.start("7zz", QStringList{"a", "-bso0", "-psecret", "x.7z", "a.txt"} + options);
        QFile made(work.filePath("x.7z"));
        if (!maker.waitForFinished(60000) || maker.exitCode() != 0 || !made.open(QIODevice::ReadOnly))
            std::fprintf(stderr, "makeseeds: no %s: 7zz cannot make it\n", name.c_str());
        else
            seed("extract", name, made.readAll().toStdString());
    }

    FixtureEntries files;
    for (const FixtureEntry &entry : plain) {
        if (entry.kind == FixtureEntry::File)
            files.push_back(entry);
    }
    if (gcabAvailable()) {
        archive("cab-stored", makeCab(files, {}, &error), error);
        archive("cab-mszip", makeCab(files, {.mszip = true}, &error), error);
        archive("cab-hostile", makeCab(hostile, {.mszip = true}, &error), error);
        archive("cab-names", makeCab(names, {}, &error), error);
        // MSZIP data of several blocks, decoded straight from the file.
        archive("cab-mszip-blocks", makeCab({FixtureEntry::file("run.txt", text(4000))}, {.mszip = true}, &error),
                error);
    } else {
        std::fprintf(stderr, "makeseeds: gcab is not installed, no CAB seeds\n");
    }

    archive("cab-folders", makeFolderedCab(files, {.filesPerFolder = 2, .reserve = 6}, &error), error);

    archive("rar4", makeRar4(plain, {}, &error), error);
    archive("rar4-solid", makeRar4(plain, {.solid = true}, &error), error);
    archive("rar4-hostile", makeRar4(hostile, {}, &error), error);
    archive("rar4-unix-links", makeRar4(links, {.host = Rar4Options::Host::Unix}, &error), error);
    archive("rar4-names", makeRar4(names, {.unicodeNameEntries = {1}, .utf8NameEntries = {2}}, &error),
            error);
    archive("rar4-encrypted", makeRar4(plain, {.encryptedEntry = 1}, &error), error);
    archive("rar5", makeRar5(plain, {}, &error), error);
    archive("rar5-hostile", makeRar5(hostile, {}, &error), error);
    archive("rar5-links", makeRar5(links, {}, &error), error);
    archive("rar5-windows", makeRar5(names, {.host = Rar5Options::Host::Windows}, &error), error);
    archive("rar5-encrypted", makeRar5(plain, {.encryptedEntry = 1}, &error), error);
    archive("rar5-badcrc", makeRar5(plain, {.badDataCrcEntry = 2}, &error), error);
}

} // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    if (argc != 2) {
        std::fprintf(stderr, "usage: makeseeds <folder>\n");
        return 2;
    }
    g_out = argv[1];
    commandLineSeeds();
    settingsSeeds();
    archiveSeeds();
    std::printf("makeseeds: %d seeds in %s\n", g_written, argv[1]);
    return 0;
}
