// Decoding of a single cabinet's MSZIP and stored folders straight from the file.
#pragma once

// libmspack's own inflate is most of the time a large cabinet takes to
// extract; ISA-L's is several times faster. libmspack still reads the
// headers and describes every file, and keeps LZX, Quantum and cabinet sets;
// only the folders of a cabinet that stands alone, stored or MSZIP, are
// decoded here, with libmspack's checks and causes: a data block's checksum
// where the cabinet has one, sizes bounded by the headers and the file.

#include "decoderutil.h"
#include "entrysink.h"

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

struct inflate_state;

namespace tenvo::engine {

// Whether stored and MSZIP folders are decoded here (the default) or all
// through libmspack, and how many files were decoded here in this process:
// for tests and the benchmark, which compare the two paths.
void setCabDirectDecoding(bool on);
bool cabDirectDecoding();
uint64_t cabFilesDecodedDirectly();

// A folder as libmspack read it from the folder table.
struct CabFolderRecord {
    unsigned compType = 0; // method in the low four bits
    unsigned blocks = 0;
};

class CabDirectFolders {
public:
    CabDirectFolders();
    ~CabDirectFolders();
    CabDirectFolders(const CabDirectFolders &) = delete;
    CabDirectFolders &operator=(const CabDirectFolders &) = delete;

    // Reads the cabinet's header and folder table. A folder is taken when
    // the cabinet has no cabinet before or after it and the folder is stored
    // or MSZIP, as libmspack read it (folders lists libmspack's records in
    // order). False when no folder is taken.
    bool open(const std::string &path, const std::vector<CabFolderRecord> &folders);
    bool takes(std::size_t folder) const;

    // Streams length bytes from offset in the folder's data into the sink,
    // going on from the previous call within the same folder or decoding the
    // folder again from its start. TENVO_OK only when all of it decoded and
    // every block on the way passed its checks; otherwise TENVO_ERR_DAMAGED,
    // TENVO_ERR_OPEN when the file cannot be read, or TENVO_ERR_WRITE when
    // the sink refused the data, with a message. A damaged folder fails
    // every later file that needs its data.
    TenvoResult extract(std::size_t folder, uint64_t offset, uint64_t length, EntrySink &sink,
                        std::string &message);

private:
    struct Folder {
        uint64_t dataAt = 0;
        unsigned blocks = 0;
        bool mszip = false;
        bool taken = false;
    };
    void restart(std::size_t folder);
    bool produce(uint64_t size, EntrySink *sink, bool &refused);
    bool fill();
    bool nextBlock();
    bool nextFrame(unsigned char *out, std::size_t &size);
    const unsigned char *bytesAt(uint64_t offset, std::size_t size);
    bool fail(TenvoResult result, const char *text);

    FileReader m_file;
    std::vector<Folder> m_folders;
    std::size_t m_blockReserve = 0;

    std::unique_ptr<unsigned char[]> m_buffer; // a window of the file
    uint64_t m_bufferAt = 0;
    std::size_t m_bufferSize = 0;

    // The folder being decoded and where it stands.
    std::size_t m_current = SIZE_MAX;
    uint64_t m_position = 0;       // output bytes passed on or skipped
    unsigned m_block = 0;          // blocks read
    uint64_t m_blockAt = 0;        // the next block's header
    const unsigned char *m_in = nullptr; // the rest of the current block's data
    std::size_t m_inSize = 0;
    const unsigned char *m_out = nullptr; // output not yet passed on
    std::size_t m_outSize = 0;
    TenvoResult m_error = TENVO_OK;
    std::string m_errorMessage;

    std::unique_ptr<inflate_state> m_inflate;
    // Frames are decoded ahead into one buffer, so that the sink gets large
    // pieces; a damaged frame fails only the data from it on.
    std::unique_ptr<unsigned char[]> m_output;
    // The history the next frame is decoded over (null before the first):
    // the last frame where it was a whole one, else the window as the MSZIP
    // format keeps it, the last frame over the start of the one before.
    const unsigned char *m_history = nullptr;
    std::unique_ptr<unsigned char[]> m_window;
};

} // namespace tenvo::engine
