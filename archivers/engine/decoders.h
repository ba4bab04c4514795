// Every format decoder the engine can route an archive to.
#pragma once

#include "entrysink.h"

#include <string>

namespace tenvo::engine {

// RAR 1.5 to 4 (solid ones included), through unarr. Names come from the
// stored header bytes, so names that are not Unicode keep their code page.
// A multi-volume set is read whole from its first volume (see
// decodeRar4Volumes).
TenvoResult decodeRar4(const std::string &archivePath, EntrySink &sink, std::string &message);

// One archive file through unarr, whatever its volume flags say; a file
// split across volumes is refused as damaged.
TenvoResult decodeRar4Archive(const std::string &archivePath, EntrySink &sink, std::string &message);

// A multi-volume RAR 4 set from its first volume ("name.partN.rar" or
// "name.rar", "name.r00", ...): every file whole, those spanning volumes
// included. A later volume given alone gives TENVO_ERR_VOLUME and writes
// nothing. With a volume missing the files the other volumes hold whole are
// extracted (after the gap only when the set is not solid), the ones cut
// there are not, and the result is TENVO_ERR_VOLUME; a damaged volume ends
// the set there. The volumes are joined in an unnamed scratch file beside
// the destination (EntrySink::scratchFolder), as large as the set.
TenvoResult decodeRar4Volumes(const std::string &firstPath, EntrySink &sink, std::string &message);
bool checkRar4(const std::string &archivePath);

// A whole ZIP archive through unarr (Deflate64 and the usual methods), for
// archives in which checkZipEntriesApart finds Deflate64 entries or padded
// extra areas.
TenvoResult decodeZipWithUnarr(const std::string &archivePath, EntrySink &sink,
                               std::string &message);

// LZH archives: through libarchive, or whole through liblhasa when a member
// is packed with a method libarchive does not decode (-lh1-, -lh4-, LArc's
// -lzs- and -lz5-, PMarc's -pm0- to -pm2-, ...). A method neither reads
// gives that member TENVO_ERR_METHOD while the others land.
TenvoResult decodeLzh(const std::string &archivePath, EntrySink &sink, std::string &message);
bool checkLzh(const std::string &archivePath);

// 7z archives. Those whose folders or header are encrypted with AES-256 are
// read with the password (UTF-8 text); without it, or with a wrong one,
// TENVO_ERR_ENCRYPTED. The others through libarchive as they are.
TenvoResult decodeSevenZip(const std::string &archivePath, EntrySink &sink, std::string &message,
                           const std::string *password);
// Whether LZMA and LZMA2 folders are decoded by the engine's own decoder
// (on unless turned off, which leaves them to libarchive: for comparing).
void setSevenZipLzmaDecoding(bool on);
// Before a 7z archive is written out: encrypted tells whether anything of
// it is encrypted. If so, TENVO_OK only when password decodes its header
// and the first file of its first encrypted folder whole, CRC checked;
// otherwise TENVO_ERR_ENCRYPTED with a message that never holds the
// password. TENVO_OK too for what the decoder reports better (damage).
TenvoResult checkSevenZipPassword(const std::string &archivePath, const std::string *password,
                                  bool &encrypted, std::string &message);
// A 7z archive whose headers read cleanly, or whose header is encrypted.
bool checkSevenZip(const std::string &archivePath);

// Microsoft cabinet files, through libmspack.
TenvoResult decodeCab(const std::string &archivePath, EntrySink &sink, std::string &message);
bool checkCab(const std::string &archivePath);

} // namespace tenvo::engine
