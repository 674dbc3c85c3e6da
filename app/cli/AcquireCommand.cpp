// tarvo-cli acquire: one acquisition run, as "START Acquire" of the main window starts it.
#include <signal.h>

#include <array>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <optional>
#include <sstream>
#include <string>
#include <vector>

#include "acquisition/AcquisitionController.h"
#include "acquisition/RunState.h"
#include "cli/Command.h"
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

bool parseTaList(const std::string& text, std::array<bool, RunState::kFifoCount>& enable) {
    enable.fill(false);
    std::stringstream in(text);
    std::string item;
    while (std::getline(in, item, ',')) {
        auto ta = parseNumber(item, 10);
        if (!ta || *ta < 1 || *ta > RunState::kFifoCount) {
            return false;
        }
        enable[*ta - 1] = true;
    }
    return true;
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
            if (!parseTaList(value, state.settings.taDaqEnable)) {
                return bad();
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
    return std::nullopt;
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
    bool stopRequested = false;
    while (run.running()) {
        if (interrupted.load() && !stopRequested) {
            stopRequested = true;
            std::fprintf(stderr, "Stop Acquire\n");
            run.stop();
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
    std::printf("cycles=%d bus_errors=%u events_lost=%u last_error=%d\n",
                state.progress.cyclesDone.load(), state.progress.busErrorCount.load(),
                state.progress.eventsLost.load(), state.progress.lastError.load());
    std::fflush(stdout);
    return op.errors.load() > 0 ? 1 : 0;
}

const Registration registration{{"acquire", kUsage, runAcquire}};

}  // namespace
}  // namespace tarvo::cli
