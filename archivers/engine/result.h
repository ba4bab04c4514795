/* Result codes of the archiver libraries' command and check calls. */
#ifndef TENVO_ARCHIVERS_RESULT_H
#define TENVO_ARCHIVERS_RESULT_H

/* 0 means every entry of the archive landed in the destination. Any other
   value names the first cause that kept an entry (or the whole archive) out.
   Shared with the program, which turns each cause into a message. */
enum TenvoResult {
    TENVO_OK = 0,
    TENVO_ERR_OPEN = 1,      /* the archive file cannot be opened or read */
    TENVO_ERR_FORMAT = 2,    /* not an archive of this library's format */
    TENVO_ERR_DAMAGED = 3,   /* headers or data are damaged, truncated or fail their check */
    TENVO_ERR_ENCRYPTED = 4, /* an entry is encrypted and no password (or a wrong one) was given */
    TENVO_ERR_UNSAFE = 5,    /* an entry was refused: it would land outside, or is a device, ... */
    TENVO_ERR_WRITE = 6,     /* the destination cannot be written (missing, full, no permission) */
    TENVO_ERR_COMMAND = 7,   /* the command line cannot be understood */
    TENVO_ERR_VOLUME = 8,    /* a volume after the first of a multi-volume set, or a set
                                with a volume missing (what the volumes present hold
                                whole is extracted) */
    TENVO_ERR_DECODER = 9,   /* the decoder program that belongs beside the library
                                (tenvo-decoder) cannot be started, and the caller runs
                                several threads, in which a decoder cannot be forked
                                safely: the library's installation is incomplete */
    TENVO_ERR_ENDED = 10,    /* the extraction process ended unexpectedly (killed, crashed);
                                the files not finished were removed. Says nothing of the
                                archive */
    TENVO_ERR_METHOD = 11,   /* an entry is packed with a method no decoder here reads;
                                the archive itself is sound */
    TENVO_ERR_FORBIDDEN = 12, /* the decoder attempted something a decoder may not do (a
                                 network connection, starting a program, ...) and was
                                 ended; what it had not finished was removed. Taken
                                 over by a crafted archive, not merely damaged */
    /* The caller stopped the call (through a library's progress call); the
       files not finished were removed. Kept apart from the causes above,
       which describe the archive. */
    TENVO_ERR_STOPPED = 16
};

/* The output buffer of a command call. Its first line is a message for
   people (what went wrong, or how many entries landed). When names too long
   for the file system (a name over 255 bytes, a path over 4095 bytes from
   the root) landed shortened, lines follow, each ended by "\n":

     shortened<TAB><count>                    once: how many names were shortened
     shortened<TAB><stored><TAB><landed>      one per shortened name

   <stored> is the path as the archive stores it, <landed> the path it
   landed as, both relative to the destination with "/" between folders,
   control characters escaped as in the message (so neither holds a tab or
   a line break). A folder is listed once, not each file in it; a call
   lists the first 1000 names of each decoder process. A buffer too
   small for every line ends after the last whole line that fits; the count
   line, when it fits, still says how many there were. */

/* The optional progress call of a library's "WithProgress" command call:
   reports the bytes of the archive read so far out of total; a non-zero
   answer asks the call to stop. */
typedef int (*TenvoProgressCall)(void *context, unsigned long long done, unsigned long long total);

#endif
