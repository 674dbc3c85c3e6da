#pragma once

#include <array>
#include <cstdint>

#include "board/BoardOperations.h"

namespace tarvo {

// One TA section's six registers as the TA dialog edits them: test mask (Reg1), the 96-bit
// DAC-offset field of 3 bits per channel (Reg2..Reg4), disable mask (Reg5) and the analog
// options of Reg6, whose other bits are kept as they are.
class TaConfiguration {
  public:
    static constexpr int kChannels = 32;
    static constexpr uint32_t kMaxDacOffset = 7;

    TaConfiguration() = default;
    explicit TaConfiguration(const TaRegisterValues& registers) : registers_(registers) {}

    const TaRegisterValues& registers() const { return registers_; }
    void setRegisters(const TaRegisterValues& registers) { registers_ = registers; }

    bool testMask(int channel) const;
    void setTestMask(int channel, bool on);
    bool disableMask(int channel) const;
    void setDisableMask(int channel, bool on);

    // 0..7; bit j of channel c's offset is bit 3c + j of Reg2 (bits 0..31), Reg3, Reg4.
    uint32_t dacOffset(int channel) const;
    // Values above 7 are refused (false) and change nothing.
    bool setDacOffset(int channel, uint32_t offset);

    // Reg6: bit 0 "Positive"/"Negative", bit 1 "Gain +1"/"Gain -1", bits 2..3 "Gain 1x" ..
    // "Gain 10x", bit 4 "Test Mode".
    int polarity() const { return static_cast<int>(registers_[5] & 1u); }
    int gainSign() const { return static_cast<int>((registers_[5] >> 1) & 1u); }
    int gain() const { return static_cast<int>((registers_[5] >> 2) & 3u); }
    bool testMode() const { return ((registers_[5] >> 4) & 1u) != 0; }
    void setPolarity(int index);
    void setGainSign(int index);
    void setGain(int index);
    void setTestMode(bool on);

  private:
    void setBit(int reg, int bit, bool on);

    TaRegisterValues registers_{};
};

// "Read": Reg1..Reg6 of the section in order, each stored as it arrives; the first failure shows
// "FATAL: Read Reg<n> FAIL" and ends the read (later registers keep their old values). Returns
// 0 or the failing bridge result.
int32_t readTaSection(const BoardContext& context, int ta, TaRegisterValues& registers);

// "InitSetting": loads all eight sections in order (a failure has shown its message and the next
// section follows), then writes the hold registers. Returns the number of steps that failed.
int InitSetting(BoardRun run, const std::array<TaRegisterValues, 8>& sections,
                const std::array<uint8_t, 8>& holdCodes, int modeIndex);

}  // namespace tarvo
