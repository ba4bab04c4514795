// Confines a decoder child: what a decoder taken over by a crafted archive
// can still reach is its archive, its destination, and no one else.
#include "sandbox.h"

#include <dirent.h>
#include <fcntl.h>
#include <linux/landlock.h>
#include <linux/seccomp.h>
#include <sys/prctl.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <cctype>
#include <cerrno>
#include <cstdint>
#include <cstring>
#include <iterator>
#include <linux/filter.h>

namespace tenvo::isolation {
namespace {

// Rights by the ABI that brought them; the uapi header of an older system
// may lack the later ones.
constexpr std::uint64_t kFsExecute = 1ull << 0;
constexpr std::uint64_t kFsReadFile = 1ull << 2;
constexpr std::uint64_t kFsReadDir = 1ull << 3;
constexpr std::uint64_t kFsMakeChar = 1ull << 6;
constexpr std::uint64_t kFsMakeSock = 1ull << 9;
constexpr std::uint64_t kFsMakeFifo = 1ull << 10;
constexpr std::uint64_t kFsMakeBlock = 1ull << 11;
constexpr std::uint64_t kFsRefer = 1ull << 13;    // ABI 2
constexpr std::uint64_t kFsTruncate = 1ull << 14; // ABI 3
constexpr std::uint64_t kFsIoctlDev = 1ull << 15; // ABI 5
constexpr std::uint64_t kNetBindTcp = 1ull << 0;    // ABI 4
constexpr std::uint64_t kNetConnectTcp = 1ull << 1; // ABI 4
constexpr std::uint64_t kScopeAbstractUnix = 1ull << 0; // ABI 6
constexpr std::uint64_t kScopeSignal = 1ull << 1;       // ABI 6

// The ruleset attribute as the newest ABI we use knows it; the kernel is
// given only the part its ABI reads.
struct RulesetAttr {
    std::uint64_t handledFs = 0;
    std::uint64_t handledNet = 0;
    std::uint64_t scoped = 0;
};

std::string lowerAscii(std::string text)
{
    for (char &c : text) {
        if (c >= 'A' && c <= 'Z')
            c = char(c - 'A' + 'a');
    }
    return text;
}

bool endsWith(const std::string &text, const std::string &end)
{
    return text.size() >= end.size() && text.compare(text.size() - end.size(), end.size(), end) == 0;
}

std::uint64_t handledFs(int abi)
{
    std::uint64_t rights = (1ull << 13) - 1;
    if (abi >= 2)
        rights |= kFsRefer;
    if (abi >= 3)
        rights |= kFsTruncate;
    if (abi >= 5)
        rights |= kFsIoctlDev;
    return rights;
}

struct Descriptor {
    int fd = -1;
    explicit Descriptor(int value) : fd(value) {}
    ~Descriptor()
    {
        if (fd >= 0)
            ::close(fd);
    }
};

bool addPathRule(int ruleset, const std::string &path, std::uint64_t access, int flags)
{
    const Descriptor target(::open(path.c_str(), O_PATH | O_CLOEXEC | flags));
    if (target.fd < 0)
        return false;
    landlock_path_beneath_attr rule{};
    rule.allowed_access = access;
    rule.parent_fd = target.fd;
    return ::syscall(SYS_landlock_add_rule, ruleset, LANDLOCK_RULE_PATH_BENEATH, &rule, 0) == 0;
}

bool enterLandlock(int abi, const SandboxPaths &paths, std::string &reason)
{
    RulesetAttr attr;
    attr.handledFs = handledFs(abi);
    std::size_t size = sizeof attr.handledFs;
    if (abi >= 4) {
        attr.handledNet = kNetBindTcp | kNetConnectTcp;
        size += sizeof attr.handledNet;
    }
    if (abi >= 6) {
        attr.scoped = kScopeAbstractUnix | kScopeSignal;
        size += sizeof attr.scoped;
    }
    const Descriptor ruleset(int(::syscall(SYS_landlock_create_ruleset, &attr, size, 0)));
    if (ruleset.fd < 0) {
        reason = std::string("Landlock: ") + std::strerror(errno);
        return false;
    }
    // A file that cannot be opened now could not be read later either.
    for (const std::string &file : archiveSetFiles(paths.archive))
        addPathRule(ruleset.fd, file, kFsReadFile, 0);
    // The next cabinet of a set may be named in another case than it is
    // spelled on disk: the folder is listed (not read) to find it.
    if (const std::size_t slash = paths.archive.rfind('/');
        paths.archive.size() > 4 && lowerAscii(paths.archive.substr(paths.archive.size() - 4)) == ".cab")
        addPathRule(ruleset.fd, slash == std::string::npos ? std::string(".") : paths.archive.substr(0, slash + 1),
                    kFsReadDir, O_DIRECTORY);
    // Everything a writer does below its folder; no programs, devices,
    // sockets or pipes made there.
    if (!paths.destination.empty())
        addPathRule(ruleset.fd, paths.destination,
                    attr.handledFs
                        & ~(kFsExecute | kFsMakeChar | kFsMakeBlock | kFsMakeSock | kFsMakeFifo | kFsIoctlDev),
                    O_DIRECTORY);
    if (::syscall(SYS_landlock_restrict_self, ruleset.fd, 0) != 0) {
        reason = std::string("Landlock: ") + std::strerror(errno);
        return false;
    }
    return true;
}

// The system call filter, built with libseccomp when the program was built
// (filtergen.cpp): the kernel's own format, loaded as it is.
constexpr sock_filter kFilter[] = {
#include "seccompfilter.inc"
};

bool enterSeccomp(std::string &reason)
{
    sock_fprog program{static_cast<unsigned short>(std::size(kFilter)), const_cast<sock_filter *>(kFilter)};
    // Older kernels force the speculative store bypass mitigation on every
    // filtered process, which slows decoding by several percent; the
    // decoder holds no secret of anyone but the archive's owner.
    if (::syscall(SYS_seccomp, SECCOMP_SET_MODE_FILTER, SECCOMP_FILTER_FLAG_SPEC_ALLOW, &program) != 0
        && ::syscall(SYS_seccomp, SECCOMP_SET_MODE_FILTER, 0, &program) != 0) {
        reason = std::string("seccomp: ") + std::strerror(errno);
        return false;
    }
    return true;
}

} // namespace

bool enterSandbox(const SandboxPaths &paths, std::string &reason)
{
    if (!paths.enabled)
        return true;
    // Landlock and the filter both need it; it also keeps a set-user-ID
    // program from ever running with more rights than the decoder.
    if (::prctl(PR_SET_NO_NEW_PRIVS, 1, 0, 0, 0) != 0) {
        reason = std::string("no-new-privileges: ") + std::strerror(errno);
        return false;
    }
    const SandboxSupport support = probeSandbox();
    if (support.landlockAbi > 0 && !enterLandlock(support.landlockAbi, paths, reason))
        return false;
    if (support.seccomp && !enterSeccomp(reason))
        return false;
    return true;
}

std::vector<std::string> archiveSetFiles(const std::string &archive)
{
    std::vector<std::string> files{archive};
    const std::size_t slash = archive.rfind('/');
    const std::size_t nameAt = slash == std::string::npos ? 0 : slash + 1;
    const std::string name = lowerAscii(archive.substr(nameAt));
    const auto regular = [](const std::string &path) {
        struct stat st;
        return ::stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode);
    };
    // The names head + number + tail from first on that are present, the
    // number as wide as width at least, looking past up to gap missing ones
    // (a RAR set's volumes after a missing one are read too). Asking for
    // names costs a stat each, whatever the size of the folder.
    const auto addRun = [&](const std::string &head, int first, std::size_t width, const std::string &tail,
                            int gap = 1) {
        for (int number = first, missing = 0; number < 10000 && missing < gap; ++number) {
            std::string digits = std::to_string(number);
            if (digits.size() < width)
                digits.insert(0, width - digits.size(), '0');
            const std::string path = head + digits + tail;
            if (path == archive) {
                missing = 0;
            } else if (regular(path)) {
                files.push_back(path);
                missing = 0;
            } else {
                ++missing;
            }
        }
    };
    constexpr int kRarGap = 16;
    const std::size_t dot = name.rfind('.');
    if (dot == std::string::npos)
        return files;
    const std::string extension = name.substr(dot + 1);
    const std::string head = archive.substr(0, nameAt + dot + 1); // up to the last dot, as spelled
    const bool upper = archive[nameAt + dot + 1] >= 'A' && archive[nameAt + dot + 1] <= 'Z';
    const bool numbered = extension.size() >= 3 && extension.find_first_not_of("0123456789") == std::string::npos;
    const bool oldVolume = extension.size() == 3 && extension[0] >= 'r' && extension[0] <= 'z'
        && std::isdigit(static_cast<unsigned char>(extension[1])) && std::isdigit(static_cast<unsigned char>(extension[2]));
    const std::size_t part = name.rfind(".part", dot);
    if (extension == "rar" && part != std::string::npos && part + 5 < dot
        && name.find_first_not_of("0123456789", part + 5) == dot) {
        // x.part1.rar, x.part2.rar, ...
        addRun(archive.substr(0, nameAt + part + 5), 1, dot - part - 5, archive.substr(nameAt + dot), kRarGap);
    } else if (extension == "zip" || (extension.size() == 3 && extension[0] == 'z' && oldVolume)) {
        // x.z01, x.z02, ... x.zip
        const std::string last = head + (upper ? "ZIP" : "zip");
        if (last != archive && regular(last))
            files.push_back(last);
        addRun(head + (upper ? "Z" : "z"), 1, 2, std::string());
    } else if (extension == "rar" || oldVolume) {
        // x.rar, x.r00 ... x.r99, x.s00, ...
        const std::string first = head + (upper ? "RAR" : "rar");
        if (first != archive && regular(first))
            files.push_back(first);
        for (char letter = 'r'; letter <= 'z'; ++letter) {
            const std::string lead = head + char(upper ? letter - 'a' + 'A' : letter);
            addRun(lead, 0, 2, std::string(), kRarGap);
            if (!regular(lead + "99"))
                break;
        }
    } else if (numbered) {
        // x.001, x.002, ... and x.7z.001, x.7z.002, ...
        addRun(head, 1, extension.size(), std::string());
    } else if (extension == "cab") {
        // A cabinet names the next one of its set freely: every cabinet
        // beside it (the folder is read only for them).
        const std::string folder = slash == std::string::npos ? std::string(".") : archive.substr(0, slash);
        if (DIR *dir = ::opendir(folder.c_str())) {
            while (const dirent *entry = ::readdir(dir)) {
                const std::string other = archive.substr(0, nameAt) + entry->d_name;
                const std::string lower = lowerAscii(entry->d_name);
                if (other != archive && endsWith(lower, ".cab") && regular(other))
                    files.push_back(other);
            }
            ::closedir(dir);
        }
    }
    return files;
}

void dropInheritedRights()
{
    ::prctl(PR_CAP_AMBIENT, PR_CAP_AMBIENT_CLEAR_ALL, 0, 0, 0);
    // Only a process holding CAP_SETPCAP may shrink its bounding set; for
    // others each call fails and changes nothing.
    for (int cap = 0; cap < 64; ++cap) {
        if (::prctl(PR_CAPBSET_DROP, cap, 0, 0, 0) != 0 && errno == EINVAL)
            break;
    }
    ::prctl(PR_SET_NO_NEW_PRIVS, 1, 0, 0, 0);
}

} // namespace tenvo::isolation
