// The headers of a 7z archive, read far enough to take the encryption out of
// them: the signature header, the (possibly encoded) header's streams and
// folders, and an unencrypted header written back in their place.
#pragma once

#include "result.h"

#include <cstdint>
#include <string>
#include <vector>

namespace tenvo::engine {

class FileReader;

struct SevenZipCoder {
    std::string id;
    uint64_t inStreams = 1;
    uint64_t outStreams = 1;
    std::string properties;
};

struct SevenZipFolder {
    std::vector<SevenZipCoder> coders;
    // (in stream, out stream): the in stream is fed by that out stream.
    std::vector<std::pair<uint64_t, uint64_t>> bindPairs;
    // The in streams fed from the folder's pack streams, in order.
    std::vector<uint64_t> packedStreams;
    // One size per out stream of every coder, in coder order.
    std::vector<uint64_t> unpackSizes;
    bool hasCrc = false;
    uint32_t crc = 0;

    uint64_t inStreamCount() const;
    uint64_t outStreamCount() const;
    // The out stream no bind pair consumes: the folder's output.
    uint64_t mainOutStream() const;
    uint64_t unpackSize() const { return unpackSizes.empty() ? 0 : unpackSizes[mainOutStream()]; }
};

struct SevenZipStreams {
    uint64_t packPos = 0;
    std::vector<uint64_t> packSizes;
    std::vector<SevenZipFolder> folders;
    // The substreams property as stored (from its id through its end mark),
    // or empty.
    std::string subStreams;
    // How many files each folder holds (1 each unless the substreams say).
    std::vector<uint64_t> unpackStreams;
    // Where each folder's first pack stream is among packSizes.
    std::vector<std::size_t> firstPackStream;
    // Every file's size and CRC (when stored), folder after folder.
    std::vector<uint64_t> streamSizes;
    std::vector<std::pair<bool, uint32_t>> streamCrcs;
};

// One entry of the files' list.
struct SevenZipFile {
    std::string name; // UTF-8
    bool hasStream = true;
    bool isDirectory = false;
    bool isAnti = false;
    bool hasAttributes = false;
    uint32_t attributes = 0;
    int64_t mtime = INT64_MIN;
};

// One 7z archive's headers as read from its file.
struct SevenZipHeaders {
    uint64_t fileSize = 0;
    // The header was stored encoded; encrypted tells it was encrypted too.
    bool headerEncoded = false;
    bool headerEncrypted = false;
    bool hasMainStreams = false;
    SevenZipStreams main;
    // The header's archive properties as stored, then everything after the
    // main streams (the files' names and attributes, the end marks).
    std::string archiveProperties;
    std::string tail;
};

// True when any coder of any folder is the AES coder.
bool hasEncryptedFolder(const SevenZipStreams &streams);

// The files' list of the header's tail. False when it is malformed.
bool readSevenZipFiles(const SevenZipHeaders &headers, std::vector<SevenZipFile> &files);

// How the header written is changed beyond the encryption taken out.
struct SevenZipRewrite {
    // Per folder: its last coder (a filter over the folder's output) is
    // dropped, so its output is the stream before that filter.
    std::vector<bool> dropLastCoder;
    // Every folder is one file of its own (named by its number); the
    // files' CRCs are left out, and the CRC of a folder whose last coder
    // is dropped.
    bool folderFiles = false;
};

// Reads the archive's headers. An encoded header is decoded on the way
// (through libarchive's LZMA decoder); an encrypted one needs the password,
// and without it (password null) the result is TENVO_ERR_ENCRYPTED. A
// wrong password also gives TENVO_ERR_ENCRYPTED; its message never holds
// the password. No size is trusted beyond the file's.
TenvoResult readSevenZipHeaders(FileReader &file, const std::string *password,
                                SevenZipHeaders &headers, std::string &message);

// Takes the AES coders out of a folder, and its last coder too when
// dropLastCoder: the folder then gives the stream that coder was given.
// False when a coder to take out is bound in a way this does not follow.
bool plainSevenZipFolder(SevenZipFolder &folder, bool dropLastCoder);

// The plain header of the same archive with every AES coder taken out: each
// folder's encrypted pack stream is then its decrypted stream, whose size
// (servedSizes, one per pack stream) takes the place of the stored one. The
// pack streams begin right after the signature header. 
std::string writeSevenZipHeader(const SevenZipHeaders &headers,
                                const std::vector<uint64_t> &servedSizes,
                                const SevenZipRewrite &rewrite = {});

// The 32 bytes that begin a 7z archive whose header of headerSize bytes and
// CRC lies headerOffset bytes after them.
std::string sevenZipSignatureHeader(uint64_t headerOffset, const std::string &header);

} // namespace tenvo::engine
