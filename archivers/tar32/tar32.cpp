// tar32.so, the tar archiver library: tar archives and single compressed files.
#include "tar32.h"

#include "profiles.h"

using namespace tenvo::engine;

int TarGetVersion(void)
{
    return kLibraryVersion;
}

int TarCheckArchive(const char *path, int mode)
{
    return checkArchive(tarProfile(), path, mode);
}

int Tar(void *, const char *commandLine, char *output, unsigned int outputSize)
{
    return runCommand(tarProfile(), commandLine, output, outputSize);
}

int TarWithProgress(void *, const char *commandLine, char *output, unsigned int outputSize,
                    TenvoProgressCall progress, void *context, int processes)
{
    return runCommand(tarProfile(), commandLine, output, outputSize, progress, context, processes);
}
