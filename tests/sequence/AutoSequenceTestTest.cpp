#include "SequenceTestFixture.h"

namespace tarvo::test {
namespace {

using Auto = SequenceTestFixture;

constexpr const char* kFullSequence =
    "// bench characterisation\r\n"
    "[Base]\r\n"
    "*RST\r\n"
    "VOLT 0\r\n"
    "[Avg]\r\n"
    "Measure = Average\r\n"
    "[Pk]\r\n"
    "Measure = Peak\r\n"
    "OUTP ON\r\n"
    "[Trig]\r\n"
    "Measure = Trigger\r\n"
    "TA = 2\r\n"
    "Threshold = 0.5\r\n"
    "[Thr]\r\n"
    "Measure = Threshold\r\n"
    "TA = 3\r\n"
    "[Seq]\r\n"
    "Measure = Sequence\r\n";

// The DAC code the search ends at when events come below 0.8 V and not above it: the code of
// 0.8 V, 3.3 / 5 x 65536 = 43253.76, truncated by the last halving.
constexpr uint32_t kCodeOf800mV = 43253;

// The results table of TA t (0-based) for the sequence above, from the layout: a header of the
// section names, then per channel its number and one value per section.
std::string expectedTable(int t) {
    std::string text = "CH\tBase\tAvg\tPk\tTrig\tThr\tSeq\r\n";
    for (int c = 0; c < 32; ++c) {
        const uint32_t trigger = t == 1 ? 200 : 0;
        const uint32_t threshold = t == 2 ? kCodeOf800mV : 0;
        const uint32_t sequence = c == 0 ? ScriptedBench::peak(0, t) : 0;
        text += std::to_string(c) + "\t0\t" + std::to_string(ScriptedBench::mean(c, t)) + "\t" +
                std::to_string(ScriptedBench::peak(c, t)) + "\t" + std::to_string(trigger) + "\t" +
                std::to_string(threshold) + "\t" + std::to_string(sequence) + "\r\n";
    }
    return text;
}

std::string waveformLine(int c, bool averages) {
    std::string line;
    for (int i = 0; i < 512; ++i) {
        line += std::to_string(averages ? ScriptedBench::average(c, i)
                                        : (ScriptedBench::rawWord(c, i) & 0x1FFF)) +
                "\t";
    }
    return line + "\r\n";
}

TEST_F(Auto, AFullSequenceWritesItsTablesWaveformsAndCells) {
    writeSequence(kFullSequence);
    state.settings.taDaqEnable[0] = state.settings.taDaqEnable[1] = state.settings.taDaqEnable[2] =
        true;
    setup.name = "DUT7_";
    EXPECT_EQ(RunAutoSequenceTest(state, setup), 0);
    EXPECT_TRUE(state.events.AcquisitionDoneEvent.isSet());
    EXPECT_TRUE(op.entries().empty());

    for (int t = 0; t < 3; ++t) {
        EXPECT_EQ(readAll(dataFile("DUT7_SequenceTest_" + std::to_string(t + 1) + ".txt")),
                  expectedTable(t))
            << "TA " << t + 1;
    }
    EXPECT_FALSE(exists(dataFile("DUT7_SequenceTest_4.txt")));

    std::string peak;
    for (int c = 0; c < 32; ++c) {
        peak += waveformLine(c, true) + waveformLine(c, false);
    }
    EXPECT_EQ(readAll(here("DUT7_Peak.txt")), peak);
    EXPECT_EQ(readAll(here("DUT7_Seq.txt")), waveformLine(0, false));

    // Every command line reached the instrument in order, with its LF.
    EXPECT_EQ(instruments.opened, std::vector<std::string>{"SIM::INSTR"});
    EXPECT_EQ(instruments.written, (std::vector<std::string>{"*RST\n", "VOLT 0\n", "OUTP ON\n"}));
    EXPECT_EQ(instruments.openConnections, 0);

    // Names in row 1, FIFO 8's values below them; nothing below the Sequence section.
    const char* names[] = {"Base", "Avg", "Pk", "Trig", "Thr", "Seq"};
    std::vector<RecordedCell> expected;
    for (int s = 0; s < 6; ++s) {
        expected.push_back({1, s + 1, std::string(names[s])});
        for (int c = 0; s < 5 && c < 32; ++c) {
            int32_t value = s == 1   ? static_cast<int32_t>(ScriptedBench::mean(c, 7))
                            : s == 2 ? static_cast<int32_t>(ScriptedBench::peak(c, 7))
                                     : 0;
            expected.push_back({c + 2, s + 1, value});
        }
    }
    EXPECT_EQ(cells.cells, expected);
    EXPECT_EQ(setup.statusText(), "");

    // The averaged reads allow 5 s at least, 50 ms per event above that.
    EXPECT_EQ(bench.callsStartingWith("avg 10 ").front(), "avg 10 5000 1");
    EXPECT_EQ(bench.callsStartingWith("avg 3 ").front(), "avg 3 1000 0");
}

TEST_F(Auto, ASectionWithoutMeasureSendsItsCommandsAndWritesZeros) {
    writeSequence("[Setup]\n*RST\nFREQ 1000\n");
    state.settings.taDaqEnable[4] = true;
    EXPECT_EQ(RunAutoSequenceTest(state, setup), 0);
    std::string table = "CH\tSetup\r\n";
    for (int c = 0; c < 32; ++c) {
        table += std::to_string(c) + "\t0\r\n";
    }
    EXPECT_EQ(readAll(dataFile("SequenceTest_5.txt")), table);
    EXPECT_TRUE(bench.calls.empty());
    EXPECT_EQ(cells.cells.size(), 33u);
    EXPECT_EQ(bench.slept, std::chrono::milliseconds(500));
}

TEST_F(Auto, WithEveryTaOffNoTableIsWrittenButTheCellsGo) {
    writeSequence("[Avg]\nMeasure=Average\n");
    EXPECT_EQ(RunAutoSequenceTest(state, setup), 0);
    EXPECT_TRUE(std::filesystem::is_empty(dataFile("")));
    EXPECT_EQ(cells.cells.size(), 33u);
    EXPECT_EQ(std::get<int32_t>(cells.cells[32].value),
              static_cast<int32_t>(ScriptedBench::mean(31, 7)));

    // Without a workbook nothing is sent.
    cells.cells.clear();
    state.excelOpen = false;
    EXPECT_EQ(RunAutoSequenceTest(state, setup), 0);
    EXPECT_TRUE(cells.cells.empty());
}

TEST_F(Auto, AnEmptyNameGivesPlainFileNames) {
    writeSequence("[Pk]\nMeasure=PeakNeg\n");
    state.settings.taDaqEnable[7] = true;
    EXPECT_EQ(RunAutoSequenceTest(state, setup), 0);
    EXPECT_TRUE(exists(dataFile("SequenceTest_8.txt")));
    EXPECT_TRUE(exists(here("Peak.txt")));
    EXPECT_EQ(std::get<int32_t>(cells.cells[1].value),
              static_cast<int32_t>(ScriptedBench::peakNeg(0, 7)));
}

TEST_F(Auto, TaSixInATriggerSectionSetsUpSectionTwoButFillsColumnSix) {
    writeSequence("[Trig]\nMeasure=Trigger\nTA=6\nThreshold=-0.25\n");
    state.settings.taDaqEnable[5] = state.settings.taDaqEnable[1] = true;
    EXPECT_EQ(RunAutoSequenceTest(state, setup), 0);
    // Channel 0 first disables every section, then tests section 6 AND 3 = 1.
    std::vector<std::string> setups = bench.callsStartingWith("setup");
    ASSERT_EQ(setups.size(), 8u + 32u);
    for (int k = 0; k < 8; ++k) {
        EXPECT_EQ(setups[k], "setup " + std::to_string(k) + " -1 0");
    }
    EXPECT_EQ(setups[8], "setup 1 0 0");
    EXPECT_EQ(setups[39], "setup 1 31 0");
    EXPECT_EQ(bench.thresholdRequests.front(), (std::pair<int, double>{5, -0.25}));
    EXPECT_EQ(bench.callsStartingWith("events 200 1000 1").size(), 32u);
    std::string six = readAll(dataFile("SequenceTest_6.txt"));
    EXPECT_NE(six.find("\r\n31\t200\r\n"), std::string::npos);
    EXPECT_NE(readAll(dataFile("SequenceTest_2.txt")).find("\r\n31\t0\r\n"), std::string::npos);
    // The workbook takes FIFO 8's column, which this section leaves at zero.
    for (size_t i = 1; i < cells.cells.size(); ++i) {
        EXPECT_EQ(std::get<int32_t>(cells.cells[i].value), 0);
    }
}

TEST_F(Auto, ARelayThresholdSectionWritesSlotSixTwicePerChannel) {
    writeSequence("[Thr]\nMeasure=ThresholdNeg\nTA=7\nRele=ON\n");
    bench.pulseVolts = 0.8;
    state.settings.taDaqEnable[6] = true;
    EXPECT_EQ(RunAutoSequenceTest(state, setup), 0);
    // Per channel: the start value, the relay, then one request per search step, all on slot 6.
    size_t i = 0;
    int channels = 0;
    while (i < bench.thresholdRequests.size()) {
        EXPECT_EQ(bench.thresholdRequests[i], (std::pair<int, double>{6, 2.499}));
        EXPECT_EQ(bench.thresholdRequests[i + 1], (std::pair<int, double>{6, 2.499}));
        i += 2;
        while (i < bench.thresholdRequests.size() && bench.thresholdRequests[i].second != 2.499) {
            ++i;
        }
        ++channels;
    }
    EXPECT_EQ(channels, 32);
    EXPECT_EQ(bench.callsStartingWith("setup 2 31 1").size(), 1u);  // 6 AND 3, negative flag
    // The search's first request is the middle of 0..2.5 V: code 49151.
    EXPECT_DOUBLE_EQ(bench.thresholdRequests[2].second, 49151 * 5.0 / 65536 - 2.5);
}

TEST_F(Auto, TheThresholdSearchEndsAtTheCodeOfThePulse) {
    writeSequence("[Thr]\nMeasure=Threshold\nTA=1\nRele=OFF\n");
    state.settings.taDaqEnable[0] = true;
    bench.pulseVolts = 0.8;
    EXPECT_EQ(RunAutoSequenceTest(state, setup), 0);
    std::string table = "CH\tThr\r\n";
    for (int c = 0; c < 32; ++c) {
        table += std::to_string(c) + "\t" + std::to_string(kCodeOf800mV) + "\r\n";
    }
    EXPECT_EQ(readAll(dataFile("SequenceTest_1.txt")), table);
    EXPECT_EQ(bench.thresholdRequests[1], (std::pair<int, double>{6, 0.0}));  // relay off
    // No event at all: the search runs down to the bottom, always at 32767.
    bench.pulseVolts = -1;
    bench.thresholdRequests.clear();
    EXPECT_EQ(RunAutoSequenceTest(state, setup), 0);
    EXPECT_NE(readAll(dataFile("SequenceTest_1.txt")).find("\r\n0\t32767\r\n"), std::string::npos);
}

TEST_F(Auto, StopAnsweredNoZerosTheChannelAndGoesOn) {
    writeSequence("[Avg]\nMeasure=Average\n");
    state.settings.taDaqEnable[0] = true;
    bench.averagedResults = {0, 0, 0, kReadStopped, kReadDeadlinePassed};
    op.queueAnswer(false);
    EXPECT_EQ(RunAutoSequenceTest(state, setup), 0);
    EXPECT_EQ(op.texts("yesno"), std::vector<std::string>{"Abort Sequence Test ?"});
    const std::string table = readAll(dataFile("SequenceTest_1.txt"));
    EXPECT_NE(table.find("\r\n2\t" + std::to_string(ScriptedBench::mean(2, 0)) +
                         "\r\n3\t0\r\n4\t0\r\n5\t"),
              std::string::npos)
        << table;
    // The text under the graph shows the last channel's values.
    EXPECT_EQ(state.display.peakText().substr(0, 19), "FIFO1 Average=1310\n");
}

TEST_F(Auto, StopAnsweredYesAbortsWithoutResults) {
    writeSequence("[Trig]\nMeasure=Trigger\nThreshold=0.1\n[Avg]\nMeasure=Average\n");
    state.settings.taDaqEnable.fill(true);
    bench.eventResults = {0, 0, kReadStopped};
    op.queueAnswer(true);
    EXPECT_EQ(RunAutoSequenceTest(state, setup), 1);
    EXPECT_TRUE(state.events.AcquisitionDoneEvent.isSet());
    EXPECT_TRUE(std::filesystem::is_empty(dataFile("")));
    EXPECT_EQ(instruments.openConnections, 0);
    EXPECT_EQ(setup.statusText(), "Executing Sequence Trig\n");  // a Trigger step keeps it

    // An averaged step clears it.
    writeSequence("[Avg]\nMeasure=Average\n");
    bench.averagedResults = {kReadStopped};
    op.queueAnswer(true);
    EXPECT_EQ(RunAutoSequenceTest(state, setup), 1);
    EXPECT_EQ(setup.statusText(), "");
}

TEST_F(Auto, AStopDuringTheWarmUpReadStillReachesTheOperator) {
    writeSequence("[Pk]\nMeasure=Peak\n");
    state.settings.taDaqEnable[0] = true;
    bench.warmUpResults = {kReadDone, kReadStopped};  // channel 1's warm-up is stopped
    op.queueAnswer(true);
    EXPECT_EQ(RunAutoSequenceTest(state, setup), 1);
    EXPECT_EQ(op.texts("yesno"), std::vector<std::string>{"Abort Sequence Test ?"});
    EXPECT_EQ(bench.callsStartingWith("avg 10 ").size(), 2u);
    EXPECT_FALSE(state.events.StopEvent.isSet());
}

TEST_F(Auto, SequenceFilesThatDoNotLoadAreReported) {
    EXPECT_EQ(RunAutoSequenceTest(state, setup), 0);  // no file
    writeSequence("[A]\nTA = 9\n");
    EXPECT_EQ(RunAutoSequenceTest(state, setup), 0);
    EXPECT_EQ(op.texts("error"),
              (std::vector<std::string>{"Open File " + setup.commandFile + " Error or File Empty",
                                        "Error on file " + setup.commandFile + " line 2"}));
    EXPECT_TRUE(instruments.opened.empty());
    EXPECT_TRUE(state.events.AcquisitionDoneEvent.isSet());
}

TEST_F(Auto, AMissingOrRefusingInstrumentEndsTheTestLikeAnAbort) {
    writeSequence("[A]\nVOLT 1\nOUTP ON\n");
    state.settings.taDaqEnable.fill(true);
    instruments.absent = {"SIM::INSTR"};
    EXPECT_EQ(RunAutoSequenceTest(state, setup), 1);
    instruments.absent.clear();
    instruments.refused = "OUTP ON\n";
    EXPECT_EQ(RunAutoSequenceTest(state, setup), 1);
    setup.resource = "";
    EXPECT_EQ(RunAutoSequenceTest(state, setup), 1);
    EXPECT_EQ(op.texts("error"),
              (std::vector<std::string>{
                  "Open VISA resource SIM::INSTR FAIL\nConnection refused",
                  "Write to VISA resource SIM::INSTR FAIL\nOUTP ON\nConnection reset by peer",
                  "Sequence Test: no VISA resource selected"}));
    EXPECT_TRUE(std::filesystem::is_empty(dataFile("")));
    EXPECT_EQ(instruments.openConnections, 0);
    EXPECT_TRUE(bench.calls.empty());
    EXPECT_TRUE(state.events.AcquisitionDoneEvent.isSet());
}

TEST_F(Auto, NoBridgeStopsAfterTheFirstSectionsCommands) {
    writeSequence("[A]\n*RST\n[B]\nVOLT 1\n");
    state.vmeHandle = -1;
    state.settings.taDaqEnable.fill(true);
    EXPECT_EQ(RunAutoSequenceTest(state, setup), 1);
    EXPECT_EQ(op.texts("error"), std::vector<std::string>{"Invalid VME HANDLE"});
    EXPECT_EQ(instruments.written, std::vector<std::string>{"*RST\n"});
    EXPECT_EQ(cells.cells.size(), 1u);  // the name cell went before the check
    EXPECT_TRUE(std::filesystem::is_empty(dataFile("")));
}

TEST_F(Auto, LongRunsGetLongerTimeLimits) {
    writeSequence("[Pk]\nMeasure=Peak\n");
    state.settings.cycleCount = 200;
    EXPECT_EQ(RunAutoSequenceTest(state, setup), 0);
    EXPECT_EQ(bench.callsStartingWith("avg 200 ").front(), "avg 200 10000 1");
}

TEST_F(Auto, ResultFilesThatCannotBeCreatedOfferAnotherName) {
    writeSequence("[A]\n*RST\n");
    state.settings.taDaqEnable[0] = state.settings.taDaqEnable[1] = true;
    std::filesystem::create_directory(dataFile("SequenceTest_1.txt"));  // in the way
    std::filesystem::create_directory(dataFile("SequenceTest_2.txt"));
    op.queuePath(dataFile("other.txt"));
    op.queuePath(std::nullopt);
    EXPECT_EQ(RunAutoSequenceTest(state, setup), 0);
    EXPECT_TRUE(exists(dataFile("other.txt")));
    const std::string open1 = "Open file " + dataFile("SequenceTest_1.txt") + " ERROR";
    const std::string open2 = "Open file " + dataFile("SequenceTest_2.txt") + " ERROR";
    EXPECT_EQ(op.texts("error"), (std::vector<std::string>{open1, open2, open2}));
    EXPECT_EQ(op.texts("save"), (std::vector<std::string>{dataFile("SequenceTest_1.txt"),
                                                          dataFile("SequenceTest_2.txt")}));
}

TEST_F(Auto, AMissingFolderIsReplacedByTheOperatorsChoice) {
    writeSequence("[A]\n*RST\n");
    state.settings.taDaqEnable[2] = true;
    state.settings.filenameClr = here("gone/run.bin");
    op.queuePath(here("picked"));
    std::filesystem::create_directory(here("picked"));
    EXPECT_EQ(RunAutoSequenceTest(state, setup), 0);
    EXPECT_EQ(op.folderTitles,
              std::vector<std::string>{"Folder " + here("gone") +
                                       " not found\nPlease select destination folder to save "
                                       "measured data"});
    EXPECT_TRUE(exists(here("picked/SequenceTest_3.txt")));
}

}  // namespace
}  // namespace tarvo::test
