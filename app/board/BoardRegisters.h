#pragma once

#include <cstdint>

#include "board/DataWord.h"

namespace tarvo::board {

// Every board access is D32 with address modifier 0x09 (A32 non-privileged data) at the base
// address plus one of these offsets.
constexpr uint32_t kAddressModifier = 0x09;
constexpr int32_t kDataWidth = 4;

constexpr int kTaCount = 8;
constexpr int kTaRegisterCount = 6;

// Reg1..Reg6 of TA section ta (0..7); reg is 1..6.
constexpr uint32_t taRegister(int ta, int reg) {
    return 0x20u * static_cast<uint32_t>(ta) + 4u * static_cast<uint32_t>(reg - 1);
}

constexpr uint32_t kHold1 = 0x100;
constexpr uint32_t kHold2 = 0x104;
constexpr uint32_t kControl1 = 0x108;
constexpr uint32_t kControl2 = 0x10C;
constexpr uint32_t kOffsetAdc = 0x110;
constexpr uint32_t kSoftwareTrigger = 0xA00;
constexpr uint32_t kEventPort = 0x1000;
constexpr uint32_t kStreamPort = 0x8000;

// Control1 bits 0..3: the operating mode.
constexpr uint32_t kModeNormal = 0x0;
constexpr uint32_t kModeShiftIn = 0x1;
constexpr uint32_t kModeConfigLoad = 0x2;
constexpr uint32_t kModeTestSetUp = 0x3;
constexpr uint32_t kModeMonitor = 0x8;

constexpr uint32_t withMode(uint32_t control1, uint32_t mode) {
    return (control1 & ~0xFu) | (mode & 0xFu);
}

// The operating mode set again after a configuration load, by acquisition-type index.
constexpr uint32_t modeForIndex(int modeIndex) {
    switch (modeIndex) {
        case 1:
            return kModeTestSetUp;
        case 2:
        case 4:
        case 5:
        case 6:
            return kModeMonitor;
        case 3:
            return kModeShiftIn;
        default:
            return kModeNormal;
    }
}

// Control2 fields.
constexpr uint32_t withTestChannel(uint32_t control2, uint32_t channel) {
    return (control2 & ~0x1Fu) | (channel & 0x1Fu);
}
constexpr uint32_t withMonitorChannel(uint32_t control2, uint32_t channel) {
    return (control2 & ~(0x1Fu << 5)) | ((channel & 0x1Fu) << 5);
}
constexpr uint32_t withLoadSection(uint32_t control2, int ta) {
    return (control2 & ~(0x7u << 12)) | ((static_cast<uint32_t>(ta) & 0x7u) << 12);
}

// Status word of the event port.
constexpr bool eventReady(uint32_t status) {
    return (status & 0x80000000u) != 0 && (status & 0x40000000u) == 0;
}
constexpr uint32_t eventTag(uint32_t status) {
    return (status >> 16) & 0x7;
}

// Application result codes kept in "Last Error" besides the library's.
constexpr int32_t kEventCheckFailed = -10;
constexpr int32_t kEventNotReady = -11;

}  // namespace tarvo::board
