// Writes cabinets of several folders, stored or MSZIP, for test fixtures.
#include "cabwriter.h"

#include <archive.h>
#include <archive_entry.h>

#include <algorithm>
#include <memory>
#include <vector>

namespace tenvo::fixture {

namespace {

constexpr std::size_t kBlock = 32768;
constexpr uint16_t kAttributeArchive = 0x20;
constexpr uint16_t kAttributeUtf8 = 0x80;

void putU16(std::string &out, uint16_t value)
{
    out.push_back(char(value & 0xFF));
    out.push_back(char(value >> 8));
}

void putU32(std::string &out, uint32_t value)
{
    for (int shift = 0; shift < 32; shift += 8)
        out.push_back(char((value >> shift) & 0xFF));
}

// A raw Deflate stream of the bytes: libarchive's gzip output without its
// 10-byte header and 8-byte trailer.
bool rawDeflate(const std::string &data, std::string &stream)
{
    struct Free {
        void operator()(archive *a) const { archive_write_free(a); }
    };
    std::unique_ptr<archive, Free> writer(archive_write_new());
    std::vector<char> buffer(data.size() * 2 + 1024);
    std::size_t used = 0;
    if (!writer || archive_write_add_filter_gzip(writer.get()) != ARCHIVE_OK
        || archive_write_set_format_raw(writer.get()) != ARCHIVE_OK
        || archive_write_set_bytes_per_block(writer.get(), 0) != ARCHIVE_OK
        || archive_write_open_memory(writer.get(), buffer.data(), buffer.size(), &used) != ARCHIVE_OK)
        return false;
    archive_entry *entry = archive_entry_new();
    archive_entry_set_pathname(entry, "block");
    archive_entry_set_filetype(entry, AE_IFREG);
    archive_entry_set_size(entry, la_int64_t(data.size()));
    const bool written = archive_write_header(writer.get(), entry) == ARCHIVE_OK
        && (data.empty() || archive_write_data(writer.get(), data.data(), data.size()) == la_ssize_t(data.size()))
        && archive_write_close(writer.get()) == ARCHIVE_OK;
    archive_entry_free(entry);
    // Flags 0: no name or comment between the header and the stream.
    if (!written || used < 18 || buffer[3] != 0)
        return false;
    stream.assign(buffer.data() + 10, used - 18);
    return true;
}

bool isAscii(const std::string &s)
{
    return std::all_of(s.begin(), s.end(), [](char c) { return static_cast<unsigned char>(c) < 0x80; });
}

} // namespace

std::string makeFolderedCab(const FixtureEntries &entries, const FolderedCabOptions &options,
                            std::string *error)
{
    auto fail = [error](const std::string &why) {
        if (error)
            *error = why;
        return std::string();
    };
    if (options.filesPerFolder < 1)
        return fail("a folder holds at least one file");

    // Each folder's data, cut into blocks of 32 KiB (the last may be shorter).
    std::string files;
    std::vector<std::string> folderData;
    for (std::size_t i = 0; i < entries.size(); ++i) {
        const FixtureEntry &entry = entries[i];
        if (entry.kind != FixtureEntry::File)
            return fail("a cabinet stores files only");
        const std::size_t folder = i / options.filesPerFolder;
        if (folder == folderData.size())
            folderData.emplace_back();
        std::string name = entry.name;
        std::replace(name.begin(), name.end(), '/', '\\');
        const uint32_t dos = dosDateTime(entry.mtime);
        putU32(files, uint32_t(entry.data.size()));
        putU32(files, uint32_t(folderData[folder].size()));
        putU16(files, uint16_t(folder));
        putU16(files, uint16_t(dos >> 16));
        putU16(files, uint16_t(dos & 0xFFFF));
        putU16(files, uint16_t(kAttributeArchive | (isAscii(name) ? 0 : kAttributeUtf8)));
        files += name;
        files.push_back('\0');
        folderData[folder] += entry.data;
    }

    const std::size_t reserve = options.reserve;
    const std::size_t headerSize = 36 + (reserve ? 4 + reserve : 0);
    const std::size_t filesOffset = headerSize + (8 + reserve) * folderData.size();
    std::string folders;
    std::string blocks;
    for (std::size_t f = 0; f < folderData.size(); ++f) {
        const std::string &data = folderData[f];
        const std::size_t count = std::max<std::size_t>(1, (data.size() + kBlock - 1) / kBlock);
        putU32(folders, uint32_t(filesOffset + files.size() + blocks.size()));
        putU16(folders, uint16_t(count));
        putU16(folders, options.mszip ? 1 : 0);
        folders.append(reserve, '\0');
        for (std::size_t b = 0; b < count; ++b) {
            const std::string input = data.substr(b * kBlock, kBlock);
            std::string packed = input;
            if (options.mszip) {
                std::string stream;
                if (!rawDeflate(input, stream))
                    return fail("libarchive cannot deflate a block");
                packed = "CK" + stream;
            }
            // Checksum 0 means none; any other value must match the block.
            putU32(blocks, options.badChecksumFolder == f && b == 0 ? 0x5A5A5A5Au : 0);
            putU16(blocks, uint16_t(packed.size()));
            putU16(blocks, uint16_t(input.size()));
            blocks.append(reserve, '\0');
            blocks += packed;
        }
    }

    std::string out = "MSCF";
    putU32(out, 0);
    putU32(out, uint32_t(filesOffset + files.size() + blocks.size()));
    putU32(out, 0);
    putU32(out, uint32_t(filesOffset));
    putU32(out, 0);
    out.push_back(3); // version 1.3
    out.push_back(1);
    putU16(out, uint16_t(folderData.size()));
    putU16(out, uint16_t(entries.size()));
    putU16(out, reserve ? 4 : 0); // flags: a set of one, reserved areas or none
    putU16(out, 0x1234);          // set id
    putU16(out, 0);               // index in the set
    if (reserve) {
        putU16(out, uint16_t(reserve)); // in the header, in a folder, in a block
        out.push_back(char(reserve));
        out.push_back(char(reserve));
        out.append(reserve, '\0');
    }
    return out + folders + files + blocks;
}

} // namespace tenvo::fixture
