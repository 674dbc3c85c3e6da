/*
 * KOVRAVMElib: the VME bridge library.
 *
 * One flat interface of 62 functions over four kinds of bridge hardware. Every function but
 * KOVRAVME_DecodeError returns an ErrorCode; results travel through caller-supplied pointers and
 * the library never allocates memory that the caller frees. The number after each export is its
 * fixed ordinal. This header compiles as C and as C++.
 *
 * Where the library looks for its hardware:
 *   KOVRAVME_SIM_DIR  when set, every bridge and card is reached through the virtual crate's
 *                     sockets in that folder (ezusb-<board>, pci9054-<link>);
 *   KOVRAVME_SIM_LIMIT_MS
 *                     how long one step on those sockets may take before the exchange fails
 *                     with CommError (default 3000), as a USB transfer fails after 3 s;
 *   KOVRAVME_USB_VID, KOVRAVME_USB_PID
 *                     otherwise, the vendor and product id of real USB bridges (libusb), read as
 *                     C reads numbers (0x for hexadecimal); by default 0x04B4 and 0x8613, the
 *                     ids a bridge's USB controller reports before it has ids of its own.
 *                     Board n is the n-th such device in bus and address order.
 */
#ifndef KOVRAVMELIB_H
#define KOVRAVMELIB_H

#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

#if defined(KOVRAVME_BUILDING)
#define KOVRAVME_API __attribute__((visibility("default")))
#else
#define KOVRAVME_API
#endif

/* Result of every library function. */
typedef enum ErrorCode {
    Success = 0,
    BusError = -1,
    CommError = -2,
    GenericError = -3,
    InvalidParam = -4,
    TimeoutError = -5
} ErrorCode;

/* What a handle reaches (first argument of KOVRAVME_Init). */
typedef enum BoardType {
    UsbBridge = 0,     /* a USB-attached VME bridge */
    OpticalBridge = 1, /* a VME bridge on an optical link behind the PCI card */
    PciLinkCard = 2,   /* the PCI optical-link card itself (registers only) */
    LinkDevice = 3     /* a device on the optical link with registers but no VME side */
} BoardType;

/* VME address modifiers (the VME standard's codes); passed as an unsigned 32-bit value. */
typedef uint32_t AddressModifier;
enum {
    AmA32Lock = 0x05,
    AmA32UserBlock64 = 0x08,
    AmA32UserData = 0x09,
    AmA32UserProgram = 0x0A,
    AmA32UserBlock = 0x0B,
    AmA32SuperBlock64 = 0x0C,
    AmA32SuperData = 0x0D,
    AmA32SuperProgram = 0x0E,
    AmA32SuperBlock = 0x0F,
    AmA16User = 0x29,
    AmA16Super = 0x2D,
    AmConfigRom = 0x2F,
    AmA24Lock = 0x32,
    AmA24UserBlock64 = 0x38,
    AmA24UserData = 0x39,
    AmA24UserProgram = 0x3A,
    AmA24UserBlock = 0x3B,
    AmA24SuperBlock64 = 0x3C,
    AmA24SuperData = 0x3D,
    AmA24SuperProgram = 0x3E,
    AmA24SuperBlock = 0x3F
};

/* Data widths: the low four bits are the byte count, 0x10 asks the bridge to swap bytes. */
typedef int32_t DataWidth;
enum {
    D8 = 0x01,
    D16 = 0x02,
    D32 = 0x04,
    D64 = 0x08, /* block transfers only */
    D16Swapped = 0x12,
    D32Swapped = 0x14,
    D64Swapped = 0x18 /* block transfers only */
};

/* What KOVRAVME_ReadDisplay fills: the bridge's front-panel display of the last VME cycle.
   lines[0..5] are register 36 bits 6..11, lines[6..10] register 37 bits 10, 11, 9, 7, 8;
   each is -1 when its bit is set and 0 otherwise. */
typedef struct KOVRAVME_Display {
    uint32_t address;
    uint32_t data;
    uint32_t am;
    uint32_t irqLines;
    int16_t lines[11];
} KOVRAVME_Display;

/* Frame */
KOVRAVME_API ErrorCode KOVRAVME_SWRelease(char* text);                      /* 1 */
KOVRAVME_API ErrorCode KOVRAVME_BoardFWRelease(int32_t handle, char* text); /* 2 */
KOVRAVME_API ErrorCode KOVRAVME_Init(int32_t boardType, int16_t link, int16_t boardNumber,
                                     int32_t* handle);                     /* 3 */
KOVRAVME_API ErrorCode KOVRAVME_End(int32_t handle);                       /* 4 */
KOVRAVME_API const char* KOVRAVME_DecodeError(ErrorCode code);             /* 61 */
KOVRAVME_API ErrorCode KOVRAVME_DriverRelease(int32_t handle, char* text); /* 62 */

/* Single cycles */
KOVRAVME_API ErrorCode KOVRAVME_ReadCycle(int32_t handle, uint32_t address, void* data,
                                          AddressModifier am, DataWidth width); /* 5 */
