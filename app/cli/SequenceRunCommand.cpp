// tarvo-cli sequence run / sequence manual: the sequence tests without the window. The status
// text and the FIFO lines are printed as they change; Ctrl-C is "Stop Acquire".
#include <signal.h>

#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <optional>
#include <string>
#include <vector>

#include "acquisition/AcquisitionController.h"
#include "acquisition/RunState.h"
#include "cli/Command.h"
#include "cli/SequenceConsole.h"
#include "cli/TaList.h"
#include "sequence/SequenceScript.h"
#include "sequence/SequenceTestWorkers.h"
#include "spreadsheet/WorkbookCellSink.h"

namespace tarvo::cli {
namespace {

constexpr const char* kRunUsage =
    "FILE --resource NAME [--name PREFIX] [--file-clr PATH] [--ta LIST] [--cycles N] "
    "[--yes|--no] [--i2c-adapter NAME] [--workbook PATH]";
constexpr const char* kManualUsage = "[--file-clr PATH] [--ta LIST] [--cycles N] [--yes|--no]";

std::atomic<bool> interrupted{false};

void onInterrupt(int) {
    interrupted.store(true);
}

struct Flags {
    std::string file;
    std::string resource;
    std::string name;
    std::string i2cAdapter;
    std::string workbook;
    std::string fileClr = "./daq.bin";  // results in the current folder
    std::array<bool, RunState::kFifoCount> ta{true, true, true, true, true, true, true, true};
    int32_t cycles = 1;
    std::optional<bool> abortAnswer;
};

// The flags of either command; an error text when they do not parse.
std::optional<std::string> parseFlags(const std::vector<std::string>& args, bool automatic,
                                      Flags& flags) {
    for (size_t i = 0; i < args.size(); ++i) {
        const std::string& flag = args[i];
        if (flag == "--yes" || flag == "--no") {
            flags.abortAnswer = flag == "--yes";
            continue;
        }
        if (flag.rfind("--", 0) != 0) {
            if (!automatic || !flags.file.empty()) {
                return "unexpected argument " + flag;
            }
            flags.file = flag;
            continue;
        }
        if (i + 1 >= args.size()) {
            return "missing value after " + flag;
        }
        const std::string& value = args[++i];
        if (flag == "--resource" && automatic) {
            flags.resource = value;
        } else if (flag == "--name" && automatic) {
            flags.name = value;
        } else if (flag == "--workbook" && automatic) {
            flags.workbook = value;
        } else if (flag == "--i2c-adapter" && automatic) {
            flags.i2cAdapter = value;
        } else if (flag == "--file-clr") {
            flags.fileClr = value;
        } else if (flag == "--ta") {
            // An empty list is a sequence test with every TA section off: it still sends its
            // cells and writes no results file.
            if (value.empty()) {
                flags.ta.fill(false);
            } else if (auto problem = parseTaList(value, flags.ta)) {
                return "bad value for --ta: " + *problem;
            }
        } else if (flag == "--cycles") {
            char* end = nullptr;
            errno = 0;
            const long cycles = std::strtol(value.c_str(), &end, 10);
            if (value.empty() || *end != '\0' || errno != 0 || cycles < 1 || cycles > 1000000) {
                return "bad value for --cycles: " + value;
            }
            flags.cycles = static_cast<int32_t>(cycles);
        } else {
            return "unknown option " + flag;
        }
    }
    if (automatic && (flags.file.empty() || flags.resource.empty())) {
        return "FILE and --resource are required";
    }
    return std::nullopt;
}

// The first section that needs the threshold DACs, or nothing.
std::optional<std::string> sectionNeedingThresholds(const std::string& file) {
    std::vector<_VISACMDLIST> sections;
    if (!LoadSequenceFile(file, nullptr, sections)) {
        return std::nullopt;  // the test itself reports the file
    }
    for (const _VISACMDLIST& s : sections) {
        if (s.measure == MeasureKind::Trigger || s.measure == MeasureKind::Threshold ||
            s.measure == MeasureKind::ThresholdNeg) {
            return s.name;
        }
    }
    return std::nullopt;
}

// Runs one sequence test to its end; the exit status.
int runTest(const Flags& flags, int32_t acquisitionType, SequenceTestSetup& setup,
            SequenceConsole& console, bool excelOpen = false) {
    RunState state;
    state.excelOpen = excelOpen;
    state.settings.adcRev1 = true;
    state.settings.acquisitionType = acquisitionType;
    state.settings.cycleCount = flags.cycles;
    state.settings.taDaqEnable = flags.ta;
    state.settings.filenameClr = flags.fileClr;
    state.op = &console;
    registerSequenceTestWorkers();
    attachSequenceTestSetup(state, &setup);

    AcquisitionController controller(state);
    controller.openBridge();
    interrupted.store(false);
    struct sigaction action {};
    action.sa_handler = onInterrupt;
    sigemptyset(&action.sa_mask);
    struct sigaction previous {};
    sigaction(SIGINT, &action, &previous);

    int status = 1;
    if (controller.start()) {
        std::string shownStatus;
        std::string shownPeaks = state.display.peakText();
        while (controller.running()) {
            // Every Ctrl-C is one "Stop Acquire": a test that goes on after "No" can be stopped
            // again.
            if (interrupted.exchange(false)) {
                std::fputs("Stop Acquire\n", stderr);
                controller.stop();
            }
            controller.waitForEnd(std::chrono::milliseconds(100));
            if (const std::string text = setup.statusText(); text != shownStatus) {
                shownStatus = text;
                std::fputs(text.c_str(), stdout);
            }
            if (const std::string peaks = state.display.peakText(); peaks != shownPeaks) {
                shownPeaks = peaks;
                std::fputs(peaks.c_str(), stdout);
            }
            std::fflush(stdout);
            const RunTimerTick tick = controller.tick();
            if (tick.finished) {
                status = 0;
            }
        }
    } else {
        controller.tick();
    }
    sigaction(SIGINT, &previous, nullptr);
    controller.closeBridge();
    attachSequenceTestSetup(state, nullptr);
    return status == 0 && console.errors() == 0 ? 0 : 1;
}

int runAutomatic(const std::vector<std::string>& args) {
    Flags flags;
    if (auto problem = parseFlags(args, true, flags)) {
        std::fprintf(stderr, "tarvo-cli sequence run: %s\nusage: tarvo-cli sequence run %s\n",
                     problem->c_str(), kRunUsage);
        return 2;
    }
    SequenceTestSetup setup;
    setup.commandFile = flags.file;
    setup.resource = flags.resource;
    setup.name = flags.name;
    SequenceConsole console(flags.abortAnswer);
    std::unique_ptr<ThresholdSink> thresholds;
    if (auto section = sectionNeedingThresholds(flags.file)) {
        thresholds = openHeadlessThresholds(console, flags.i2cAdapter);
        if (!thresholds) {
            std::fprintf(stderr,
                         "tarvo-cli sequence run: section %s sets thresholds, and no I2C adapter "
                         "reaches the threshold DACs\n",
                         section->c_str());
            return 1;
        }
    }
    setup.thresholds = thresholds.get();
    if (flags.workbook.empty()) {
        return runTest(flags, 6, setup, console);
    }
    // The live workbook: cells are written from the worker's thread as they come.
    WorkbookCellSink workbook(console);
    if (workbook.open(flags.workbook) != WorkbookOpen::Opened) {
        std::fprintf(stderr, "tarvo-cli sequence run: the workbook %s did not open\n",
                     flags.workbook.c_str());
        return 1;
    }
    setup.cells = &workbook;
    const int status = runTest(flags, 6, setup, console, true);
    return workbook.finish() ? status : 1;
}

int runManual(const std::vector<std::string>& args) {
    Flags flags;
    if (auto problem = parseFlags(args, false, flags)) {
        std::fprintf(stderr, "tarvo-cli sequence manual: %s\nusage: tarvo-cli sequence manual %s\n",
                     problem->c_str(), kManualUsage);
        return 2;
    }
    SequenceTestSetup setup;
    SequenceConsole console(flags.abortAnswer);
    return runTest(flags, 5, setup, console);
}

const Registration kRun({"sequence run", kRunUsage, runAutomatic});
const Registration kManual({"sequence manual", kManualUsage, runManual});

}  // namespace
}  // namespace tarvo::cli
