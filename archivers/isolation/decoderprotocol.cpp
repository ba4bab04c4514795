// The messages between an archiver library and the decoder program.
#include "decoderprotocol.h"

#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

namespace tenvo::isolation {
namespace {

void putNumber(std::string &out, std::uint64_t value, int bytes)
{
    for (int i = 0; i < bytes; ++i)
        out.push_back(char((value >> (8 * i)) & 0xff));
}

bool getNumber(const std::string &in, std::size_t &at, int bytes, std::uint64_t &value)
{
    if (in.size() - at < std::size_t(bytes) || at > in.size())
        return false;
    value = 0;
    for (int i = 0; i < bytes; ++i)
        value |= std::uint64_t(std::uint8_t(in[at + i])) << (8 * i);
    at += std::size_t(bytes);
    return true;
}

void putText(std::string &out, const std::string &text)
{
    putNumber(out, text.size(), 4);
    out += text;
}

bool getText(const std::string &in, std::size_t &at, std::string &text)
{
    std::uint64_t size = 0;
    if (!getNumber(in, at, 4, size) || in.size() - at < size)
        return false;
    text.assign(in, at, std::size_t(size));
    at += std::size_t(size);
    return true;
}

std::string framed(const std::string &payload)
{
    std::string frame;
    putNumber(frame, payload.size(), 4);
    return frame + payload;
}

} // namespace

std::string encodeRequest(const DecoderRequest &request)
{
    const std::size_t size = 1 + 4 + 4 + 1 + 8 + 8 + 4 + 4 + 4 + 8 + 3 * 4 + request.profile.size()
        + request.text.size() + request.cleanupRoot.size();
    std::string frame;
    frame.reserve(4 + size);
    putNumber(frame, size, 4);
    frame.push_back(request.kind);
    putNumber(frame, std::uint32_t(request.stallSeconds), 4);
    putNumber(frame, std::uint32_t(request.umask), 4);
    putNumber(frame, request.haveFileSizeLimit ? 1 : 0, 1);
    putNumber(frame, request.fileSizeSoft, 8);
    putNumber(frame, request.fileSizeHard, 8);
    putNumber(frame, std::uint32_t(request.uid), 4);
    putNumber(frame, std::uint32_t(request.gid), 4);
    putNumber(frame, std::uint32_t(request.processes), 4);
    putNumber(frame, request.shareMinBytes, 8);
    putText(frame, request.profile);
    putText(frame, request.text);
    putText(frame, request.cleanupRoot);
    return frame;
}

void wipeFrame(std::string &frame)
{
    if (!frame.empty())
        ::explicit_bzero(frame.data(), frame.size());
    frame.clear();
}

bool decodeRequest(const std::string &frame, DecoderRequest &request)
{
    if (frame.empty())
        return false;
    request.kind = frame[0];
    std::size_t at = 1;
    std::uint64_t stall = 0;
    if (!getNumber(frame, at, 4, stall))
        return false;
    request.stallSeconds = int(stall);
    std::uint64_t mask = 0, have = 0, uid = 0, gid = 0;
    if (!getNumber(frame, at, 4, mask) || !getNumber(frame, at, 1, have)
        || !getNumber(frame, at, 8, request.fileSizeSoft) || !getNumber(frame, at, 8, request.fileSizeHard)
        || !getNumber(frame, at, 4, uid) || !getNumber(frame, at, 4, gid))
        return false;
    std::uint64_t processes = 1;
    if (!getNumber(frame, at, 4, processes) || !getNumber(frame, at, 8, request.shareMinBytes))
        return false;
    request.processes = int(processes);
    request.umask = int(std::int32_t(std::uint32_t(mask)));
    request.haveFileSizeLimit = have != 0;
    request.uid = int(std::int32_t(std::uint32_t(uid)));
    request.gid = int(std::int32_t(std::uint32_t(gid)));
    return getText(frame, at, request.profile) && getText(frame, at, request.text)
        && getText(frame, at, request.cleanupRoot) && at == frame.size();
}

std::string progressFrame(long long bytesRead)
{
    std::string payload(1, 'P');
    putNumber(payload, std::uint64_t(bytesRead), 8);
    return framed(payload);
}

std::string resultFrame(int result, const std::string &message)
{
    std::string payload(1, 'R');
    putNumber(payload, std::uint32_t(result), 4);
    payload += message;
    return framed(payload);
}

bool sendAll(int fd, const std::string &data)
{
    std::size_t done = 0;
    while (done < data.size()) {
        const ssize_t n = ::send(fd, data.data() + done, data.size() - done, MSG_NOSIGNAL);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return false;
        done += std::size_t(n);
    }
    return true;
}

bool receiveFrame(int fd, std::string &frame)
{
    auto readExactly = [fd](char *into, std::size_t size) {
        while (size > 0) {
            const ssize_t n = ::read(fd, into, size);
            if (n < 0 && errno == EINTR)
                continue;
            if (n <= 0)
                return false;
            into += n;
            size -= std::size_t(n);
        }
        return true;
    };
    unsigned char length[4];
    if (!readExactly(reinterpret_cast<char *>(length), sizeof length))
        return false;
    const std::uint32_t size = std::uint32_t(length[0]) | std::uint32_t(length[1]) << 8
        | std::uint32_t(length[2]) << 16 | std::uint32_t(length[3]) << 24;
    if (size > (64u << 20))
        return false;
    frame.resize(size);
    return readExactly(frame.data(), size);
}

} // namespace tenvo::isolation
