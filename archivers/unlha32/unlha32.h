/* The calls that unlha32.so exports (LZH archives). */
#ifndef TENVO_UNLHA32_H
#define TENVO_UNLHA32_H

#include "result.h"

#ifndef TENVO_ARCHIVER_API
#define TENVO_ARCHIVER_API __attribute__((visibility("default")))
#endif

#ifdef __cplusplus
extern "C" {
#endif

/* A number above 0: the library is present and loaded. */
TENVO_ARCHIVER_API int UnlhaGetVersion(void);

/* Non-zero when path is an archive this library reads and all its headers
   read cleanly; 0 otherwise. mode is accepted and ignored. Writes nothing. */
TENVO_ARCHIVER_API int UnlhaCheckArchive(const char *path, int mode);

/* Runs one command line, `switch "archive" "destination"` (UTF-8; inside
   quotes "" stands for one "). "x" restores the stored folders, "e" puts
   every file straight into the destination. Returns 0 when every entry
   landed, else a TenvoResult code (result.h); a message goes into output
   when output != NULL and outputSize > 0, followed by the names that landed
   shortened (result.h). window is ignored. */
TENVO_ARCHIVER_API int Unlha(void *window, const char *commandLine, char *output,
                             unsigned int outputSize);

/* Unlha with progress, a way to stop and several processes, for callers that want them (this call
   is optional: a caller must work without it). progress, when not NULL, is
   called on the calling thread about ten times a second while the archive
   is decoded, with context, the bytes of the archive read so far and the
   archive's size. When it answers non-zero the decoding is ended, the files
   not yet complete are removed (files already complete stay), and the call
   returns TENVO_ERR_STOPPED once nothing is left behind. processes is how
   many decoder processes the call may use at once (below 1 counts as 1): a
   large ZIP or LZH archive then has its entries shared among them, each
   process reading the archive for itself, with the same files, names and
   result as one process gives. Safe to call from several threads at once,
   like Unlha. */
TENVO_ARCHIVER_API int UnlhaWithProgress(void *window, const char *commandLine, char *output,
                                         unsigned int outputSize, TenvoProgressCall progress,
                                         void *context, int processes);

#ifdef __cplusplus
}
#endif

#endif