KOVRAVME_API ErrorCode KOVRAVME_WriteCycle(int32_t handle, uint32_t address, void* data,
                                           AddressModifier am, DataWidth width); /* 6 */
KOVRAVME_API ErrorCode KOVRAVME_RMWCycle(int32_t handle, uint32_t address, void* data,
                                         AddressModifier am, DataWidth width); /* 10 */
KOVRAVME_API ErrorCode KOVRAVME_ADOCycle(int32_t handle, uint32_t address,
                                         AddressModifier am); /* 11 */
KOVRAVME_API ErrorCode KOVRAVME_ADOHCycle(int32_t handle, uint32_t address,
                                          AddressModifier am); /* 12 */
KOVRAVME_API ErrorCode KOVRAVME_IACKCycle(int32_t handle, uint32_t level, void* vector,
                                          DataWidth width); /* 35 */

/* Block transfers; count receives the bytes moved */
KOVRAVME_API ErrorCode KOVRAVME_BLTReadCycle(int32_t handle, uint32_t address, void* buffer,
                                             int32_t size, AddressModifier am, DataWidth width,
                                             int32_t* count); /* 7 */
KOVRAVME_API ErrorCode KOVRAVME_BLTWriteCycle(int32_t handle, uint32_t address, void* buffer,
                                              int32_t size, AddressModifier am, DataWidth width,
                                              int32_t* count); /* 8 */
KOVRAVME_API ErrorCode KOVRAVME_MBLTReadCycle(int32_t handle, uint32_t address, void* buffer,
                                              int32_t size, AddressModifier am,
                                              int32_t* count); /* 40 */
KOVRAVME_API ErrorCode KOVRAVME_MBLTWriteCycle(int32_t handle, uint32_t address, void* buffer,
                                               int32_t size, AddressModifier am,
                                               int32_t* count); /* 41 */
KOVRAVME_API ErrorCode KOVRAVME_FIFOBLTReadCycle(int32_t handle, uint32_t address, void* buffer,
                                                 int32_t size, AddressModifier am, DataWidth width,
                                                 int32_t* count); /* 57 */
KOVRAVME_API ErrorCode KOVRAVME_FIFOBLTWriteCycle(int32_t handle, uint32_t address, void* buffer,
                                                  int32_t size, AddressModifier am, DataWidth width,
                                                  int32_t* count); /* 58 */
KOVRAVME_API ErrorCode KOVRAVME_FIFOMBLTReadCycle(int32_t handle, uint32_t address, void* buffer,
                                                  int32_t size, AddressModifier am,
                                                  int32_t* count); /* 59 */
KOVRAVME_API ErrorCode KOVRAVME_FIFOMBLTWriteCycle(int32_t handle, uint32_t address, void* buffer,
                                                   int32_t size, AddressModifier am,
                                                   int32_t* count); /* 60 */
KOVRAVME_API ErrorCode KOVRAVME_MultiRead(int32_t handle, uint32_t* addresses, uint32_t* data,
                                          int32_t n, AddressModifier* ams, DataWidth* widths,
                                          ErrorCode* results); /* 52 */
KOVRAVME_API ErrorCode KOVRAVME_MultiWrite(int32_t handle, uint32_t* addresses, uint32_t* data,
                                           int32_t n, AddressModifier* ams, DataWidth* widths,
                                           ErrorCode* results); /* 53 */

/* Bridge-local resources: control register */
KOVRAVME_API ErrorCode KOVRAVME_SetArbiterType(int32_t handle, int32_t value);    /* 22 */
KOVRAVME_API ErrorCode KOVRAVME_SetRequesterType(int32_t handle, int32_t value);  /* 23 */
KOVRAVME_API ErrorCode KOVRAVME_SetReleaseType(int32_t handle, int32_t value);    /* 24 */
KOVRAVME_API ErrorCode KOVRAVME_SetBusReqLevel(int32_t handle, int32_t value);    /* 25 */
KOVRAVME_API ErrorCode KOVRAVME_SetTimeout(int32_t handle, int32_t value);        /* 26 */
KOVRAVME_API ErrorCode KOVRAVME_SetFIFOMode(int32_t handle, int32_t value);       /* 27 */
KOVRAVME_API ErrorCode KOVRAVME_GetArbiterType(int32_t handle, int32_t* value);   /* 28 */
KOVRAVME_API ErrorCode KOVRAVME_GetRequesterType(int32_t handle, int32_t* value); /* 29 */
KOVRAVME_API ErrorCode KOVRAVME_GetReleaseType(int32_t handle, int32_t* value);   /* 30 */
KOVRAVME_API ErrorCode KOVRAVME_GetBusReqLevel(int32_t handle, int32_t* value);   /* 31 */
KOVRAVME_API ErrorCode KOVRAVME_GetTimeout(int32_t handle, int32_t* value);       /* 32 */
KOVRAVME_API ErrorCode KOVRAVME_GetFIFOMode(int32_t handle, int16_t* value);      /* 33 */
KOVRAVME_API ErrorCode KOVRAVME_SystemReset(int32_t handle);                      /* 34 */

