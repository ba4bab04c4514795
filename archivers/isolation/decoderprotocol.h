// The messages between an archiver library and the decoder program.
#pragma once

#include <cstdint>
#include <string>

namespace tenvo::isolation {

// One call handed to the decoder program, on a socket of its own.
struct DecoderRequest {
    char kind = 'x';         // 'x': run a command line; 'c': check an archive
    std::string profile;     // the library's name: "unlha32", ...
    std::string text;        // the command line, or the path to check
    std::string cleanupRoot; // where the decoder's temporaries may lie
    int stallSeconds = 30;
    // Decoder processes the call may use; an archive of at least
    // shareMinBytes then has its entries shared among them.
    int processes = 1;
    std::uint64_t shareMinBytes = std::uint64_t(16) << 20;
    // The caller's umask, file size limit and identity (isolation.h).
    int umask = -1;
    bool haveFileSizeLimit = false;
    std::uint64_t fileSizeSoft = 0;
    std::uint64_t fileSizeHard = 0;
    int uid = -1;
    int gid = -1;
};

// Frames on the request socket: a 32-bit length, then the bytes. The library
// sends one request frame; the program answers with any number of progress
// frames ('P', bytes read as 64 bits) and one result frame ('R', the result
// as 32 bits, then the message). The library ends its side of the socket
// (shutdown for writing) to stop the call.
// The request is built in one allocation, so that wipeFrame() reaches every
// copy of the command line (and of a password in it).
std::string encodeRequest(const DecoderRequest &request);
bool decodeRequest(const std::string &frame, DecoderRequest &request);
std::string progressFrame(long long bytesRead);
std::string resultFrame(int result, const std::string &message);

// Overwrites a frame (or any text that held a password) and empties it.
void wipeFrame(std::string &frame);

// Writes all of data to fd (no SIGPIPE); false when the peer is gone.
bool sendAll(int fd, const std::string &data);
// Reads one whole frame from a blocking fd; false at the end of input.
bool receiveFrame(int fd, std::string &frame);

} // namespace tenvo::isolation
