/* The calls that cab32.so exports (Microsoft cabinet files). */
#ifndef TENVO_CAB32_H
#define TENVO_CAB32_H

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
   output when output != NULL and outputSize > 0. window is ignored. */
TENVO_ARCHIVER_API int Cab(void *window, const char *commandLine, char *output,
                           unsigned int outputSize);

#ifdef __cplusplus
}
#endif

#endif
