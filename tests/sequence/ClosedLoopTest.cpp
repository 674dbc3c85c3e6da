// The sequence tests on the virtual bench: the crate with its pulse generator runs in this
// process, the worker reaches the board through the bridge library and the generator through
// the instrument layer, and its threshold requests set the bench's discriminator thresholds.
#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <stdlib.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cmath>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "Crate.h"
#include "KOVRAVMElib.h"
#include "acquisition/AcquisitionController.h"
#include "board/BoardOperations.h"
#include "sequence/SequenceTestWorkers.h"
#include "shell/Operator.h"
#include "support/TempDir.h"

namespace tarvo::test {
namespace {

namespace fs = std::filesystem;

// Threshold requests go straight to the bench, as the DACs would set them.
class BenchThresholds : public ThresholdSink {
  public:
    explicit BenchThresholds(vmesim::BenchState& bench) : bench_(bench) {}
    bool setThreshold(int slot, double volts) override {
        bench_.update([&](vmesim::BenchState::Snapshot& s) { s.thresholdVolts[slot] = volts; });
        return true;
    }

  private:
    vmesim::BenchState& bench_;
};

// The fixed waits of the test pass at once; the board's own time limits stay real.
class FastClock : public SequenceClock {
  public:
    void sleep(std::chrono::milliseconds) override {}
};

// The board of the run state, with the time limits of the reads that should see events made
// longer, so that a loaded machine cannot make a firing channel look silent. Reads that should
// see nothing keep their limits, and every read is the board's own: an event below the threshold
// or a missing one above it still shows in the results.
class LoadTolerantBoard : public SequenceBoard {
  public:
    LoadTolerantBoard(RunState& state, vmesim::BenchState& bench) : board_(state), bench_(bench) {}

    void systemReset() override { board_.systemReset(); }
    void setupTaChannelTest(int ta, int32_t channel, int negative) override {
        if (channel >= 0) {
            section_ = ta;
        }
        board_.setupTaChannelTest(ta, channel, negative);
    }
    void setReadoutMode(uint32_t mode, uint32_t channel) override {
        board_.setReadoutMode(mode, channel);
    }
    int32_t readEvents(int32_t count, uint32_t timeLimitMs, bool display) override {
        const auto s = bench_.snapshot();
        const bool fires = s.generatorOn && s.generatorVolts > s.thresholdVolts[section_];
        return board_.readEvents(count, fires ? timeLimitMs * 20 : timeLimitMs, display);
    }
    int32_t readAveragedEvents(int32_t count, uint32_t timeLimitMs, bool display, uint32_t* means,
                               uint32_t* peaks, uint32_t* peakNegs,
                               AveragedEventDetail* detail) override {
        return board_.readAveragedEvents(count, timeLimitMs * 4, display, means, peaks, peakNegs,
                                         detail);
    }

  private:
    RunStateBoard board_;
    vmesim::BenchState& bench_;
    int section_ = 0;
};

class ClosedLoop : public ::testing::Test {
  protected:
    void SetUp() override {
        vmesim::Options options;
        options.dir = dir_.file("sim");
        options.board = true;
        options.generator = true;
        options.generatorLogPath = generatorLog();
        crate_ = std::make_unique<vmesim::Crate>(options);
        crate_->start();
        setenv("KOVRAVME_SIM_DIR", options.dir.c_str(), 1);
        ASSERT_EQ(KOVRAVME_Init(UsbBridge, 0, 0, &state.vmeHandle), Success);
        KOVRAVME_SetTimeout(state.vmeHandle, 1);

        fs::create_directories(dir_.path() / "data");
        state.settings.adcRev1 = true;
        state.settings.cycleCount = 10;
        state.settings.filenameClr = (dir_.path() / "data" / "run.bin").string();
        state.settings.taDaqEnable.fill(false);
        state.op = &op;
        setup.commandFile = dir_.file("bench.txt");
        setup.resource = crate_->generator()->resourceName();
        previous_ = fs::current_path();
        fs::current_path(dir_.path());  // where the waveform files land
        thresholds_ = std::make_unique<BenchThresholds>(crate_->bench());
        setup.thresholds = thresholds_.get();
        board_ = std::make_unique<LoadTolerantBoard>(state, crate_->bench());
        setup.board = board_.get();
        setup.clock = &clock_;
    }
    void TearDown() override {
        if (state.vmeHandle != -1) {
            KOVRAVME_End(state.vmeHandle);
        }
        crate_->stop();
        unsetenv("KOVRAVME_SIM_DIR");
        fs::current_path(previous_);
    }

    std::string generatorLog() const { return dir_.file("generator.log"); }
    void writeSequence(const std::string& text) { std::ofstream(setup.commandFile) << text; }
    // Column `column` (1 = the first section) of the results table of TA n, by channel; 32
    // zeros past the end when the file is missing.
    std::vector<long> column(int ta, int column) const {
        std::ifstream in((dir_.path() / "data" / ("SequenceTest_" + std::to_string(ta) + ".txt")));
        std::vector<long> values;
        std::string line;
        std::getline(in, line);  // the header
        while (std::getline(in, line)) {
            std::stringstream fields(line);
            std::string field;
            for (int i = 0; i <= column; ++i) {
                std::getline(fields, field, '\t');
            }
            values.push_back(std::stol(field));
        }
        values.resize(32);
        return values;
    }
    static std::vector<std::string> lines(const std::string& path) {
        std::ifstream in(path);
        std::vector<std::string> out;
        for (std::string line; std::getline(in, line);) {
            out.push_back(line);
        }
        return out;
    }

