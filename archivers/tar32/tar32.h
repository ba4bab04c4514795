/* The calls that tar32.so exports (tar archives, bare or compressed with
   gzip, bzip2, xz or zstd, and single files compressed with one of them). */
#ifndef TENVO_TAR32_H
#define TENVO_TAR32_H

#include "result.h"

#ifndef TENVO_ARCHIVER_API
#define TENVO_ARCHIVER_API __attribute__((visibility("default")))
#endif

#ifdef __cplusplus
extern "C" {
#endif

/* A number above 0: the library is present and loaded. */
TENVO_ARCHIVER_API int TarGetVersion(void);

/* Non-zero when path is a tar archive (bare or compressed) or a single
   compressed file and all its headers read cleanly; 0 otherwise. mode is
   accepted and ignored. Writes nothing. */
TENVO_ARCHIVER_API int TarCheckArchive(const char *path, int mode);

/* Runs one command line, `switch "archive" "destination"` (UTF-8; inside
   quotes "" stands for one "). "x" restores the stored folders, "e" puts
   every file straight into the destination. A single compressed file lands
   as its own name without the compressor's suffix ("x.gz" gives "x").
   Returns 0 when every entry landed, else a TenvoResult code (result.h). A
   message goes into output when output != NULL and outputSize > 0, followed
   by the names that landed shortened (result.h). window is ignored. */
TENVO_ARCHIVER_API int Tar(void *window, const char *commandLine, char *output,
                           unsigned int outputSize);

/* Tar with progress, a way to stop and several processes, as the other
   libraries' calls of that kind (7-zip32.h describes them). A tar archive is
   read as one stream, so it is decoded by one process whatever processes
   says. */
TENVO_ARCHIVER_API int TarWithProgress(void *window, const char *commandLine, char *output,
                                       unsigned int outputSize, TenvoProgressCall progress,
                                       void *context, int processes);

#ifdef __cplusplus
}
#endif

#endif
