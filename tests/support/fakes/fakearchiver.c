/* A stand-in archiver library: answers a chosen version and records every call. */
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <time.h>
#include <unistd.h>

#define CONCAT2(a, b) a##b
#define CONCAT(a, b) CONCAT2(a, b)
#define STRINGIFY2(a) #a
#define STRINGIFY(a) STRINGIFY2(a)
#define EXPORT __attribute__((visibility("default")))

/* Answers are read from the environment at each call, so one built file
   serves every test: TENVO_FAKE_VERSION_<prefix> (default 1),
   TENVO_FAKE_CHECK (default 1) and TENVO_FAKE_RESULT (default 0). Calls are
   appended to the file named by TENVO_FAKE_LOG, one line each. A command
   line holding "wait" makes a slow decoder: the call returns only once the
   file named by TENVO_FAKE_GO exists (or after 20 s), and then logs
   "<prefix>Done"; so tests make archives finish in any order. Built
   with FAKE_WITH_PROGRESS, the library also has the optional progress call,
   which reports while it waits and ends with result 16 when told to stop. */
static int envNumber(const char *name, int fallback)
{
    const char *value = getenv(name);
    return value && *value ? atoi(value) : fallback;
}

static void record(const char *call, const char *first, const char *second)
{
    const char *logPath = getenv("TENVO_FAKE_LOG");
    FILE *log;
    if (!logPath || !*logPath)
        return;
    log = fopen(logPath, "ab");
    if (!log)
        return;
    fprintf(log, "%s", call);
    if (first)
        fprintf(log, "\t%s", first);
    if (second)
        fprintf(log, "\t%s", second);
    fputc('\n', log);
    fclose(log);
}

#ifndef FAKE_NO_VERSION
EXPORT int CONCAT(FAKE_PREFIX, GetVersion)(void)
{
    record(STRINGIFY(FAKE_PREFIX) "GetVersion", NULL, NULL);
    return envNumber("TENVO_FAKE_VERSION_" STRINGIFY(FAKE_PREFIX), 1);
}
#endif

EXPORT int CONCAT(FAKE_PREFIX, CheckArchive)(const char *path, int mode)
{
    char modeText[16];
    snprintf(modeText, sizeof modeText, "%d", mode);
    record(STRINGIFY(FAKE_PREFIX) "CheckArchive", path, modeText);
    return envNumber("TENVO_FAKE_CHECK", 1);
}

typedef int (*ProgressCall)(void *context, unsigned long long done, unsigned long long total);

/* The slow decoder: 1 when told to stop through progress. */
static int waitForGo(const char *commandLine, ProgressCall progress, void *context)
{
    const char *go = getenv("TENVO_FAKE_GO");
    unsigned long long step = 0;
    if (!commandLine || !strstr(commandLine, "wait"))
        return 0;
    for (step = 0; step < 10000; ++step) {
        if (go && *go && access(go, F_OK) == 0)
            break;
        if (progress && progress(context, step % 100, 100) != 0)
            return 1;
        usleep(2000);
    }
    return 0;
}

/* An archive named "...land..." writes landed.txt, holding the archive's
   path, into its destination (the last quoted path) before anything else. */
static void land(const char *commandLine)
{
    const char *first = commandLine ? strchr(commandLine, '"') : NULL;
    const char *end = first ? strrchr(commandLine, '"') : NULL;
    const char *start = end;
    char path[4096];
    FILE *file;
    size_t length;
    if (!first || !strstr(commandLine, "land") || end == first)
        return;
    while (start > commandLine && start[-1] != '"')
        --start;
    length = (size_t)(end - start);
    if (length + sizeof "landed.txt" > sizeof path)
        return;
    memcpy(path, start, length);
    strcpy(path + length, "landed.txt");
    file = fopen(path, "wb");
    if (!file)
        return;
    fwrite(first + 1, 1, (size_t)(strchr(first + 1, '"') - first - 1), file);
    fclose(file);
}

/* Copies the last two quoted strings of the command line (the archive and
   the destination) into archive and destination; 0 when there are not two. */
