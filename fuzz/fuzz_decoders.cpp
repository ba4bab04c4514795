// libFuzzer target: the engine's own decoders against the library path they
// stand in for, on the same bytes. Where both decode an entry whole, they
// must agree on its name and every byte.
#include "decoders.h"
#include "entrysink.h"
#include "libarchivedecoder.h"
#include "cabdirect.h"
#include "zipdirect.h"
#include "zipreader.h"

#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

using namespace tenvo::engine;

namespace {

struct Entry {
    std::string name;
    std::string data;
    TenvoResult outcome = TENVO_OK;
    EntryInfo info;
};

// Keeps every entry's name, bytes and outcome.
class Recorder final : public EntrySink {
public:
    std::vector<Entry> entries;

    bool beginEntry(const EntryInfo &info) override
    {
        entries.push_back({info.rawName, {}, TENVO_OK, info});
        return true;
    }
    bool entryData(const void *data, std::size_t size) override
    {
        // Bounded: a decoder that runs away is the sanitizers' and the
        // memory limit's to catch, not this comparison's.
        if (entries.back().data.size() + size > (std::size_t(64) << 20))
            return false;
        entries.back().data.append(static_cast<const char *>(data), size);
        return true;
    }
    void endEntry(TenvoResult outcome, const std::string &) override { entries.back().outcome = outcome; }
};

std::string g_archive;

[[noreturn]] void fail(const std::string &what)
{
    std::fprintf(stderr, "ERROR: fuzz_decoders: %s\n", what.c_str());
    std::abort();
}

void compare(const char *pair, const Recorder &own, const Recorder &reference)
{
    const std::size_t both = std::min(own.entries.size(), reference.entries.size());
    for (std::size_t i = 0; i < both; ++i) {
        const Entry &mine = own.entries[i];
        const Entry &theirs = reference.entries[i];
        if (mine.outcome != TENVO_OK || theirs.outcome != TENVO_OK)
            continue;
        if (mine.name != theirs.name)
            fail(std::string(pair) + ": entry " + std::to_string(i) + " is named apart");
        if (mine.data != theirs.data)
            fail(std::string(pair) + ": entry \"" + mine.name + "\" decodes to other bytes");
    }
}

// The engine's walk of a ZIP archive against libarchive's: the same entries,
// described alike, with the same outcomes and, where whole, the same bytes.
void compareWalks(const Recorder &own, TenvoResult ownResult, const Recorder &reference,
                  TenvoResult referenceResult)
{
    if (ownResult != referenceResult)
        fail("zip walk: the archive's outcome differs");
    if (own.entries.size() != reference.entries.size())
        fail("zip walk: " + std::to_string(own.entries.size()) + " entries against "
             + std::to_string(reference.entries.size()));
    for (std::size_t i = 0; i < own.entries.size(); ++i) {
        const Entry &mine = own.entries[i];
        const Entry &theirs = reference.entries[i];
        const std::string what = "zip walk: entry " + std::to_string(i) + " ";
        if (mine.name != theirs.name || mine.info.nameIsUtf8 != theirs.info.nameIsUtf8)
            fail(what + "is named apart");
        if (mine.info.kind != theirs.info.kind || mine.info.linkTarget != theirs.info.linkTarget)
            fail(what + "is of another kind or link");
        if (mine.info.mode != theirs.info.mode || mine.info.size != theirs.info.size
            || mine.info.mtime != theirs.info.mtime)
            fail(what + "has another mode, size or time");
        if (mine.outcome != theirs.outcome)
            fail(what + "ends otherwise");
        if (mine.outcome == TENVO_OK && mine.data != theirs.data)
            fail(what + "decodes to other bytes");
    }
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int *, char ***)
{
    g_archive = "/dev/shm/tenvo-fuzz-decoders-" + std::to_string(::getpid());
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    if (size < 8)
        return 0;
    FILE *file = std::fopen(g_archive.c_str(), "wb");
    if (!file)
        return 0;
    std::fwrite(data, 1, size, file);
    std::fclose(file);

    std::string ownMessage;
    std::string referenceMessage;
    Recorder own;
    Recorder reference;
    // LZH: the engine's table-driven decoder against libarchive's.
    if (size > 21 && data[2] == '-' && data[3] == 'l' && data[6] == '-') {
        decodeLzh(g_archive, own, ownMessage);
        decodeWithLibarchive(LibarchiveFormat::Lha, g_archive, reference, referenceMessage);
        compare("lzh", own, reference);
    }
    // ZIP: stored and Deflate entries inflated straight from the file
    // against libarchive's reading of the same entries.
    if (data[0] == 'P' && data[1] == 'K') {
        setZipDirectDecoding(true);
        const TenvoResult walked =
            decodeWithLibarchive(LibarchiveFormat::Zip, g_archive, own, ownMessage);
        setZipDirectDecoding(false);
        decodeWithLibarchive(LibarchiveFormat::Zip, g_archive, reference, referenceMessage);
        setZipDirectDecoding(true);
        compare("zip", own, reference);
        // The archive walked by the engine alone, where it takes it, against
        // libarchive's walk with the same data decoding.
        Recorder here;
        std::string hereMessage;
        TenvoResult hereResult = TENVO_OK;
        if (decodeZipHere(g_archive, here, hereMessage, hereResult))
            compareWalks(here, hereResult, own, walked);
        if (checkZipHere(g_archive) && !checkWithLibarchive(LibarchiveFormat::Zip, g_archive))
            fail("zip walk: headers that check out here fail libarchive's check");
    }
    // CAB: MSZIP and stored folders read straight from the file against
    // libmspack's reading.
    if (data[0] == 'M' && data[1] == 'S' && data[2] == 'C' && data[3] == 'F') {
        setCabDirectDecoding(true);
        decodeCab(g_archive, own, ownMessage);
        setCabDirectDecoding(false);
        decodeCab(g_archive, reference, referenceMessage);
        setCabDirectDecoding(true);
        compare("cab", own, reference);
    }
    // gzip: the layer inflated by the engine against libarchive's own
    // reading; where both decode an entry whole, the same bytes (the engine
    // may find more damage: it checks gzip's CRC and length).
    if (data[0] == 0x1f && data[1] == 0x8b) {
        setGzipOwnReading(true);
        decodeWithLibarchive(LibarchiveFormat::Tar, g_archive, own, ownMessage);
        setGzipOwnReading(false);
        decodeWithLibarchive(LibarchiveFormat::Tar, g_archive, reference, referenceMessage);
        setGzipOwnReading(true);
        compare("gzip", own, reference);
    }
    // 7z: LZMA and LZMA2 folders by the engine's decoder against libarchive.
    if (data[0] == '7' && data[1] == 'z' && data[2] == 0xBC && data[3] == 0xAF) {
        decodeSevenZip(g_archive, own, ownMessage, nullptr);
        setSevenZipLzmaDecoding(false);
        decodeSevenZip(g_archive, reference, referenceMessage, nullptr);
        setSevenZipLzmaDecoding(true);
        compare("7z", own, reference);
    }
    ::unlink(g_archive.c_str());
    return 0;
}
