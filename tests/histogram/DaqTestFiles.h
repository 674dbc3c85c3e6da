#pragma once

#include <cstdint>
#include <ctime>
#include <functional>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "acquisition/RunState.h"
#include "shell/Operator.h"
#include "support/TempDir.h"

// Small writers of DAQ files in both layouts and readers of what the histogram run leaves.
namespace histotest {

// A FIFO-layout data word: value, sample in bits 16..18, channel 20..24, FIFO 25..27, tag 28..30.
uint32_t fifoWord(int channel, int sample, uint32_t value, int fifo = 0, int tag = 1);
// An older-layout data word: sample in bits 16..19, channel 20..24, tag 28..31.
uint32_t legacyWord(int channel, int sample, uint32_t value, int tag = 9);

using ValueOf = std::function<uint32_t(int channel, int sample, int record)>;

// Records of 32 x 8 (FIFO) or 32 x 16 (older) correctly tagged words, channel-major.
std::vector<uint32_t> fifoRecords(int records, const ValueOf& value, int fifo = 0);
std::vector<uint32_t> legacyRecords(int records, const ValueOf& value);

// Writes the words little-endian, then extra bytes (for partial trailing records).
void writeWords(const std::string& path, const std::vector<uint32_t>& words, size_t extraBytes = 0);

std::string readFile(const std::string& path);
bool exists(const std::string& path);

// The value list a run should leave: "%5u\r\n" per value.
std::string valueList(const std::vector<uint32_t>& values);

// A spectrum file as the format lays it down, line by line: header for the channel and date,
// 8192 lines "%8u", the fixed trailer.
std::string expectedSpectrum(int channel, const std::string& date,
                             const std::vector<uint32_t>& counts, bool reversed = false);

// The 8192 counts read back from a spectrum file (in file order); empty when malformed.
std::vector<uint32_t> spectrumCounts(const std::string& path);

// 07 March 2024, 09:05:02, as the clock given to the writers.
std::tm fixedTime();
constexpr const char* kFixedDate = "03/07/2024 09:05:02";

// A run-state record in a fresh folder, with "Filename clr" there, a scripted operator and the
// default sample window of the layout. FIFO-layout tests enable the FIFOs they write.
class HistogramTest : public ::testing::Test {
  protected:
    void useLayout(bool fifoLayout) {
        state.op = &op;
        state.settings.adcRev1 = fifoLayout;
        state.settings.filenameClr = dir.file("daqclr.bin");
        if (fifoLayout) {
            state.settings.taDaqEnable.fill(false);
        }
        state.settings.samplesFrom = 0;
        state.settings.samplesTo = fifoLayout ? 7 : 15;
    }

    nimbra::test::TempDir dir;
    tarvo::ScriptedOperator op;
    tarvo::RunState state;
};

}  // namespace histotest
