// unzip32.so, the ZIP archiver library: ZIP archives.
#include "unzip32.h"

#include "profiles.h"

using namespace tenvo::engine;

int UnZipGetVersion(void)
{
    return kLibraryVersion;
}

int UnZipCheckArchive(const char *path, int mode)
{
    return checkArchive(unzipProfile(), path, mode);
}

int UnZip(void *, const char *commandLine, char *output, unsigned int outputSize)
{
    return runCommand(unzipProfile(), commandLine, output, outputSize);
}

int UnZipWithProgress(void *, const char *commandLine, char *output, unsigned int outputSize,
                      TenvoProgressCall progress, void *context, int processes)
{
    return runCommand(unzipProfile(), commandLine, output, outputSize, progress, context, processes);
}
