// tarvo-cli histogram: "Gen Channels" without the window.
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include "acquisition/DaqFileLayout.h"
#include "acquisition/DaqRunJournal.h"
#include "acquisition/RunState.h"
#include "cli/Command.h"
#include "histogram/HistogramJob.h"
#include "histogram/HistogramModes.h"
#include "shell/Operator.h"

namespace tarvo::cli {
namespace {

constexpr const char* kUsage =
    "[--rev1] --file-clr PATH [--ta 1,2,...] [--samples FROM:TO] "
    "[--mode none|merge|swap|ch0base] [--baselines B0,B1,...,B7] [--histograms-only]";

std::vector<std::string> splitList(const std::string& text, char separator) {
    std::vector<std::string> parts;
    size_t start = 0;
    while (true) {
        size_t end = text.find(separator, start);
        parts.push_back(text.substr(start, end - start));
        if (end == std::string::npos) {
            return parts;
        }
        start = end + 1;
    }
}

std::optional<long long> parseInteger(const std::string& text) {
    if (text.empty()) {
        return std::nullopt;
    }
    char* end = nullptr;
    long long value = std::strtoll(text.c_str(), &end, 10);
    if (*end != '\0') {
        return std::nullopt;
    }
    return value;
}

bool usageError(const std::string& text) {
    std::fprintf(stderr, "tarvo-cli histogram: %s\nusage: tarvo-cli histogram %s\n", text.c_str(),
                 kUsage);
    return false;
}

// Fills the histogram fields of the main window from the flags.
bool parseFlags(const std::vector<std::string>& args, RunState& state) {
    bool samplesGiven = false;
    bool fileGiven = false;
    state.settings.adcRev1 = false;
    state.settings.taDaqEnable.fill(true);
    for (size_t i = 0; i < args.size(); ++i) {
        const std::string& flag = args[i];
        auto value = [&]() -> std::optional<std::string> {
            if (i + 1 >= args.size()) {
                return std::nullopt;
            }
            return args[++i];
        };
        if (flag == "--rev1") {
            state.settings.adcRev1 = true;
        } else if (flag == "--histograms-only") {
            state.settings.histogramsOnly = true;
        } else if (flag == "--file-clr") {
            auto path = value();
            if (!path || path->empty()) {
                return usageError("--file-clr needs a path");
            }
            state.settings.filenameClr = *path;
            fileGiven = true;
        } else if (flag == "--ta") {
            auto list = value();
            if (!list) {
                return usageError("--ta needs a list of TA numbers 1..8");
            }
            state.settings.taDaqEnable.fill(false);
            for (const auto& item : splitList(*list, ',')) {
                auto ta = parseInteger(item);
                if (!ta || *ta < 1 || *ta > RunState::kFifoCount) {
                    return usageError("bad TA number '" + item + "' (1..8)");
                }
                state.settings.taDaqEnable[static_cast<size_t>(*ta - 1)] = true;
            }
        } else if (flag == "--samples") {
            auto range = value();
            auto parts = range ? splitList(*range, ':') : std::vector<std::string>{};
            auto from = parts.size() == 2 ? parseInteger(parts[0]) : std::nullopt;
            auto to = parts.size() == 2 ? parseInteger(parts[1]) : std::nullopt;
            if (!from || !to || *from < INT32_MIN || *from > INT32_MAX || *to < INT32_MIN ||
                *to > INT32_MAX) {
                return usageError("--samples needs FROM:TO");
            }
            state.settings.samplesFrom = static_cast<int32_t>(*from);
            state.settings.samplesTo = static_cast<int32_t>(*to);
            samplesGiven = true;
        } else if (flag == "--mode") {
            auto mode = value();
            const char* names[] = {"none", "merge", "swap", "ch0base"};
            int found = -1;
            for (int m = 0; m < 4 && mode; ++m) {
                if (*mode == names[m]) {
                    found = m;
                }
            }
            if (found < 0) {
                return usageError("--mode needs none, merge, swap or ch0base");
            }
            state.settings.histogramMode = found;
        } else if (flag == "--baselines") {
            auto list = value();
            auto items = list ? splitList(*list, ',') : std::vector<std::string>{};
            if (items.empty() || items.size() > RunState::kFifoCount) {
                return usageError("--baselines needs 1 to 8 numbers");
            }
            for (size_t k = 0; k < items.size(); ++k) {
                // Stored base lines may be any 32-bit integer, negative ones included.
                auto b = parseInteger(items[k]);
                if (!b || *b < INT32_MIN || *b > UINT32_MAX) {
                    return usageError("bad base line '" + items[k] + "'");
                }
                state.settings.baseLine[k] = static_cast<uint32_t>(*b);
            }
        } else {
            return usageError("unknown argument '" + flag + "'");
        }
    }
    if (!fileGiven) {
        return usageError("--file-clr is required");
    }
    if (!samplesGiven) {
        state.settings.samplesFrom = 0;
        state.settings.samplesTo =
            state.settings.adcRev1 ? daq::kFifoSamples - 1 : daq::kLegacySamples - 1;
    }
    return true;
}

int runHistogram(const std::vector<std::string>& args) {
    RunState state;
    ConsoleOperator console(false);
    state.op = &console;
    if (!parseFlags(args, state)) {
        return 1;
    }
    if (state.settings.adcRev1) {
        if (auto warning =
                fifoFilesOutOfStep(state.settings.filenameClr, state.settings.taDaqEnable)) {
            std::fprintf(stderr, "histogram: %s\n", warning->c_str());
        }
    }
    HistogramJob job(state);
    const auto start = std::chrono::steady_clock::now();
    if (!job.GenerateChannels()) {
        return 1;
    }
    // Bytes of the enabled files before a FIFO, for the overall rate.
    auto bytesBefore = [&state](int32_t fifo) {
        uint64_t sum = 0;
        for (int k = 0; k < fifo; ++k) {
            std::error_code error;
            auto size =
                std::filesystem::file_size(daq::fifoFileName(state.settings.filenameClr, k), error);
            if (state.settings.taDaqEnable[static_cast<size_t>(k)] && !error) {
                sum += size / daq::kFifoRecordBytes * daq::kFifoRecordBytes;
            }
        }
        return sum;
    };
    while (job.running()) {
        state.events.HistogramDoneEvent.wait(std::chrono::milliseconds(500));
        HistogramTick tick = job.tick();
        const uint64_t earlierFiles = bytesBefore(tick.fifo);
        const std::string file = tick.fifo < 0
                                     ? state.settings.filenameClr
                                     : daq::fifoFileName(state.settings.filenameClr, tick.fifo);
        const double seconds =
            std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
        const double rate =
            seconds > 0 ? static_cast<double>(earlierFiles + tick.bytesProcessed) / 1e6 / seconds
                        : 0.0;
        std::fprintf(stderr, "histogram: %s %llu of %llu bytes, %.1f MB/s\n", file.c_str(),
                     static_cast<unsigned long long>(tick.bytesProcessed),
                     static_cast<unsigned long long>(tick.total), rate);
    }
    return job.succeeded() ? 0 : 1;
}

const Registration kRegistration{{"histogram", kUsage, runHistogram}};

}  // namespace
}  // namespace tarvo::cli