static int lastTwoQuoted(const char *commandLine, char *archive, char *destination, size_t size)
{
    const char *starts[2] = {NULL, NULL};
    size_t lengths[2] = {0, 0};
    const char *at = commandLine;
    while (at && (at = strchr(at, '"')) != NULL) {
        const char *end = strchr(at + 1, '"');
        if (!end)
            break;
        starts[0] = starts[1];
        lengths[0] = lengths[1];
        starts[1] = at + 1;
        lengths[1] = (size_t)(end - at - 1);
        at = end + 1;
    }
    if (!starts[0] || lengths[0] >= size || lengths[1] >= size)
        return 0;
    memcpy(archive, starts[0], lengths[0]);
    archive[lengths[0]] = '\0';
    memcpy(destination, starts[1], lengths[1]);
    destination[lengths[1]] = '\0';
    return 1;
}

/* An archive file that begins with the line "tree" lists what its
   extraction writes into the destination, one line each: a path ("/" at the
   end for a folder), then optionally a tab and a modification time in
   seconds since 1970. Each file holds the archive's path. */
static void writeTree(const char *commandLine)
{
    char archive[4096];
    char destination[4096];
    char line[4096];
    char path[8192];
    FILE *in;
    if (!lastTwoQuoted(commandLine, archive, destination, sizeof archive))
        return;
    in = fopen(archive, "rb");
    if (!in)
        return;
    if (!fgets(line, sizeof line, in) || strcmp(line, "tree\n") != 0) {
        fclose(in);
        return;
    }
    while (fgets(line, sizeof line, in)) {
        char *tab;
        char *slash;
        long long seconds = -1;
        line[strcspn(line, "\n")] = '\0';
        if (!*line)
            continue;
        tab = strchr(line, '\t');
        if (tab) {
            *tab = '\0';
            seconds = atoll(tab + 1);
        }
        snprintf(path, sizeof path, "%s%s", destination, line);
        for (slash = strchr(path + strlen(destination), '/'); slash; slash = strchr(slash + 1, '/')) {
            *slash = '\0';
            mkdir(path, 0777);
            *slash = '/';
        }
        if (path[strlen(path) - 1] != '/') {
            FILE *out = fopen(path, "wb");
            if (out) {
                fputs(archive, out);
                fclose(out);
            }
        }
        if (seconds >= 0) {
            struct timespec times[2];
            times[0].tv_sec = times[1].tv_sec = (time_t)seconds;
            times[0].tv_nsec = times[1].tv_nsec = 0;
            utimensat(AT_FDCWD, path, times, 0);
        }
    }
    fclose(in);
}

static int command(void *window, const char *commandLine, char *output, unsigned int outputSize,
                   ProgressCall progress, void *context)
{
    char extra[64];
    snprintf(extra, sizeof extra, "window=%p output=%p size=%u", window, (void *)output, outputSize);
    record(STRINGIFY(FAKE_PREFIX), commandLine, extra);
    land(commandLine);
    writeTree(commandLine);
    if (waitForGo(commandLine, progress, context)) {
        record(STRINGIFY(FAKE_PREFIX) "Stopped", commandLine, NULL);
        return 16;
    }
    if (commandLine && strstr(commandLine, "wait"))
        record(STRINGIFY(FAKE_PREFIX) "Done", commandLine, NULL);
    /* An archive named "...locked..." is encrypted: it opens only with the
       switch -pright; one named "...otherlock..." only with -pother. */
    if (commandLine && strstr(commandLine, "locked") && !strstr(commandLine, "\"-pright\"")
        && !strstr(commandLine, "-pright "))
        return 4;
    if (commandLine && strstr(commandLine, "otherlock") && !strstr(commandLine, "\"-pother\"")
        && !strstr(commandLine, "-pother "))
        return 4;
    /* An archive named "...damaged..." fails as damaged whatever the rest do. */
    if (commandLine && strstr(commandLine, "damaged"))
        return 3;
    return envNumber("TENVO_FAKE_RESULT", 0);
}

EXPORT int FAKE_PREFIX(void *window, const char *commandLine, char *output, unsigned int outputSize)
{
    return command(window, commandLine, output, outputSize, NULL, NULL);
}

#ifdef FAKE_WITH_PROGRESS
EXPORT int CONCAT(FAKE_PREFIX, WithProgress)(void *window, const char *commandLine, char *output,
                                             unsigned int outputSize, ProgressCall progress,
                                             void *context, int processes)
{
    (void)processes;
    return command(window, commandLine, output, outputSize, progress, context);
}
#endif
