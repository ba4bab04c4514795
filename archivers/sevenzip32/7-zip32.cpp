// 7-zip32.so, the 7-Zip archiver library: ZIP and 7z archives.
#include "7-zip32.h"

#include "profiles.h"

using namespace tenvo::engine;

int SevenZipGetVersion(void)
{
    return kLibraryVersion;
}

int SevenZipCheckArchive(const char *path, int mode)
{
    return checkArchive(sevenZipProfile(), path, mode);
}

int SevenZip(void *, const char *commandLine, char *output, unsigned int outputSize)
{
    return runCommand(sevenZipProfile(), commandLine, output, outputSize);
}

int SevenZipWithProgress(void *, const char *commandLine, char *output, unsigned int outputSize,
                         TenvoProgressCall progress, void *context, int processes)
{
    return runCommand(sevenZipProfile(), commandLine, output, outputSize, progress, context, processes);
}
