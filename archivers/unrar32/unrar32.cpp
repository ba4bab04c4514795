// unrar32.so, the RAR archiver library: RAR 4 and RAR 5 archives.
#include "unrar32.h"

#include "profiles.h"

using namespace tenvo::engine;

int UnrarGetVersion(void)
{
    return kLibraryVersion;
}

int UnrarCheckArchive(const char *path, int mode)
{
    return checkArchive(unrarProfile(), path, mode);
}

int Unrar(void *, const char *commandLine, char *output, unsigned int outputSize)
{
    return runCommand(unrarProfile(), commandLine, output, outputSize);
}

int UnrarWithProgress(void *, const char *commandLine, char *output, unsigned int outputSize,
                      TenvoProgressCall progress, void *context, int processes)
{
    return runCommand(unrarProfile(), commandLine, output, outputSize, progress, context, processes);
}
