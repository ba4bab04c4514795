/* The calls that unrar32.so exports (RAR 4 and RAR 5 archives). */
#ifndef TENVO_UNRAR32_H
#define TENVO_UNRAR32_H

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
   extra separators. Returns 0 when every entry landed, else a TenvoResult
   code (result.h); a message goes into output when output != NULL and
   outputSize > 0. window is ignored. */
TENVO_ARCHIVER_API int Unrar(void *window, const char *commandLine, char *output,
                             unsigned int outputSize);

#ifdef __cplusplus
}
#endif

#endif
