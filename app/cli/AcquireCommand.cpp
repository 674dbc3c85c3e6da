// tarvo-cli acquire: one acquisition run, as "START Acquire" of the main window starts it.
#include <signal.h>

#include <array>
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
#include "cli/TaList.h"
#include "shell/Operator.h"

namespace tarvo::cli {
namespace {

constexpr const char* kUsage =
    "[--base HEX] [--type 0..4] [--cycles N] [--rev1] [--ta 1,2,...] [--file PATH] "
    "[--file-clr PATH] [--channel C] [--offset-adc V]";

// Remembers whether the run had anything to report, for the exit status.
class CountingOperator : public ConsoleOperator {
  public:
    void error(const std::string& text) override {
        errors.fetch_add(1);
        ConsoleOperator::error(text);
    }
    std::atomic<int> errors{0};
};

std::atomic<bool> interrupted{false};

void onInterrupt(int) {
    interrupted.store(true);
    // A second Ctrl-C ends the program the ordinary way.
    signal(SIGINT, SIG_DFL);
}

std::optional<uint64_t> parseNumber(const std::string& text, int base) {
    if (text.empty()) {
        return std::nullopt;
    }
    char* end = nullptr;
    errno = 0;
    unsigned long long value = std::strtoull(text.c_str(), &end, base);
    if (errno != 0 || *end != '\0' || text[0] == '-') {
        return std::nullopt;
    }
    return value;
}

// Fills the run state from the flags; an error text when they do not parse.
std::optional<std::string> parseFlags(const std::vector<std::string>& args, RunState& state) {
    state.settings.adcRev1 = false;
    for (size_t i = 0; i < args.size(); ++i) {
        const std::string& flag = args[i];
        if (flag == "--rev1") {
            state.settings.adcRev1 = true;
            continue;
        }
        if (i + 1 >= args.size()) {
            return "missing value after " + flag;
        }
        const std::string& value = args[++i];
        auto bad = [&] {
            return std::optional<std::string>("bad value for " + flag + ": " + value);
        };
        if (flag == "--base") {
            auto v = parseNumber(value, 16);
            if (!v || *v > 0xFFFFFFFFull) {
                return bad();
            }
            state.settings.baseAddress = static_cast<uint32_t>(*v);
        } else if (flag == "--type") {
            auto v = parseNumber(value, 10);
            if (!v || *v > 4) {
                return bad();
            }
            state.settings.acquisitionType = static_cast<int32_t>(*v);
        } else if (flag == "--cycles") {
            auto v = parseNumber(value, 10);
            if (!v || *v > 0x7FFFFFFFull) {
                return bad();
            }
            state.settings.cycleCount = static_cast<int32_t>(*v);
        } else if (flag == "--ta") {
            if (auto problem = parseTaList(value, state.settings.taDaqEnable)) {
                return *problem;
            }
        } else if (flag == "--file") {
            state.settings.filename = value;
        } else if (flag == "--file-clr") {
            state.settings.filenameClr = value;
        } else if (flag == "--channel") {
            auto v = parseNumber(value, 10);
            if (!v || *v > 31) {
                return bad();
            }
            state.settings.channel = static_cast<uint32_t>(*v);
        } else if (flag == "--offset-adc") {
            auto v = parseNumber(value, 10);
            if (!v || *v > 0xFFFFFFFFull) {
                return bad();
            }
            state.settings.offsetAdc = static_cast<uint32_t>(*v);
        } else {
            return "unknown option " + flag;
        }
    }
    // Runs that write files need their names: without them the files would land in the current
    // folder under bare suffixes, or open as "".
    const RunSettings& settings = state.settings;
    const bool readout = settings.acquisitionType == 0 || settings.acquisitionType == 3;
    if (settings.adcRev1 && readout && settings.filenameClr.empty()) {
        return std::string("--file-clr PATH is needed: this acquisition type writes FIFO files");
    }
    if (!settings.adcRev1 && settings.filename.empty()) {
        return std::string("--file PATH is needed: the older layout writes the raw stream file");
    }
    if (!settings.adcRev1 && settings.filenameClr.empty()) {
        return std::string("--file-clr PATH is needed: the older layout writes the clean file");
    }
    return std::nullopt;
}

// After Stop, how long the run may take to end before the program ends without it.
constexpr auto kStopWait = std::chrono::milliseconds(800);

void printSummary(RunState& state) {
    std::printf("cycles=%d bus_errors=%u events_lost=%u last_error=%d\n",
                state.progress.cyclesDone.load(), state.progress.busErrorCount.load(),
                state.progress.eventsLost.load(), state.progress.lastError.load());
    std::fflush(stdout);
}

int runAcquire(const std::vector<std::string>& args) {
    RunState state;
    if (auto problem = parseFlags(args, state)) {
        std::fprintf(stderr, "tarvo-cli acquire: %s\nusage: tarvo-cli acquire %s\n",
                     problem->c_str(), kUsage);
        return 2;
    }
    CountingOperator op;
    state.op = &op;

    AcquisitionController run(state);
    run.openBridge();

    interrupted.store(false);
    struct sigaction action {};
    action.sa_handler = onInterrupt;
    sigemptyset(&action.sa_mask);
    struct sigaction previous {};
    sigaction(SIGINT, &action, &previous);

    run.start();
    const auto started = std::chrono::steady_clock::now();
    auto nextTick = started;
    std::optional<std::chrono::steady_clock::time_point> stopRequested;
    while (run.running()) {
        if (interrupted.load() && !stopRequested) {
            stopRequested = std::chrono::steady_clock::now();
            std::fprintf(stderr, "Stop Acquire\n");
            run.stop();
        }
        if (stopRequested && std::chrono::steady_clock::now() - *stopRequested > kStopWait) {
            // The worker is inside a bridge exchange that does not come back; end without it,
            // between two record writes.
            auto hold = run.holdFileWrites();
            std::fprintf(stderr,
                         "Stop Acquire: the bridge does not answer; ending without waiting for "
                         "it (the files hold whole records)\n");
            printSummary(state);
            std::_Exit(1);
        }
        const bool ended = run.waitForEnd(std::chrono::milliseconds(50));
        const auto now = std::chrono::steady_clock::now();
        if (now < nextTick && !ended) {
            continue;
        }
        nextTick = now + std::chrono::milliseconds(500);
        RunTimerTick tick = run.tick();
        const double seconds = std::chrono::duration<double>(now - started).count();
        std::fprintf(stderr, "cycles %d/%d  %.0f events/s  %s  %s\n", tick.cyclesDone,
                     tick.cycleCount, seconds > 0 ? tick.cyclesDone / seconds : 0.0,
                     tick.busErrorText.c_str(), tick.eventsLostText.c_str());
    }
    sigaction(SIGINT, &previous, nullptr);
    run.closeBridge();

    if (state.settings.adcRev1 && state.settings.acquisitionType == 4) {
        std::fputs(state.display.peakText().c_str(), stdout);
    }
    printSummary(state);
    return op.errors.load() > 0 ? 1 : 0;
}

const Registration registration{{"acquire", kUsage, runAcquire}};

}  // namespace
}  // namespace tarvo::cli
