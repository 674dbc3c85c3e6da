#pragma once

#include <cstdint>

// The readout board as the VME bus sees it: register offsets from the base address, the operating
// modes of Control1 and the layout of its status and data words.
namespace vmesim::board {

constexpr uint32_t kDefaultBase = 0x03030000;
constexpr uint32_t kWindowBytes = 0x10000;

constexpr int kSections = 8;  // TA sections, one FIFO each
constexpr int kChannels = 32;
constexpr int kSectionRegisters = 6;

constexpr uint32_t kSectionStride = 0x20;  // Reg1..Reg6 of TA t at 0x20*t + 0x00..0x14
constexpr uint32_t kHold1 = 0x100;
constexpr uint32_t kHold2 = 0x104;
constexpr uint32_t kControl1 = 0x108;
constexpr uint32_t kControl2 = 0x10C;
constexpr uint32_t kOffsetAdc = 0x110;
constexpr uint32_t kSoftTrigger = 0xA00;
constexpr uint32_t kEventPort = 0x1000;
constexpr uint32_t kEventPortEnd = 0x8000;
constexpr uint32_t kStreamPort = 0x8000;
constexpr uint32_t kStreamPortEnd = 0x10000;

// Control1 bits 0..3.
enum class Mode : uint32_t {
    NormalReadout = 0x0,
    ShiftInReadout = 0x1,
    ConfigurationLoad = 0x2,
    TestSetUp = 0x3,
    Monitor = 0x8,
};

constexpr uint32_t kModeMask = 0xF;
constexpr Mode modeOf(uint32_t control1) {
    return static_cast<Mode>(control1 & kModeMask);
}

// Words per FIFO that one event carries in a mode; 0 where the board makes no events.
constexpr int wordsPerFifo(Mode mode) {
    switch (mode) {
        case Mode::NormalReadout:
        case Mode::ShiftInReadout:
            return 256;
        case Mode::TestSetUp:
        case Mode::Monitor:
            return 512;
        default:
            return 0;
    }
}

// Control2 fields.
constexpr unsigned channelUnderTest(uint32_t control2) {
    return control2 & 0x1F;
}
constexpr unsigned monitoredChannel(uint32_t control2) {
    return (control2 >> 5) & 0x1F;
}
constexpr unsigned loadSection(uint32_t control2) {
    return (control2 >> 12) & 0x7;
}

constexpr uint32_t kAdcMax = 0x1FFF;  // 13-bit converter

constexpr uint32_t statusReady(unsigned tag) {
    return 0x80000000u | ((tag & 0x7u) << 16);
}

// Event-port data word: tag 28..30, FIFO 25..27, channel 20..24, sample 16..18, ADC 0..12.
constexpr uint32_t dataWord(unsigned tag, unsigned fifo, unsigned channel, unsigned sample,
                            uint32_t adc) {
    return ((tag & 0x7u) << 28) | ((fifo & 0x7u) << 25) | ((channel & 0x1Fu) << 20) |
           ((sample & 0x7u) << 16) | (adc & kAdcMax);
}

// Stream-port word of the older layout: 4-bit tag 28..31, channel 20..24, sample 16..19.
constexpr uint32_t streamWord(unsigned tag, unsigned channel, unsigned sample, uint32_t adc) {
    return ((tag & 0xFu) << 28) | ((channel & 0x1Fu) << 20) | ((sample & 0xFu) << 16) |
           (adc & kAdcMax);
}

constexpr int kStreamBlockWords = kChannels * 16;  // 512

}  // namespace vmesim::board
