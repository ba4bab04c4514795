// libFuzzer target: the extraction engine on any archive bytes, through
// every library profile and both layouts, checking where files land.
#include "archiver.h"
#include "profiles.h"

#include <dirent.h>
#include <fcntl.h>
#include <limits.h>
#include <sched.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>
#include <set>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

using namespace tenvo::engine;

namespace {

// Folders the entries of a hostile archive might reach with an absolute name.
const char *const watchedFolders[] = {"/", "/tmp", "/dev/shm", "/var/tmp"};

// Where possible the target runs in a mount namespace of its own with empty
// tmpfs mounts on the temporary folders: anything that appears there besides
// g_root came from an archive. The other watched folders are shared with the
// rest of the machine: there a name is an escape when it is new, has never
// been seen there before, and the input spells it out. (The fuzzer learns
// every name it sees compared and copies them into its inputs, so a name
// seen once can never count.)
std::set<std::string> g_privateFolders;
std::map<std::string, std::set<std::string>> g_namesSeen;

std::string g_root;        // /dev/shm/tenvo-fuzz-extract-<pid>
std::string g_archive;     // g_root/in/archive
std::string g_destination; // g_root/0/1/.../out: deep, so ".." chains stay in g_root

std::string_view g_input;
std::string g_context;

[[noreturn]] void fail(const std::string &what)
{
    // One line with "ERROR:": libFuzzer's fork mode passes on only such lines.
    std::fprintf(stderr, "ERROR: fuzz_extract: %s (%s)\n", what.c_str(), g_context.c_str());
    std::abort();
}

std::set<std::string> namesIn(const std::string &folder)
{
    std::set<std::string> names;
    if (DIR *dir = opendir(folder.c_str())) {
        while (const dirent *entry = readdir(dir))
            names.insert(entry->d_name);
        closedir(dir);
    }
    return names;
}

void removeTree(const std::string &path)
{
    struct stat st;
    if (lstat(path.c_str(), &st) != 0)
        return;
    if (S_ISDIR(st.st_mode)) {
        // Stored folder permissions may forbid listing or deleting.
        chmod(path.c_str(), 0700);
        for (const std::string &name : namesIn(path)) {
            if (name != "." && name != "..")
                removeTree(path + '/' + name);
        }
        rmdir(path.c_str());
    } else {
        unlink(path.c_str());
    }
}

bool makeFolders(const std::string &path)
{
    for (std::size_t slash = 1; slash != std::string::npos; slash = path.find('/', slash + 1)) {
        if (mkdir(path.substr(0, slash).c_str(), 0700) != 0 && errno != EEXIST)
            return false;
    }
    return mkdir(path.c_str(), 0700) == 0 || errno == EEXIST;
}

// The link's target resolved by names alone against the folder that holds
// the link (both relative to the destination); false when it climbs out.
bool staysInsideByName(const std::string &linkFolder, const std::string &target)
{
    if (target.empty() || target[0] == '/')
        return false;
    std::vector<std::string> parts;
    auto add = [&parts](std::string_view path) {
        std::size_t start = 0;
        while (start <= path.size()) {
            const std::size_t end = std::min(path.find('/', start), path.size());
            const std::string_view part = path.substr(start, end - start);
            if (part == "..") {
                if (parts.empty())
                    return false;
                parts.pop_back();
            } else if (!part.empty() && part != ".") {
                parts.emplace_back(part);
            }
            start = end + 1;
        }
        return true;
    };
    return add(linkFolder) && add(target);
}

struct TreeCheck {
    std::string realDestination;
    std::map<std::pair<dev_t, ino_t>, nlink_t> linkCounts;
    std::map<std::pair<dev_t, ino_t>, nlink_t> seen;
};

void checkTree(TreeCheck &check, const std::string &relative)
{
    const std::string folder = g_destination + (relative.empty() ? "" : "/" + relative);
    for (const std::string &name : namesIn(folder)) {
        if (name == "." || name == "..")
            continue;
        const std::string rel = relative.empty() ? name : relative + '/' + name;
        const std::string path = g_destination + '/' + rel;
        struct stat st;
        if (lstat(path.c_str(), &st) != 0)
            fail("cannot look at extracted \"" + rel + "\"");
        if (name.rfind(".tenvo-", 0) == 0 && name.size() > 4
            && name.compare(name.size() - 4, 4, ".tmp") == 0)
            fail("a temporary file was left behind: \"" + rel + "\"");
        if (S_ISCHR(st.st_mode) || S_ISBLK(st.st_mode) || S_ISFIFO(st.st_mode)
            || S_ISSOCK(st.st_mode))
            fail("a device, FIFO or socket was created: \"" + rel + "\"");
        if (!S_ISLNK(st.st_mode) && (st.st_mode & (S_ISUID | S_ISGID | S_ISVTX)))
            fail("a set-user-ID, set-group-ID or sticky bit was kept: \"" + rel + "\"");
        if (!S_ISLNK(st.st_mode) && (st.st_mode & 022))
            fail("permissions did not pass through the umask: \"" + rel + "\"");
        if (S_ISDIR(st.st_mode)) {
            chmod(path.c_str(), (st.st_mode & 07777) | 0700);
            checkTree(check, rel);
        } else if (S_ISLNK(st.st_mode)) {
            char target[PATH_MAX + 1];
            const ssize_t length = readlink(path.c_str(), target, PATH_MAX);
            if (length < 0)
                fail("cannot read extracted link \"" + rel + "\"");
            const std::string text(target, std::size_t(length));
            const std::size_t slash = rel.rfind('/');
            const std::string linkFolder = slash == std::string::npos ? "" : rel.substr(0, slash);
            if (!staysInsideByName(linkFolder, text))
                fail("a link leads out of the destination: \"" + rel + "\" -> \"" + text + "\"");
            char resolved[PATH_MAX];
            if (realpath(path.c_str(), resolved)) {
                const std::string real = resolved;
                if (real != check.realDestination
                    && real.rfind(check.realDestination + '/', 0) != 0)
                    fail("a chain of links leads out of the destination: \"" + rel + "\" -> "
                         + real);
            }
        } else if (S_ISREG(st.st_mode) && st.st_nlink > 1) {
            const auto id = std::make_pair(st.st_dev, st.st_ino);
            check.linkCounts[id] = st.st_nlink;
            ++check.seen[id];
        }
    }
}

void checkDestination()
{
    TreeCheck check;
    char resolved[PATH_MAX];
    if (!realpath(g_destination.c_str(), resolved))
        fail("the destination folder vanished");
    check.realDestination = resolved;
    checkTree(check, "");
    for (const auto &[id, count] : check.linkCounts) {
        if (check.seen[id] != count)
            fail("a hard link joins an extracted file to one outside the destination");
    }

    // Everything in g_root besides the archive and the destination's parents
    // was written by a climbing entry.
    std::string expected = g_root;
    for (const std::string &name : namesIn(g_root + "/in")) {
        if (name != "." && name != ".." && name != "archive")
            fail("an entry landed beside the archive: \"" + name + "\"");
    }
    for (std::string_view rest = std::string_view(g_destination).substr(g_root.size() + 1);;) {
        const std::size_t slash = rest.find('/');
        const std::string next(rest.substr(0, slash));
        for (const std::string &name : namesIn(expected)) {
            if (name != "." && name != ".." && name != next && !(expected == g_root && name == "in"))
                fail("an entry landed outside the destination: \"" + expected + '/' + name + "\"");
        }
        if (slash == std::string_view::npos)
            break;
        expected += '/' + next;
        rest.remove_prefix(slash + 1);
    }

    for (const char *folder : watchedFolders) {
        std::set<std::string> &seen = g_namesSeen[folder];
        const bool isPrivate = g_privateFolders.count(folder) != 0;
        for (const std::string &name : namesIn(folder)) {
            if (name == "." || name == ".." || std::string(folder) + '/' + name == g_root)
                continue;
            if (isPrivate
                || (!seen.count(name) && g_input.find(name) != std::string_view::npos))
                fail("an entry landed outside the destination: \"" + std::string(folder) + "/"
                     + name + "\"");
            seen.insert(name);
        }
    }
}

bool writeFile(const char *path, const std::string &text)
{
    const int fd = open(path, O_WRONLY | O_CLOEXEC);
    if (fd < 0)
        return false;
    const bool written = write(fd, text.data(), text.size()) == ssize_t(text.size());
    close(fd);
    return written;
}

// Enters a mount namespace of its own (in a user namespace when not root)
// and mounts an empty tmpfs on each temporary folder that does not hold
// libFuzzer's own files ($TMPDIR, which the fork mode shares with its jobs).
void privateTemporaryFolders()
{
    const uid_t uid = geteuid();
    const gid_t gid = getegid();
    if (unshare(uid == 0 ? CLONE_NEWNS : CLONE_NEWUSER | CLONE_NEWNS) != 0)
        return;
    if (uid != 0
        && !(writeFile("/proc/self/setgroups", "deny")
             && writeFile("/proc/self/uid_map", "0 " + std::to_string(uid) + " 1")
             && writeFile("/proc/self/gid_map", "0 " + std::to_string(gid) + " 1")))
        return;
    if (mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) != 0)
        return;
    char resolved[PATH_MAX];
    const char *tmpdir = std::getenv("TMPDIR");
    const std::string fuzzerTemp = realpath(tmpdir && *tmpdir ? tmpdir : "/tmp", resolved)
        ? std::string(resolved) + '/' : std::string("/tmp/");
    for (const char *folder : {"/tmp", "/var/tmp", "/dev/shm"}) {
        if (fuzzerTemp.rfind(std::string(folder) + '/', 0) == 0)
            continue;
        if (mount("tmpfs", folder, "tmpfs", MS_NOSUID, "size=1g,mode=1777") == 0)
            g_privateFolders.insert(folder);
    }
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int *, char ***)
{
    umask(022);
    privateTemporaryFolders();
    for (const char *folder : watchedFolders)
        g_namesSeen[folder] = namesIn(folder);
    const char *tmpfs = access("/dev/shm", W_OK) == 0 ? "/dev/shm" : "/tmp";
    g_root = std::string(tmpfs) + "/tenvo-fuzz-extract-" + std::to_string(getpid());
    removeTree(g_root);
    g_archive = g_root + "/in/archive";
    g_destination = g_root;
    for (int depth = 0; depth < 12; ++depth)
        g_destination += "/" + std::to_string(depth);
    g_destination += "/out";
    if (!makeFolders(g_root + "/in") || !makeFolders(g_destination))
        fail("cannot make the work folders under " + g_root);
    rmdir(g_destination.c_str());
    std::atexit([] { removeTree(g_root); });
    std::fprintf(stderr, "fuzz_extract: private temporary folders:");
    for (const std::string &folder : g_privateFolders)
        std::fprintf(stderr, " %s", folder.c_str());
    std::fprintf(stderr, "%s\n", g_privateFolders.empty() ? " none" : "");
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    g_input = std::string_view(reinterpret_cast<const char *>(data), size);
    if (FILE *file = std::fopen(g_archive.c_str(), "wb")) {
        if (size > 0 && std::fwrite(data, 1, size, file) != size)
            fail("cannot write the archive");
        std::fclose(file);
    } else {
        fail("cannot write the archive");
    }

    const LibraryProfile *const profiles[] = {&unlhaProfile(), &cabProfile(), &unzipProfile(),
                                              &sevenZipProfile(), &unrarProfile()};
    for (const LibraryProfile *profile : profiles) {
        for (Layout layout : {Layout::Restore, Layout::Flatten}) {
            g_context = std::string(profile->name)
                + (layout == Layout::Restore ? ", restoring folders" : ", flattened");
            if (mkdir(g_destination.c_str(), 0755) != 0)
                fail("cannot make the destination");
            std::string message;
            // The password of the encrypted seeds, so that their decryption
            // and rewritten headers are reached too.
            const std::string password = "secret";
            const TenvoResult result = extractArchive(
                *profile, g_archive, g_destination, layout, message,
                profile == &sevenZipProfile() ? &password : nullptr);
            // The decoder program's own results (9, 10) never come from
            // the engine itself.
            if (result < TENVO_OK || (result > TENVO_ERR_VOLUME && result != TENVO_ERR_METHOD))
                fail("result out of range: " + std::to_string(int(result)));
            if (result != TENVO_OK && message.empty())
                fail("failure " + std::to_string(int(result)) + " without a message");
            checkDestination();
            removeTree(g_destination);
        }
    }
    return 0;
}
