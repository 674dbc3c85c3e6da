/*
 * kovravme-demo: opens the USB bridge (link 0, board 0), prints the library, driver and firmware
 * releases, writes VME memory at 0x00100000 (A32 non-privileged data, D32) with single cycles
 * and a block transfer, reads it back and compares. Exits non-zero on the first failure.
 */
#include <stdio.h>
#include <string.h>

#include "KOVRAVMElib.h"

#define BASE 0x00100000u
#define WORDS 4
#define BLOCK_WORDS 64

static int check(const char* what, ErrorCode code) {
    if (code != Success) {
        fprintf(stderr, "kovravme-demo: %s failed: %s (%d)\n", what, KOVRAVME_DecodeError(code),
                (int)code);
        return 0;
    }
    return 1;
}

int main(void) {
    char library[16] = "";
    char driver[16] = "";
    char firmware[16] = "";
    int32_t handle = -1;
    int failed = 0;

    if (!check("KOVRAVME_SWRelease", KOVRAVME_SWRelease(library)) ||
        !check("KOVRAVME_Init (UsbBridge, link 0, board 0)",
               KOVRAVME_Init(UsbBridge, 0, 0, &handle))) {
        return 1;
    }
    if (!check("KOVRAVME_DriverRelease", KOVRAVME_DriverRelease(handle, driver)) ||
        !check("KOVRAVME_BoardFWRelease", KOVRAVME_BoardFWRelease(handle, firmware))) {
        KOVRAVME_End(handle);
        return 1;
    }
    printf("library release %s, driver release %s, bridge firmware %s (handle %d)\n", library,
           driver, firmware, (int)handle);

    for (uint32_t i = 0; i < WORDS && !failed; ++i) {
        uint32_t address = BASE + 4 * i;
        uint32_t written = 0xC0DE0000u + i;
        uint32_t read = 0;
        failed = !check("KOVRAVME_WriteCycle",
                        KOVRAVME_WriteCycle(handle, address, &written, AmA32UserData, D32)) ||
                 !check("KOVRAVME_ReadCycle",
                        KOVRAVME_ReadCycle(handle, address, &read, AmA32UserData, D32));
        if (!failed && read != written) {
            fprintf(stderr, "kovravme-demo: 0x%08x read 0x%08x, wrote 0x%08x\n", address, read,
                    written);
            failed = 1;
        }
        if (!failed) {
            printf("single cycle: wrote 0x%08x at 0x%08x, read it back\n", written, address);
        }
    }

    if (!failed) {
        uint32_t block[BLOCK_WORDS];
        uint32_t back[BLOCK_WORDS];
        int32_t count = 0;
        uint32_t address = BASE + 0x100;
        for (uint32_t i = 0; i < BLOCK_WORDS; ++i) {
            block[i] = 0x5A000000u | (i * 0x01010101u & 0x00FFFFFFu);
        }
        memset(back, 0, sizeof(back));
        failed = !check("KOVRAVME_BLTWriteCycle",
                        KOVRAVME_BLTWriteCycle(handle, address, block, (int32_t)sizeof(block),
                                               AmA32UserData, D32, &count));
        if (!failed) {
            printf("block write: %d bytes at 0x%08x\n", (int)count, address);
            failed = !check("KOVRAVME_BLTReadCycle",
                            KOVRAVME_BLTReadCycle(handle, address, back, (int32_t)sizeof(back),
                                                  AmA32UserData, D32, &count));
        }
        if (!failed && (count != (int32_t)sizeof(back) || memcmp(block, back, sizeof(back)) != 0)) {
            fprintf(stderr, "kovravme-demo: block read back %d bytes that differ\n", (int)count);
            failed = 1;
        }
        if (!failed) {
            printf("block read: %d bytes at 0x%08x, equal to what was written\n", (int)count,
                   address);
        }
    }

    if (!check("KOVRAVME_End", KOVRAVME_End(handle))) {
        return 1;
    }
    if (failed) {
        return 1;
    }
    printf("kovravme-demo: all done\n");
    return 0;
}
