// cab32.so, the cabinet archiver library: Microsoft CAB files.
#include "cab32.h"

#include "profiles.h"

using namespace tenvo::engine;

int CabGetVersion(void)
{
    return kLibraryVersion;
}

int CabCheckArchive(const char *path, int mode)
{
    return checkArchive(cabProfile(), path, mode);
}

int Cab(void *, const char *commandLine, char *output, unsigned int outputSize)
{
    return runCommand(cabProfile(), commandLine, output, outputSize);
}

int CabWithProgress(void *, const char *commandLine, char *output, unsigned int outputSize,
                    TenvoProgressCall progress, void *context, int processes)
{
    return runCommand(cabProfile(), commandLine, output, outputSize, progress, context, processes);
}