/* Bridge-local resources: raw registers, output register, pulsers, scaler, lines, display */
KOVRAVME_API ErrorCode KOVRAVME_ReadRegister(int32_t handle, uint16_t reg,
                                             uint16_t* value); /* 17 */
KOVRAVME_API ErrorCode KOVRAVME_WriteRegister(int32_t handle, uint16_t reg,
                                              uint16_t value);                      /* 47 */
KOVRAVME_API ErrorCode KOVRAVME_SetOutputRegister(int32_t handle, uint16_t mask);   /* 18 */
KOVRAVME_API ErrorCode KOVRAVME_ClearOutputRegister(int32_t handle, uint16_t mask); /* 19 */
KOVRAVME_API ErrorCode KOVRAVME_PulseOutputRegister(int32_t handle, uint16_t mask); /* 20 */
KOVRAVME_API ErrorCode KOVRAVME_SetPulserConf(int32_t handle, int32_t pulser, uint8_t period,
                                              uint8_t width, int32_t unit, uint8_t count,
                                              int32_t startSource, int32_t resetSource); /* 13 */
KOVRAVME_API ErrorCode KOVRAVME_GetPulserConf(int32_t handle, int32_t pulser, uint8_t* period,
                                              uint8_t* width, int32_t* unit, uint8_t* count,
                                              int32_t* startSource, int32_t* resetSource); /* 36 */
KOVRAVME_API ErrorCode KOVRAVME_SetScalerConf(int32_t handle, int16_t limit, int16_t autoReset,
                                              int32_t hitSource, int32_t gateSource,
                                              int32_t resetSource); /* 14 */
KOVRAVME_API ErrorCode KOVRAVME_GetScalerConf(int32_t handle, int16_t* limit, int16_t* autoReset,
                                              int32_t* hitSource, int32_t* gateSource,
                                              int32_t* resetSource); /* 37 */
KOVRAVME_API ErrorCode KOVRAVME_SetOutputConf(int32_t handle, int32_t output, int32_t polarity,
                                              int32_t ledPolarity, int32_t source); /* 15 */
KOVRAVME_API ErrorCode KOVRAVME_GetOutputConf(int32_t handle, int32_t output, int32_t* polarity,
                                              int32_t* ledPolarity, int32_t* source); /* 38 */
KOVRAVME_API ErrorCode KOVRAVME_SetInputConf(int32_t handle, int32_t input, int32_t polarity,
                                             int32_t ledPolarity); /* 16 */
KOVRAVME_API ErrorCode KOVRAVME_GetInputConf(int32_t handle, int32_t input, int32_t* polarity,
                                             int32_t* ledPolarity);                    /* 39 */
KOVRAVME_API ErrorCode KOVRAVME_StartPulser(int32_t handle, int32_t pulser);           /* 42 */
KOVRAVME_API ErrorCode KOVRAVME_StopPulser(int32_t handle, int32_t pulser);            /* 43 */
KOVRAVME_API ErrorCode KOVRAVME_EnableScalerGate(int32_t handle);                      /* 44 */
KOVRAVME_API ErrorCode KOVRAVME_DisableScalerGate(int32_t handle);                     /* 45 */
KOVRAVME_API ErrorCode KOVRAVME_ResetScalerCount(int32_t handle);                      /* 46 */
KOVRAVME_API ErrorCode KOVRAVME_ReadDisplay(int32_t handle, KOVRAVME_Display* record); /* 21 */
KOVRAVME_API ErrorCode KOVRAVME_SetLocationMonitor(int32_t handle, uint32_t address,
                                                   AddressModifier am, int16_t flag6, int16_t flag7,
                                                   int16_t flag8); /* 48 */

/* Interrupts and flash pages (264 bytes a page) */
KOVRAVME_API ErrorCode KOVRAVME_IRQCheck(int32_t handle, uint8_t* mask);                    /* 9 */
KOVRAVME_API ErrorCode KOVRAVME_IRQWait(int32_t handle, uint32_t mask, uint32_t timeoutMs); /* 54 */
KOVRAVME_API ErrorCode KOVRAVME_IRQEnable(int32_t handle, uint32_t mask);                   /* 55 */
KOVRAVME_API ErrorCode KOVRAVME_IRQDisable(int32_t handle, uint32_t mask);                  /* 56 */
KOVRAVME_API ErrorCode KOVRAVME_WriteFlashPage(int32_t handle, const uint8_t* data,
                                               int32_t page);                               /* 49 */
KOVRAVME_API ErrorCode KOVRAVME_ReadFlashPage(int32_t handle, uint8_t* data, int32_t page); /* 50 */
KOVRAVME_API ErrorCode KOVRAVME_EraseFlashPage(int32_t handle, int32_t page);               /* 51 */

#ifdef __cplusplus
}
#endif

#endif /* KOVRAVMELIB_H */
