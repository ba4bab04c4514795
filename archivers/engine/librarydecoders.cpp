// The table of the decoders built on the decoding libraries: what a format
// goes through once the engine's own readers have declined it.
#include "librarydecoders.h"

#include "decoders.h"
#include "libarchivedecoder.h"
#include "namecodec.h"
#include "zipscan.h"

#include <ctime>
#include <new>

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

// No exception leaves the table: in the decoder program the module and the
// program each have a C++ runtime of their own, and an exception thrown in
// one is not for the other's handlers. A decoder's failure comes back as a
// result, as the decoder child would give it.
template <typename Work>
TenvoResult guarded(std::string &message, Work work)
{
    try {
        return work();
    } catch (const std::bad_alloc &) {
        message = "the archive needs more memory than allowed";
    } catch (...) {
        message = "the decoder failed";
    }
    return TENVO_ERR_DAMAGED;
}

TenvoResult decodeGuarded(ArchiveFormat format, const std::string &path, EntrySink &sink,
                          std::string &message, const std::string *password)
{
    return guarded(message, [&] { return decodeWithLibraries(format, path, sink, message, password); });
}

bool checkGuarded(ArchiveFormat format, const std::string &path)
{
    std::string ignored;
    return guarded(ignored, [&] { return checkWithLibraries(format, path) ? TENVO_OK : TENVO_ERR_FORMAT; })
        == TENVO_OK;
}

TenvoResult checkPasswordGuarded(ArchiveFormat format, const std::string &path,
                                 const std::string *password, bool &encrypted, std::string &message)
{
    return guarded(message, [&] { return checkPasswordWithLibraries(format, path, password, encrypted, message); });
}

void preloadGuarded(const NameEncoding *chosen)
{
    std::string ignored;
    guarded(ignored, [&] {
        preloadLibraries(chosen);
        return TENVO_OK;
    });
}

} // namespace

const LibraryDecoders kLinkedLibraryDecoders{LibraryDecoders::kVersion, decodeGuarded, checkGuarded,
                                             checkPasswordGuarded, preloadGuarded};

} // namespace tenvo::engine
