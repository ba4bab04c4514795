// Builds the decoder children's system call filter with libseccomp and
// writes it out as the initialiser of a sock_filter array, so that the
// programs load the kernel's format as it is and never build it (or load
// libseccomp) at run time.
//
//   tenvo-filtergen OUTPUT
#include <linux/filter.h>
#include <sched.h>
#include <seccomp.h>
#include <sys/ioctl.h>
#include <sys/mman.h>
#include <unistd.h>

#include <cerrno>
#include <cinttypes>
#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

namespace {

// Calls no decoder or writer makes: a decoder that makes one has been taken
// over, and ends.
constexpr int kForbidden[] = {
    // network and local sockets
    SCMP_SYS(socket), SCMP_SYS(socketpair), SCMP_SYS(connect), SCMP_SYS(bind), SCMP_SYS(listen),
    SCMP_SYS(accept), SCMP_SYS(accept4),
    // other programs and processes
    SCMP_SYS(execve), SCMP_SYS(execveat), SCMP_SYS(fork), SCMP_SYS(vfork), SCMP_SYS(ptrace),
    SCMP_SYS(process_vm_readv), SCMP_SYS(process_vm_writev), SCMP_SYS(kcmp), SCMP_SYS(pidfd_getfd),
    // namespaces, mounts, the root
    SCMP_SYS(unshare), SCMP_SYS(setns), SCMP_SYS(mount), SCMP_SYS(umount2), SCMP_SYS(chroot),
    SCMP_SYS(pivot_root), SCMP_SYS(move_mount), SCMP_SYS(open_tree), SCMP_SYS(fsopen), SCMP_SYS(fsconfig),
    SCMP_SYS(fsmount), SCMP_SYS(fspick), SCMP_SYS(mount_setattr), SCMP_SYS(open_by_handle_at),
    SCMP_SYS(name_to_handle_at),
    // keyrings, BPF and the kernel's own
    SCMP_SYS(add_key), SCMP_SYS(keyctl), SCMP_SYS(request_key), SCMP_SYS(bpf), SCMP_SYS(perf_event_open),
    SCMP_SYS(userfaultfd), SCMP_SYS(io_uring_setup), SCMP_SYS(io_uring_enter), SCMP_SYS(io_uring_register),
    SCMP_SYS(fanotify_init), SCMP_SYS(kexec_load), SCMP_SYS(kexec_file_load), SCMP_SYS(init_module),
    SCMP_SYS(finit_module), SCMP_SYS(delete_module), SCMP_SYS(reboot), SCMP_SYS(swapon), SCMP_SYS(swapoff),
    SCMP_SYS(acct), SCMP_SYS(quotactl), SCMP_SYS(syslog), SCMP_SYS(iopl), SCMP_SYS(ioperm),
    SCMP_SYS(personality), SCMP_SYS(uselib), SCMP_SYS(vhangup), SCMP_SYS(sethostname),
    SCMP_SYS(setdomainname), SCMP_SYS(settimeofday), SCMP_SYS(clock_settime), SCMP_SYS(clock_adjtime),
    SCMP_SYS(adjtimex),
};

constexpr std::uint64_t kNewNamespaces = CLONE_NEWNS | CLONE_NEWUSER | CLONE_NEWPID | CLONE_NEWNET
    | CLONE_NEWIPC | CLONE_NEWUTS | CLONE_NEWCGROUP;

std::vector<sock_filter> buildFilter()
{
    // Allowed by default: what glibc and the decoding libraries call differs
    // by version and path, and the file system is Landlock's part. A list of
    // what must never happen holds on every system.
    scmp_filter_ctx ctx = seccomp_init(SCMP_ACT_ALLOW);
    if (!ctx)
        return {};
    seccomp_attr_set(ctx, SCMP_FLTATR_ACT_BADARCH, SCMP_ACT_KILL_PROCESS);
    // Every read and write passes the filter: a tree, not a list of
    // seventy comparisons.
    seccomp_attr_set(ctx, SCMP_FLTATR_CTL_OPTIMIZE, 2);
    const std::uint32_t kill = SCMP_ACT_KILL_PROCESS;
    bool ok = true;
    for (const int call : kForbidden) {
        const int added = seccomp_rule_add(ctx, kill, call, 0);
        // A call this architecture lacks cannot be made on it anyway.
        ok = ok && (added == 0 || added == -EDOM || added == -EINVAL);
    }
    // Threads may be started; processes and namespaces may not.
    ok = ok && seccomp_rule_add(ctx, kill, SCMP_SYS(clone), 1, SCMP_A0(SCMP_CMP_MASKED_EQ, CLONE_THREAD, 0)) == 0;
    for (std::uint64_t bit = 1; bit != 0; bit <<= 1) {
        if (kNewNamespaces & bit)
            ok = ok && seccomp_rule_add(ctx, kill, SCMP_SYS(clone), 1, SCMP_A0(SCMP_CMP_MASKED_EQ, bit, bit)) == 0;
    }
    // clone3's flags lie in memory a filter cannot read: glibc falls back
    // to clone, which the rules above see.
    ok = ok && seccomp_rule_add(ctx, SCMP_ACT_ERRNO(ENOSYS), SCMP_SYS(clone3), 0) == 0;
    // Typing into the terminal of whoever started the program.
    ok = ok && seccomp_rule_add(ctx, kill, SCMP_SYS(ioctl), 1, SCMP_A1(SCMP_CMP_EQ, TIOCSTI, 0)) == 0;
    ok = ok && seccomp_rule_add(ctx, kill, SCMP_SYS(ioctl), 1, SCMP_A1(SCMP_CMP_EQ, TIOCLINUX, 0)) == 0;

    std::vector<sock_filter> code;
    const int memory = ::memfd_create("tenvo-filter", MFD_CLOEXEC);
    if (ok && memory >= 0 && seccomp_export_bpf(ctx, memory) == 0) {
        const off_t size = ::lseek(memory, 0, SEEK_END);
        code.resize(std::size_t(size) / sizeof(sock_filter));
        if (size <= 0 || ::pread(memory, code.data(), code.size() * sizeof(sock_filter), 0) != ssize_t(size))
            code.clear();
    }
    if (memory >= 0)
        ::close(memory);
    seccomp_release(ctx);
    return code;
}

} // namespace

int main(int argc, char *argv[])
{
    if (argc != 2) {
        std::fprintf(stderr, "usage: %s OUTPUT\n", argv[0]);
        return 2;
    }
    const std::vector<sock_filter> code = buildFilter();
    if (code.empty() || code.size() > BPF_MAXINSNS) {
        std::fprintf(stderr, "%s: libseccomp cannot build the filter\n", argv[0]);
        return 1;
    }
    const std::string temporary = std::string(argv[1]) + ".tmp";
    std::FILE *out = std::fopen(temporary.c_str(), "w");
    if (!out) {
        std::perror(argv[1]);
        return 1;
    }
    std::fprintf(out, "// Written by tenvo-filtergen: %zu instructions.\n", code.size());
    for (const sock_filter &op : code)
        std::fprintf(out, "{0x%04x, %u, %u, 0x%08" PRIx32 "},\n", unsigned(op.code), unsigned(op.jt), unsigned(op.jf),
                     std::uint32_t(op.k));
    if (std::fclose(out) != 0 || std::rename(temporary.c_str(), argv[1]) != 0) {
        std::perror(argv[1]);
        return 1;
    }
    return 0;
}
