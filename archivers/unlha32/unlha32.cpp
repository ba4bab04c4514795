// unlha32.so, the LHA archiver library: LZH archives.
#include "unlha32.h"

#include "profiles.h"

using namespace tenvo::engine;

int UnlhaGetVersion(void)
{
    return kLibraryVersion;
}

int UnlhaCheckArchive(const char *path, int mode)
{
    return checkArchive(unlhaProfile(), path, mode);
}

int Unlha(void *, const char *commandLine, char *output, unsigned int outputSize)
{
    return runCommand(unlhaProfile(), commandLine, output, outputSize);
}

int UnlhaWithProgress(void *, const char *commandLine, char *output, unsigned int outputSize,
                      TenvoProgressCall progress, void *context, int processes)
{
    return runCommand(unlhaProfile(), commandLine, output, outputSize, progress, context, processes);
}
