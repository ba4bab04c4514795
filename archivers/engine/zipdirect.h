// Decoding of a ZIP archive's stored and Deflate entries straight from the file.
#pragma once

// zlib's inflate, which libarchive uses, is most of the time a ZIP archive
// takes to extract; ISA-L's is two to three times faster. libarchive still
// walks the archive and describes every entry (names, kinds, times, links,
// damaged headers); only the data of a plain file entry whose central
// directory record and local header agree with what libarchive read is
// decoded here, everything else (encrypted entries, other methods, entries
// that do not agree) keeps libarchive's path.

#include "decoderutil.h"
#include "entrysink.h"
#include "zipscan.h"

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace tenvo::engine {

// Whether plain entries are decoded here (the default) or all through
// libarchive, and how many entries were decoded here in this process: for
// tests and the benchmark, which compare the two paths.
void setZipDirectDecoding(bool on);
bool zipDirectDecoding();
uint64_t zipEntriesDecodedDirectly();

class ZipDirectData {
public:
    ZipDirectData();
    ~ZipDirectData();
    ZipDirectData(const ZipDirectData &) = delete;
    ZipDirectData &operator=(const ZipDirectData &) = delete;

    // Reads the central directory of the archive at path. False when it
    // cannot be read; no entry is then taken.
    bool open(const std::string &path);
    // Every entry is stored or Deflate and not encrypted.
    bool allPlain() const { return m_allPlain; }

    // For a walk that read the directory and local headers itself: opens the
    // file only, then takes each entry with where its data starts; decode()
    // knows the entries by the order they were added in.
    bool openFile(const std::string &path);
    FileReader &file() { return m_file; }
    std::size_t add(const ZipCentralEntry &entry, uint64_t dataStart);

    // Whether the entry libarchive gives at index (its walk goes by local
    // header offset, one entry per offset) is decoded here: a file, not
    // encrypted, stored or Deflate, with the name (stored bytes) and size
    // libarchive read, and a local header of the same name where the
    // directory says.
    bool takes(std::size_t index, const EntryInfo &info, const std::string &libarchiveName);

    // Streams the entry's data into the sink and checks its size and CRC.
    // TENVO_OK only when all of it decoded and checked; otherwise
    // TENVO_ERR_DAMAGED (fatal set when the file ends inside the entry) or
    // TENVO_ERR_WRITE when the sink refused the data.
    TenvoResult decode(std::size_t index, EntrySink &sink, std::string &message, bool &fatal);

private:
    struct Entry {
        uint64_t localHeaderOffset;
        uint64_t compressedSize;
        uint64_t uncompressedSize;
        uint32_t crc;
        uint16_t method;
        uint16_t flags;
        std::string name;
    };
    TenvoResult inflate(const Entry &entry, uint64_t start, EntrySink &sink, std::string &message,
                        bool &fatal);
    TenvoResult copy(const Entry &entry, uint64_t start, EntrySink &sink, std::string &message,
                     bool &fatal);

    FileReader m_file;
    bool m_allPlain = false;
    std::vector<Entry> m_entries;
    std::vector<uint64_t> m_dataStart; // per entry, 0 until its local header was read
    std::vector<unsigned char> m_header;
    std::unique_ptr<unsigned char[]> m_in;
    std::unique_ptr<unsigned char[]> m_out;
};

} // namespace tenvo::engine