    RunState state;
    ScriptedOperator op;
    SequenceTestSetup setup;
    nimbra::test::TempDir dir_;
    std::unique_ptr<vmesim::Crate> crate_;

  private:
    fs::path previous_;
    std::unique_ptr<BenchThresholds> thresholds_;
    std::unique_ptr<LoadTolerantBoard> board_;
    FastClock clock_;
};

constexpr const char* kGenerator800mV = "[Generator]\n*RST\nVOLT 0.8\nFREQ 10 kHz\nOUTP ON\n";

TEST_F(ClosedLoop, TheThresholdSearchFindsTheCodeOfThePulseOnEveryChannel) {
    writeSequence(std::string(kGenerator800mV) + "[Thr]\nMeasure = Threshold\nTA = 1\n");
    state.settings.taDaqEnable[0] = true;
    EXPECT_EQ(RunAutoSequenceTest(state, setup), 0);
    EXPECT_TRUE(op.entries().empty());
    // 0.8 V is code (0.8 + 2.5) / 5 x 65536 = 43253.76 of the DAC.
    const auto codes = column(1, 2);
    ASSERT_EQ(codes.size(), 32u);
    for (size_t c = 0; c < codes.size(); ++c) {
        EXPECT_LE(std::abs(codes[c] - 43253.76), 1.0) << "channel " << c;
    }
    // Every line of the file reached the generator, in order, each ended by its LF.
    EXPECT_EQ(lines(generatorLog()),
              (std::vector<std::string>{"*RST", "VOLT 0.8", "FREQ 10 kHz", "OUTP ON"}));
}

TEST_F(ClosedLoop, TriggersCountAboveTheThresholdAndNotBelowIt) {
    writeSequence(std::string(kGenerator800mV) +
                  "[Above]\nMeasure = Trigger\nTA = 1\nThreshold = 0.5\n"
                  "[Below]\nMeasure = Trigger\nTA = 2\nThreshold = 1.0\n");
    state.settings.taDaqEnable[0] = state.settings.taDaqEnable[1] = true;
    EXPECT_EQ(RunAutoSequenceTest(state, setup), 0);
    EXPECT_EQ(column(1, 2), std::vector<long>(32, 200));
    EXPECT_EQ(column(2, 3), std::vector<long>(32, 0));
}

TEST_F(ClosedLoop, AveragesAndPeaksGrowWithTheAmplitudeByTheGain) {
    // Every channel of every section on the calibration line; section 2 at gain 3x.
    for (int ta = 0; ta < 8; ++ta) {
        const uint32_t reg6 = ta == 1 ? 0x14 : 0x10;
        ASSERT_EQ(LoadTaConfiguration(state, ta, {0xFFFFFFFF, 0, 0, 0, 0, reg6}, 6), 0);
    }
    writeSequence(
        "[Off]\n*RST\nMeasure = Peak\n"
        "[P200]\nVOLT 0.2\nOUTP ON\nMeasure = Peak\n"
        "[A200]\nMeasure = Average\n"
        "[P800]\nVOLT 0.8\nMeasure = Peak\n"
        "[A800]\nMeasure = Average\n");
    state.settings.taDaqEnable[0] = state.settings.taDaqEnable[1] = true;
    EXPECT_EQ(RunAutoSequenceTest(state, setup), 0);
    EXPECT_TRUE(op.entries().empty());
    for (int ta : {1, 2}) {
        const int gain = ta == 2 ? 3 : 1;
        const auto off = column(ta, 1), p200 = column(ta, 2), a200 = column(ta, 3),
                   p800 = column(ta, 4), a800 = column(ta, 5);
        for (int c = 0; c < 32; ++c) {
            // 1 V is 1000 counts at gain 1x; the peaks sit on the pedestal.
            EXPECT_NEAR(p200[c] - off[c], 200 * gain, 30 * gain) << "TA " << ta << " ch " << c;
            EXPECT_NEAR(p800[c] - p200[c], 600 * gain, 30 * gain) << "TA " << ta << " ch " << c;
            EXPECT_GT(a800[c], a200[c] + 20 * gain) << "TA " << ta << " ch " << c;
        }
    }
    EXPECT_TRUE(fs::exists(dir_.file("Peak.txt")));
}

TEST_F(ClosedLoop, AMissingGeneratorEndsTheRunWithAMessageAndNoResults) {
    // A port nobody listens on.
    int probe = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    ::bind(probe, reinterpret_cast<sockaddr*>(&address), sizeof address);
    socklen_t length = sizeof address;
    ::getsockname(probe, reinterpret_cast<sockaddr*>(&address), &length);
    ::close(probe);
    setup.resource = "TCPIP0::127.0.0.1::" + std::to_string(ntohs(address.sin_port)) + "::SOCKET";

    writeSequence(std::string(kGenerator800mV) + "[Pk]\nMeasure = Peak\n");
    state.settings.taDaqEnable.fill(true);
    state.settings.acquisitionType = 6;
    registerSequenceTestWorkers();
    attachSequenceTestSetup(state, &setup);
    {
        AcquisitionController controller(state);
        ASSERT_TRUE(controller.start());
        while (!controller.tick().finished) {
            controller.waitForEnd(std::chrono::milliseconds(50));
        }
    }
    attachSequenceTestSetup(state, nullptr);
    EXPECT_TRUE(state.progress.acquisitionIdle.load());
    EXPECT_EQ(op.texts("error"), std::vector<std::string>{"Open VISA resource " + setup.resource +
                                                          " FAIL\nConnection refused"});
    EXPECT_TRUE(fs::is_empty(dir_.path() / "data"));
    EXPECT_EQ(setup.statusText(), "");
}

}  // namespace
}  // namespace tarvo::test
