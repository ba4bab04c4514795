/* The calls that cab32.so exports (Microsoft cabinet files). */
#ifndef TENVO_CAB32_H
#define TENVO_CAB32_H

#include "result.h"

#ifndef TENVO_ARCHIVER_API
#define TENVO_ARCHIVER_API __attribute__((visibility("default")))
#endif

#ifdef __cplusplus
extern "C" {
#endif

/* A number above 0: the library is present and loaded. */
TENVO_ARCHIVER_API int CabGetVersion(void);

/* Non-zero when path is an archive this library reads and all its headers
   read cleanly; 0 otherwise. mode is accepted and ignored. Writes nothing. */
TENVO_ARCHIVER_API int CabCheckArchive(const char *path, int mode);

/* Runs one command line, `switch "archive" "destination"` (UTF-8; inside
   quotes "" stands for one "). "-x" restores the stored folders, "-x -j"
   puts every file straight into the destination. Returns 0 when every
   entry landed, else a TenvoResult code (result.h); a message goes into
   output when output != NULL and outputSize > 0, followed by the names
   that landed shortened (result.h). window is ignored. */
TENVO_ARCHIVER_API int Cab(void *window, const char *commandLine, char *output,
                           unsigned int outputSize);

/* Cab with progress, a way to stop and several processes, for callers that want them (this call
   is optional: a caller must work without it). progress, when not NULL, is
   called on the calling thread about ten times a second while the archive
   is decoded, with context, the bytes of the archive read so far and the
   archive's size. When it answers non-zero the decoding is ended, the files
   not yet complete are removed (files already complete stay), and the call
   returns TENVO_ERR_STOPPED once nothing is left behind. processes is how
   many decoder processes the call may use at once (below 1 counts as 1): a
   large cabinet of several folders then has its folders shared among them,
   each folder decoded whole by one process reading the archive for itself,
   with the same files, names and result as one process gives. Safe to call from several threads at once,
   like Cab. */
TENVO_ARCHIVER_API int CabWithProgress(void *window, const char *commandLine, char *output,
                                       unsigned int outputSize, TenvoProgressCall progress,
                                       void *context, int processes);

#ifdef __cplusplus
}
#endif

#endif
