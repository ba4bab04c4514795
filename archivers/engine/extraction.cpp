// The decoding side of the engine: what the decoder program runs for each
// call. The archiver libraries themselves only parse the call and hand it
// to that program, so they load none of the decoding libraries.
#include "archiver.h"

#include "entryshare.h"
#include "librarydecoders.h"
#include "namecodec.h"
#include "volumeset.h"
#include "zipreader.h"
#include "zipscan.h"

#include <sys/stat.h>

#include <cstring>
#include <ctime>

namespace tenvo::engine {

namespace {

std::string acceptedNames(const LibraryProfile &profile)
{
    std::string names;
    for (ArchiveFormat format : {ArchiveFormat::Lzh, ArchiveFormat::Cab, ArchiveFormat::Zip,
                                 ArchiveFormat::SevenZip, ArchiveFormat::Rar4, ArchiveFormat::Rar5,
                                 ArchiveFormat::Tar}) {
        if (accepts(profile, format)) {
            if (!names.empty())
                names += ", ";
            names += formatName(format);
        }
    }
    return names;
}

// Decodes with the engine's own readers where they take the archive, else
// through the decoding libraries; needsLibraries is set (and nothing fed
// to the sink) when those are not loaded here.
TenvoResult decode(ArchiveFormat format, const std::string &path, EntrySink &sink,
                   std::string &message, const std::string *password, bool &needsLibraries)
{
    if (format == ArchiveFormat::Zip) {
        bool readByUnarr = false;
        if (const TenvoResult apart = checkZipEntriesApart(path, message, readByUnarr); apart != TENVO_OK)
            return apart;
        if (TenvoResult own = TENVO_OK; !readByUnarr && decodeZipHere(path, sink, message, own))
            return own;
    }
    const LibraryDecoders *libraries = libraryDecoders();
    if (!libraries) {
        needsLibraries = true;
        return TENVO_ERR_DECODER;
    }
    return libraries->decode(format, path, sink, message, password);
}

// Before anything is written: whether the archive is encrypted and, if so,
// whether password opens it (see extractArchive).
TenvoResult checkPassword(ArchiveFormat format, const std::string &path, const std::string *password,
                          bool &encrypted, std::string &message, bool &needsLibraries)
{
    encrypted = false;
    if (format != ArchiveFormat::Zip && format != ArchiveFormat::SevenZip)
        return TENVO_OK;
    if (format == ArchiveFormat::Zip) {
        // A ZIP archive tells from its directory alone; only a password
        // to try needs the decoders.
        if (const TenvoResult said = checkZipEncryption(path, password, encrypted, message);
            said != TENVO_OK || !encrypted)
            return said;
    }
    const LibraryDecoders *libraries = libraryDecoders();
    if (!libraries) {
        needsLibraries = true;
        return TENVO_ERR_DECODER;
    }
    return libraries->checkPassword(format, path, password, encrypted, message);
}

TenvoResult extractArchiveHere(const LibraryProfile &profile, const std::string &archivePath,
                               const std::string &destination, Layout layout, std::string &message,
                               const std::string *password, const NameEncoding *encoding,
                               bool &needsLibraries);

} // namespace

bool checkFormat(ArchiveFormat format, const std::string &path)
{
    if (format == ArchiveFormat::Zip && checkZipHere(path))
        return true;
    const LibraryDecoders *libraries = libraryDecoders();
    return libraries && libraries->check(format, path);
}

void preloadDecoders()
{
    // Local times of DOS stamps need the time zone file, which a sandboxed
    // decoder can no longer open.
    ::tzset();
    NameDecoder::preload();
    if (const LibraryDecoders *libraries = libraryDecoders())
        libraries->preload(nullptr);
}

int extractCommand(const LibraryProfile &profile, const Command &command, std::string &message)
{
    bool needsLibraries = false;
    const TenvoResult result = extractArchiveHere(
        profile, command.archivePath, command.destination,
        command.flatten ? Layout::Flatten : Layout::Restore, message,
        command.hasPassword ? &command.password : nullptr, command.encoding, needsLibraries);
    return needsLibraries ? kNeedsLibraryDecoders : int(result);
}

TenvoResult extractArchive(const LibraryProfile &profile, const std::string &archivePath,
                           const std::string &destination, Layout layout, std::string &message,
                           const std::string *password, const NameEncoding *encoding)
{
    bool needsLibraries = false;
    const TenvoResult result = extractArchiveHere(profile, archivePath, destination, layout, message,
                                                  password, encoding, needsLibraries);
    if (needsLibraries)
        message = "the decoding libraries are not loaded";
    return result;
}

namespace {

TenvoResult extractArchiveHere(const LibraryProfile &profile, const std::string &archivePath,
                               const std::string &destination, Layout layout, std::string &message,
                               const std::string *password, const NameEncoding *encoding,
                               bool &needsLibraries)
{
    ArchiveFormat format = ArchiveFormat::Unknown;
    if (const TenvoResult opened = sniffFile(archivePath, format, message); opened != TENVO_OK)
        return opened;
    // "x.zip.002" alone: the archive begins in the part before it.
    if (format == ArchiveFormat::Unknown && numberedPartNumber(archivePath) > 1) {
        message = "this is not the first volume of a multi-volume archive";
        return TENVO_ERR_VOLUME;
    }
    const NumberedParts parts = joinedParts(archivePath);
    if (format == ArchiveFormat::Unknown && !parts.missing.empty()) {
        message = "a volume of the set is missing: " + parts.missing;
        return TENVO_ERR_VOLUME;
    }
    if (!accepts(profile, format)) {
        message = std::string(profile.name) + " reads only " + acceptedNames(profile)
            + " archives; \"" + escapeForMessage(archivePath) + "\" is "
            + (format == ArchiveFormat::Unknown ? "none of them" : formatName(format));
        return TENVO_ERR_FORMAT;
    }

    // The password is tried before anything is written, so a wrong one
    // leaves no file behind.
    bool encrypted = false;
    if (const TenvoResult opens = checkPassword(format, archivePath, password, encrypted, message,
                                                needsLibraries);
        opens != TENVO_OK)
        return opens;
    // Every format but a plain ZIP archive goes through the decoding
    // libraries: asked for before the destination is touched.
    if (format != ArchiveFormat::Zip && !libraryDecoders()) {
        needsLibraries = true;
        return TENVO_ERR_DECODER;
    }

    SafeWriter writer(layout, encoding);
    writer.setDecryptsEntries(encrypted);
    if (const TenvoResult opened = writer.open(destination, message); opened != TENVO_OK)
        return opened;

    std::string decoderMessage;
    TenvoResult decoded = TENVO_OK;
    bool failed = false;
    if (const EntryShare *share = currentEntryShare()) {
        // One of several processes decoding this archive: it writes its
        // share of the entries (entryshare.h).
        SharedEntrySink shared(writer, layout, *share);
        decoded = decode(format, archivePath, shared, decoderMessage, password, needsLibraries);
        shared.finishAfterOthers();
        failed = shared.failedAnywhere(decoded != TENVO_OK || writer.result() != TENVO_OK);
    } else {
        decoded = decode(format, archivePath, writer, decoderMessage, password, needsLibraries);
        failed = decoded != TENVO_OK;
    }
    writer.finish(failed);
    if (needsLibraries)
        return TENVO_ERR_DECODER;

    // A numbered set cut short reads as a damaged archive; the missing part
    // is the cause to name. Equal cuts make a last part of full size the
    // likely place of a cut at the end.
    std::string missingPart = parts.missing;
    if (numberedPartNumber(archivePath) == 1) {
        struct stat first {}, last {};
        if (missingPart.empty() && (failed || writer.result() != TENVO_OK) && !parts.paths.empty()
            && ::stat(parts.paths.front().c_str(), &first) == 0
            && ::stat(parts.paths.back().c_str(), &last) == 0 && first.st_size == last.st_size)
            missingPart = numberedPartName(archivePath, parts.paths.size());
    }
    if (!missingPart.empty() && decoded != TENVO_ERR_STOPPED && writer.result() != TENVO_ERR_WRITE) {
        decoded = TENVO_ERR_VOLUME;
        decoderMessage = "a volume of the set is missing: " + missingPart;
    }

    std::string shortened;
    if (writer.shortenedCount() > 0) {
        shortened = "\n" + std::string(kShortenedMark) + std::to_string(writer.shortenedCount());
        for (const auto &[stored, landed] : writer.shortenedNames())
            shortened += "\n" + std::string(kShortenedMark) + escapeForMessage(stored) + '\t'
                + escapeForMessage(landed);
        shortened += '\n';
    }
    if (writer.result() != TENVO_OK && decoded == TENVO_ERR_VOLUME && !missingPart.empty()) {
        message = escapeForMessage(decoderMessage) + shortened;
        return TENVO_ERR_VOLUME;
    }
    if (writer.result() != TENVO_OK) {
        message = writer.message();
        if (writer.entriesFailed() > 1)
            message += " (" + std::to_string(writer.entriesFailed()) + " entries kept out in all)";
        if (decoded != TENVO_OK)
            message += "; then: " + escapeForMessage(decoderMessage);
        message += shortened;
        return writer.result();
    }
    if (decoded != TENVO_OK) {
        message = escapeForMessage(decoderMessage) + shortened;
        return decoded;
    }
    message = std::to_string(writer.entriesWritten()) + " entries extracted" + shortened;
    return TENVO_OK;
}

} // namespace

std::string withShortenedNames(const std::string &message, const std::vector<std::string> &messages)
{
    std::string result = message.substr(0, message.find('\n'));
    std::string lines;
    std::size_t count = 0;
    const std::size_t markSize = std::strlen(kShortenedMark);
    for (const std::string &text : messages) {
        std::size_t at = text.find('\n');
        while (at != std::string::npos) {
            const std::size_t end = text.find('\n', at + 1);
            if (end == std::string::npos)
                break;
            const std::string line = text.substr(at + 1, end - at - 1);
            if (line.rfind(kShortenedMark, 0) == 0) {
                if (line.find('\t', markSize) != std::string::npos)
                    lines += line + '\n';
                else
                    count += std::strtoull(line.c_str() + markSize, nullptr, 10);
            }
            at = end;
        }
    }
    if (count > 0)
        result += "\n" + std::string(kShortenedMark) + std::to_string(count) + '\n' + lines;
    return result;
}

} // namespace tenvo::engine
