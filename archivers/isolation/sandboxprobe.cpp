// Asks the kernel which confinements it offers, for the decoder and for the
// program's own report; links nothing but the C library.
#include "sandbox.h"

#include <linux/landlock.h>
#include <linux/seccomp.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <cstdint>

namespace tenvo::isolation {

SandboxSupport probeSandbox()
{
    SandboxSupport support;
    // Answers the highest ABI, or fails (ENOSYS: not built in; EOPNOTSUPP:
    // built in but switched off at boot).
    const long abi = ::syscall(SYS_landlock_create_ruleset, nullptr, 0, LANDLOCK_CREATE_RULESET_VERSION);
    support.landlockAbi = abi > 0 ? int(abi) : 0;
    // Asks for the action a forbidden call gets; nothing is installed.
    std::uint32_t action = SECCOMP_RET_KILL_PROCESS;
    support.seccomp = ::syscall(SYS_seccomp, SECCOMP_GET_ACTION_AVAIL, 0, &action) == 0;
    return support;
}

} // namespace tenvo::isolation
