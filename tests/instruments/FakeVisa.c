/* A stand-in for a system VISA library, for the tests of the loader: it lists the resources
 * named in FAKE_VISA_RESOURCES (comma-separated), refuses to open names containing "absent",
 * and appends every call that changes something to the file FAKE_VISA_LOG. */
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

typedef int ViStatus;
typedef unsigned int ViUInt32;

#define RM_SESSION 1u
#define FIND_LIST 2u
#define ERROR_RSRC_NFOUND ((ViStatus)0xBFFF0011u)

static char names[16][256];
static ViUInt32 nameCount;
static ViUInt32 nextName;
static ViUInt32 nextSession = 100;

static void logLine(const char* format, unsigned a, const char* text) {
    const char* path = getenv("FAKE_VISA_LOG");
    FILE* f = path ? fopen(path, "a") : NULL;
    if (f) {
        fprintf(f, format, a, text);
        fputc('\n', f);
        fclose(f);
    }
}

ViStatus viOpenDefaultRM(ViUInt32* rm) {
    *rm = RM_SESSION;
    logLine("openDefaultRM %u%s", RM_SESSION, "");
    return 0;
}

ViStatus viFindRsrc(ViUInt32 rm, const char* expr, ViUInt32* list, ViUInt32* count, char* desc) {
    const char* all = getenv("FAKE_VISA_RESOURCES");
    char copy[4096];
    nameCount = 0;
    nextName = 1;
    logLine("findRsrc %u %s", rm, expr);
    if (all) {
        strncpy(copy, all, sizeof copy - 1);
        copy[sizeof copy - 1] = 0;
        for (char* name = strtok(copy, ","); name && nameCount < 16; name = strtok(NULL, ",")) {
            strcpy(names[nameCount++], name);
        }
    }
    if (nameCount == 0) {
        return ERROR_RSRC_NFOUND;
    }
    *list = FIND_LIST;
    *count = nameCount;
    strcpy(desc, names[0]);
    return 0;
}

ViStatus viFindNext(ViUInt32 list, char* desc) {
    if (list != FIND_LIST || nextName >= nameCount) {
        return ERROR_RSRC_NFOUND;
    }
    strcpy(desc, names[nextName++]);
    return 0;
}

ViStatus viOpen(ViUInt32 rm, const char* name, ViUInt32 mode, ViUInt32 timeout, ViUInt32* vi) {
    (void)mode;
    (void)timeout;
    if (rm != RM_SESSION || strstr(name, "absent")) {
        return ERROR_RSRC_NFOUND;
    }
    *vi = nextSession++;
    logLine("open %u %s", *vi, name);
    return 0;
}

#ifndef FAKE_VISA_WITHOUT_WRITE
ViStatus viWrite(ViUInt32 vi, const unsigned char* buf, ViUInt32 count, ViUInt32* written) {
    char text[1024];
    size_t n = count < sizeof text - 1 ? count : sizeof text - 1;
    memcpy(text, buf, n);
    text[n] = 0;
    /* Line ends become visible in the log. */
    for (char* p = text; *p; ++p) {
        if (*p == '\n') {
            *p = '|';
        }
    }
    logLine("write %u %s", vi, text);
    *written = count;
    return 0;
}
#endif

ViStatus viClose(ViUInt32 object) {
    logLine("close %u%s", object, "");
    return 0;
}

ViStatus viStatusDesc(ViUInt32 object, ViStatus status, char* desc) {
    (void)object;
    if (status == ERROR_RSRC_NFOUND) {
        strcpy(desc, "VI_ERROR_RSRC_NFOUND: Insufficient location information");
        return 0;
    }
    sprintf(desc, "status %d", status);
    return 0;
}
