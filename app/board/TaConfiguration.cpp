#include "board/TaConfiguration.h"

#include <string>

#include "board/BoardAccess.h"
#include "board/BoardRegisters.h"
#include "board/HoldConfiguration.h"

namespace tarvo {

bool TaConfiguration::testMask(int channel) const {
    return ((registers_[0] >> channel) & 1u) != 0;
}

void TaConfiguration::setTestMask(int channel, bool on) {
    setBit(0, channel, on);
}

bool TaConfiguration::disableMask(int channel) const {
    return ((registers_[4] >> channel) & 1u) != 0;
}

void TaConfiguration::setDisableMask(int channel, bool on) {
    setBit(4, channel, on);
}

void TaConfiguration::setBit(int reg, int bit, bool on) {
    uint32_t mask = 1u << bit;
    registers_[reg] = on ? (registers_[reg] | mask) : (registers_[reg] & ~mask);
}

uint32_t TaConfiguration::dacOffset(int channel) const {
    uint32_t offset = 0;
    for (int j = 0; j < 3; ++j) {
        int bit = 3 * channel + j;
        offset |= ((registers_[1 + bit / 32] >> (bit % 32)) & 1u) << j;
    }
    return offset;
}

bool TaConfiguration::setDacOffset(int channel, uint32_t offset) {
    if (offset > kMaxDacOffset) {
        return false;
    }
    for (int j = 0; j < 3; ++j) {
        int bit = 3 * channel + j;
        setBit(1 + bit / 32, bit % 32, ((offset >> j) & 1u) != 0);
    }
    return true;
}

void TaConfiguration::setPolarity(int index) {
    setBit(5, 0, (index & 1) != 0);
}

void TaConfiguration::setGainSign(int index) {
    setBit(5, 1, (index & 1) != 0);
}

void TaConfiguration::setGain(int index) {
    registers_[5] = (registers_[5] & ~0xCu) | ((static_cast<uint32_t>(index) & 3u) << 2);
}

void TaConfiguration::setTestMode(bool on) {
    setBit(5, 4, on);
}

int32_t readTaSection(const BoardContext& context, int ta, TaRegisterValues& registers) {
    BoardAccess board(context);
    for (int reg = 1; reg <= board::kTaRegisterCount; ++reg) {
        uint32_t value = 0;
        int32_t result = board.read(board::taRegister(ta, reg), value);
        if (result != 0) {
            board.error("FATAL: Read Reg" + std::to_string(reg) + " FAIL");
            return result;
        }
        registers[reg - 1] = value;
    }
    return 0;
}

int InitSetting(BoardRun run, const std::array<TaRegisterValues, 8>& sections,
                const std::array<uint8_t, 8>& holdCodes, int modeIndex) {
    int failures = 0;
    for (int ta = 0; ta < board::kTaCount; ++ta) {
        if (LoadTaConfiguration(run, ta, sections[ta], modeIndex) != 0) {
            ++failures;
        }
    }
    if (writeHoldRegisters(run.context, holdCodes) != 0) {
        ++failures;
    }
    return failures;
}

}  // namespace tarvo
