// Preloaded into tarvo-cli by the kill tests: every write of one FIFO record (1024 bytes) first
// sleeps for NIMBRA_SLOW_WRITE_US microseconds (default 2000), so that a kill at a random moment
// lands between the per-FIFO writes of one event far more often than at full speed.
#define _GNU_SOURCE
#include <dlfcn.h>
#include <stdlib.h>
#include <time.h>
#include <unistd.h>

ssize_t write(int fd, const void* data, size_t size) {
    static ssize_t (*next)(int, const void*, size_t);
    static long delayUs = -1;
    if (next == NULL) {
        next = (ssize_t(*)(int, const void*, size_t))dlsym(RTLD_NEXT, "write");
    }
    if (delayUs < 0) {
        const char* text = getenv("NIMBRA_SLOW_WRITE_US");
        delayUs = text != NULL ? atol(text) : 2000;
    }
    if (size == 1024 && delayUs > 0) {
        struct timespec pause = {delayUs / 1000000, (delayUs % 1000000) * 1000};
        nanosleep(&pause, NULL);
    }
    return next(fd, data, size);
}
