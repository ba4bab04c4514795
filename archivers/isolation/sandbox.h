// Confines a decoder child to its archive and its destination: no new
// privileges, Landlock for the file system, seccomp for the system calls.
#pragma once

#include <string>
#include <vector>

namespace tenvo::isolation {

// What one decoder child may reach. Disabled, the child runs as before.
struct SandboxPaths {
    bool enabled = false;
    // The archive (its volumes, found by name beside it, come with it).
    std::string archive;
    // The folder written into; empty when the call writes nothing.
    std::string destination;
};

// The protections this kernel offers, probed without changing anything.
struct SandboxSupport {
    int landlockAbi = 0; // 0: not available
    bool seccomp = false;
};
SandboxSupport probeSandbox();

// Closes the sandbox on the calling process for good: no new privileges,
// then Landlock (when the kernel has it), then the filter (likewise).
// Everything the decoders load lazily must be loaded before. False with
// a reason when a mechanism the kernel offers could not be put in place.
bool enterSandbox(const SandboxPaths &paths, std::string &reason);

// The files a decoder of archive may read: the archive and the files beside
// it named as its volumes or parts are ("x.r00", "x.part2.rar", "x.z01",
// "x.zip.002", ...), and every cabinet beside a cabinet, since a cabinet
// names the next one of its set freely.
std::vector<std::string> archiveSetFiles(const std::string &archive);

// Drops what the decoder program itself does not need and its children must
// not inherit: ambient and bounding capabilities (as far as an unprivileged
// process may) and, for good, the gaining of privileges through exec.
void dropInheritedRights();

} // namespace tenvo::isolation
