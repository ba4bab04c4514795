// The table of the decoders built on the decoding libraries: what a format
// goes through once the engine's own readers have declined it.
#include "librarydecoders.h"

#include "decoders.h"
#include "libarchivedecoder.h"
#include "namecodec.h"
#include "zipscan.h"

#include <ctime>

namespace tenvo::engine {

namespace {

TenvoResult decodeWithLibraries(ArchiveFormat format, const std::string &path, EntrySink &sink,
                                std::string &message, const std::string *password)
{
    switch (format) {
    case ArchiveFormat::Cab:
        return decodeCab(path, sink, message);
    case ArchiveFormat::Zip: {
        bool readByUnarr = false;
        if (const TenvoResult apart = checkZipEntriesApart(path, message, readByUnarr); apart != TENVO_OK)
            return apart;
        if (readByUnarr)
            return decodeZipWithUnarr(path, sink, message);
        return decodeWithLibarchive(LibarchiveFormat::Zip, path, sink, message, password);
    }
    case ArchiveFormat::SevenZip:
        return decodeSevenZip(path, sink, message, password);
    case ArchiveFormat::Rar4:
        return decodeRar4(path, sink, message);
    case ArchiveFormat::Rar5:
        return decodeWithLibarchive(LibarchiveFormat::Rar5, path, sink, message);
    case ArchiveFormat::Lzh:
        return decodeLzh(path, sink, message);
    case ArchiveFormat::Tar:
        return decodeWithLibarchive(LibarchiveFormat::Tar, path, sink, message);
    default:
        message = "unknown format";
        return TENVO_ERR_FORMAT;
    }
}

bool checkWithLibraries(ArchiveFormat format, const std::string &path)
{
    switch (format) {
    case ArchiveFormat::Cab:
        return checkCab(path);
    case ArchiveFormat::Zip: {
        // What only unarr reads is checked by a walk of the directory.
        bool readByUnarr = false;
        std::string message;
        checkZipEntriesApart(path, message, readByUnarr);
        if (!readByUnarr)
            return checkWithLibarchive(LibarchiveFormat::Zip, path);
        ZipCentralDirectory directory;
        ZipCentralEntry entry;
        if (directory.open(path, message) != TENVO_OK)
            return false;
        while (directory.next(entry)) {
        }
        return !directory.failed();
    }
    case ArchiveFormat::SevenZip:
        return checkSevenZip(path);
    case ArchiveFormat::Rar4:
        return checkRar4(path);
    case ArchiveFormat::Rar5:
        return checkWithLibarchive(LibarchiveFormat::Rar5, path);
    case ArchiveFormat::Lzh:
        return checkLzh(path);
    case ArchiveFormat::Tar:
        return checkWithLibarchive(LibarchiveFormat::Tar, path);
    default:
        return false;
    }
}

TenvoResult checkPasswordWithLibraries(ArchiveFormat format, const std::string &path,
                                       const std::string *password, bool &encrypted,
                                       std::string &message)
{
    if (format == ArchiveFormat::Zip)
        return checkZipPassword(path, password, encrypted, message);
    if (format == ArchiveFormat::SevenZip)
        return checkSevenZipPassword(path, password, encrypted, message);
    encrypted = false;
    return TENVO_OK;
}

void preloadLibraries(const NameEncoding *chosen)
{
    // In a module the engine's converters are the module's own copies.
    ::tzset();
    NameDecoder::preload(chosen);
    preloadLibarchiveSupport();
}

} // namespace

const LibraryDecoders kLinkedLibraryDecoders{LibraryDecoders::kVersion, decodeWithLibraries,
                                             checkWithLibraries, checkPasswordWithLibraries,
                                             preloadLibraries};

} // namespace tenvo::engine
