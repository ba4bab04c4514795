/* A stand-in archiver library: answers a chosen version and records every call. */
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#define CONCAT2(a, b) a##b
#define CONCAT(a, b) CONCAT2(a, b)
#define STRINGIFY2(a) #a
#define STRINGIFY(a) STRINGIFY2(a)
#define EXPORT __attribute__((visibility("default")))

/* Answers are read from the environment at each call, so one built file
   serves every test: TENVO_FAKE_VERSION_<prefix> (default 1),
   TENVO_FAKE_CHECK (default 1) and TENVO_FAKE_RESULT (default 0). Calls are
   appended to the file named by TENVO_FAKE_LOG, one line each. */
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

EXPORT int FAKE_PREFIX(void *window, const char *commandLine, char *output, unsigned int outputSize)
{
    char extra[64];
    snprintf(extra, sizeof extra, "window=%p output=%p size=%u", window, (void *)output, outputSize);
    record(STRINGIFY(FAKE_PREFIX), commandLine, extra);
    return envNumber("TENVO_FAKE_RESULT", 0);
}
