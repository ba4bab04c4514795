/* The calls that unrar32.so exports (RAR 4 and RAR 5 archives). */
#ifndef TENVO_UNRAR32_H
#define TENVO_UNRAR32_H

#include "result.h"

#ifndef TENVO_ARCHIVER_API
#define TENVO_ARCHIVER_API __attribute__((visibility("default")))
#endif

#ifdef __cplusplus
extern "C" {
#endif

/* A number above 0: the library is present and loaded. */
TENVO_ARCHIVER_API int UnrarGetVersion(void);

/* Non-zero when path is an archive this library reads and all its headers
   read cleanly; 0 otherwise. mode is accepted and ignored. Writes nothing. */
TENVO_ARCHIVER_API int UnrarCheckArchive(const char *path, int mode);

/* Runs one command line, `switch "archive" "destination"` (UTF-8; inside
   quotes "" stands for one "). "-x" restores the stored folders (RAR
   archives are always extracted with them); the destination may end in
   extra separators. A multi-volume set ("name.partN.rar", or "name.rar",
   "name.r00", ... for RAR 4) is given as its first volume and extracted
   whole, the volumes found beside it by name; a later volume gives
   TENVO_ERR_VOLUME and writes nothing, and so does a missing volume for the
   files it cuts (the files the volumes before it hold whole land, and for a
   RAR 4 set that is not solid those held whole after it too). Returns
   0 when every entry landed, else a TenvoResult code (result.h); a message
   goes into output when output != NULL and outputSize > 0, followed by the names
   that landed shortened (result.h). window is
   ignored. */
TENVO_ARCHIVER_API int Unrar(void *window, const char *commandLine, char *output,
                             unsigned int outputSize);

/* Unrar with progress, a way to stop and several processes, for callers that want them (this call
   is optional: a caller must work without it). progress, when not NULL, is
   called on the calling thread about ten times a second while the archive
   is decoded, with context, the bytes of the archive read so far and the
   archive's size. When it answers non-zero the decoding is ended, the files
   not yet complete are removed (files already complete stay), and the call
   returns TENVO_ERR_STOPPED once nothing is left behind. processes is how
   many decoder processes the call may use at once (below 1 counts as 1): a
   large archive that is neither solid nor a volume set then has its files
   shared among them, each process reading the archive for itself, with the
   same files, names and result as one process gives (a solid archive or a
   set is decoded by one process). Safe to call from several threads at
   once, like Unrar. */
TENVO_ARCHIVER_API int UnrarWithProgress(void *window, const char *commandLine, char *output,
                                         unsigned int outputSize, TenvoProgressCall progress,
                                         void *context, int processes);

#ifdef __cplusplus
}
#endif

#endif
