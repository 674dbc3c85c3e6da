// Histogram generation throughput, measured side by side in one run on one generated file set:
//  (a) histograms only, against reading the same input with cat to /dev/null;
//  (b) with value lists and spectra, against reading the input plus writing as many output bytes
//      in large writes, and against the straightforward way (a read per record, a formatted
//      write per line).
// Usage: histogram-bench [MiB of input, default 256] [folder, default $TMPDIR or /tmp]
#include <fcntl.h>
#include <sys/resource.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <filesystem>
#include <functional>
#include <string>
#include <vector>

#include "acquisition/DaqFileLayout.h"
#include "acquisition/RunState.h"
#include "histogram/HistogramWorker.h"
#include "shell/Operator.h"

namespace fs = std::filesystem;
using namespace tarvo;

namespace {

constexpr int kFiles = 8;

struct Timing {
    double wall = 1e30;  // elapsed seconds
    double cpu = 1e30;   // CPU seconds of this process and of the programs it ran
};

double cpuNow() {
    rusage self{}, children{};
    getrusage(RUSAGE_SELF, &self);
    getrusage(RUSAGE_CHILDREN, &children);
    auto sec = [](const timeval& t) { return static_cast<double>(t.tv_sec) + t.tv_usec / 1e6; };
    return sec(self.ru_utime) + sec(self.ru_stime) + sec(children.ru_utime) +
           sec(children.ru_stime);
}

// Best of a few runs, by elapsed and by CPU time separately. On a machine shared with other
// jobs the elapsed time mostly measures the waiting for a core; the CPU time does not.
Timing best(int runs, const std::function<void()>& job) {
    Timing t;
    for (int i = 0; i < runs; ++i) {
        double cpu0 = cpuNow();
        auto start = std::chrono::steady_clock::now();
        job();
        t.wall = std::min(
            t.wall,
            std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count());
        t.cpu = std::min(t.cpu, cpuNow() - cpu0);
    }
    return t;
}

void generate(const std::string& clr, uint64_t bytesPerFile) {
    uint32_t seed = 12345;
    std::vector<uint32_t> record(daq::kFifoRecordWords);
    for (int k = 0; k < kFiles; ++k) {
        FILE* f = std::fopen(daq::fifoFileName(clr, k).c_str(), "wb");
        if (f == nullptr) {
            std::perror("generate");
            std::exit(1);
        }
        for (uint64_t r = 0; r < bytesPerFile / daq::kFifoRecordBytes; ++r) {
            for (int i = 0; i < daq::kFifoRecordWords; ++i) {
                seed = seed * 1664525u + 1013904223u;
                // A pedestal near 400 with noise, and now and then a pulse.
                uint32_t value =
                    400 + (seed >> 28) + ((seed >> 8) % 97 == 0 ? (seed >> 12) % 3000 : 0);
                record[i] = value | uint32_t(i % 8) << 16 | uint32_t(i / 8) << 20 |
                            uint32_t(k) << 25 | 1u << 28;
            }
            std::fwrite(record.data(), 4, record.size(), f);
        }
        std::fclose(f);
    }
}

struct Output {
    std::string path;
    uint64_t size;
};

// The text and spectrum files in the folder, in name order.
std::vector<Output> outputs(const std::string& folder) {
    std::vector<Output> found;
    for (const auto& e : fs::directory_iterator(folder)) {
        auto ext = e.path().extension();
        if (ext == ".txt" || ext == ".spe") {
            found.push_back({e.path().string(), e.file_size()});
        }
    }
    std::sort(found.begin(), found.end(),
              [](const Output& a, const Output& b) { return a.path < b.path; });
    return found;
}

uint64_t totalSize(const std::vector<Output>& files) {
    uint64_t sum = 0;
    for (const auto& f : files) {
        sum += f.size;
    }
    return sum;
}

// Floor of (b): read every input with 1 MiB reads, then overwrite the very files the real job
// writes, with the same sizes, in 1 MiB writes: the same I/O without any formatting.
void readAndWrite(const std::string& clr, const std::vector<Output>& files) {
    std::vector<char> buffer(1 << 20, ' ');
    for (int k = 0; k < kFiles; ++k) {
        int in = ::open(daq::fifoFileName(clr, k).c_str(), O_RDONLY);
        while (::read(in, buffer.data(), buffer.size()) > 0) {
        }
        ::close(in);
        const std::string prefix = histogramStem(daq::fifoFileName(clr, k)) + "_";
        for (const auto& f : files) {
            if (f.path.compare(0, prefix.size(), prefix) != 0) {
                continue;
            }
            int out = ::open(f.path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
            for (uint64_t left = f.size; left > 0;) {
                size_t n = std::min<uint64_t>(left, buffer.size());
                if (::write(out, buffer.data(), n) != static_cast<ssize_t>(n)) {
                    std::perror("floor write");
                    std::exit(1);
                }
                left -= n;
            }
            ::close(out);
        }
    }
}

// The straightforward way of the same job: one fread per record, one fprintf per line.
bool straightforward(const std::string& clr, const std::tm& when) {
    std::vector<uint32_t> record(daq::kFifoRecordWords);
    std::vector<uint32_t> histogram(32 * 8192);
    char date[64];
    std::strftime(date, sizeof date, "%m/%d/%Y %H:%M:%S", &when);
    for (int k = 0; k < kFiles; ++k) {
        std::string name = daq::fifoFileName(clr, k);
        std::string stem = histogramStem(name);
        FILE* in = std::fopen(name.c_str(), "rb");
        FILE* lists[32];
        for (int c = 0; c < 32; ++c) {
            lists[c] = std::fopen((stem + "_" + std::to_string(c) + ".txt").c_str(), "wb");
        }
        std::fill(histogram.begin(), histogram.end(), 0u);
        while (std::fread(record.data(), 4, record.size(), in) == record.size()) {
            for (int c = 0; c < 32; ++c) {
                for (int s = 0; s < 8; ++s) {
                    uint32_t w = record[c * 8 + s];
                    if (daq::channel(w) != uint32_t(c) || daq::fifoSample(w) != uint32_t(s)) {
                        return false;
                    }
                    uint32_t v = daq::adcValue(w);
                    ++histogram[c * 8192 + v];
                    std::fprintf(lists[c], "%5u\r\n", v);
                }
            }
        }
        std::fclose(in);
        for (FILE* f : lists) {
            std::fclose(f);
        }
        for (int c = 0; c < 32; ++c) {
            FILE* f = std::fopen((stem + "_" + std::to_string(c) + ".spe").c_str(), "wb");
            std::fprintf(f,
                         "$SPEC_ID:\r\n*VATA TOLK DETECTOR*\r\n$SPEC_REM:\r\nDET# 1\r\n"
                         "DETDESC# *RIZOVIVO CH%d*\r\nAP# Maestro Version 6.08\r\n$DATE_MEA:\r\n"
                         "*%s*\r\n$MEAS_TIM:\r\n*1 1*\r\n$DATA:\r\n0 8192\r\n",
                         c, date);
            for (int b = 0; b < 8192; ++b) {
                std::fprintf(f, "%8u\r\n", histogram[c * 8192 + b]);
            }
            std::fprintf(f,
                         "$ROI:\r\n3\r\n368 383\r\n389 402\r\n408 419\r\n$PRESETS:\r\nNone\r\n"
                         "0\r\n0\r\n$ENER_FIT:\r\n8.051856 0.014782\r\n$MCA_CAL:\r\n3\r\n"
                         "8.051856E+000 1.478172E-002 0.000000E+000 keV\r\n$SHAPE_CAL:\r\n3\r\n"
                         "6.024698E+001 -1.382197E-001 0.000000E+000\r\n");
            std::fclose(f);
        }
    }
    return true;
}

}  // namespace

int main(int argc, char** argv) {
    const uint64_t mib = argc > 1 ? std::strtoull(argv[1], nullptr, 10) : 256;
    const char* tmp = std::getenv("TMPDIR");
    fs::path base = argc > 2 ? fs::path(argv[2]) : fs::path(tmp != nullptr ? tmp : "/tmp");
    fs::path folder = base / ("histogram-bench-" + std::to_string(::getpid()));
    fs::create_directories(folder);
    const std::string clr = (folder / "daqclr.bin").string();
    const uint64_t input = mib << 20;

    std::printf("histogram-bench: %llu MiB FIFO-layout input in %d files, %s\n",
                static_cast<unsigned long long>(mib), kFiles, folder.c_str());
    generate(clr, input / kFiles);

    ConsoleOperator console(false);
    RunState state;
    state.op = &console;
    state.settings.adcRev1 = true;
    state.settings.filenameClr = clr;
    state.settings.taDaqEnable.fill(true);
    state.settings.samplesFrom = 0;
    state.settings.samplesTo = 7;
    const std::tm when = localClock();
    auto clock = [when] { return when; };
    bool ok = true;

    const std::string cat = "cat " + folder.string() + "/daqclr_?.bin > /dev/null";
    auto mbps = [input](double t) { return static_cast<double>(input) / 1e6 / t; };

    auto line = [&](const char* what, Timing ours, const char* floorName, Timing floor,
                    const char* goal) {
        std::printf("%s: ours %.0f MB/s, %s %.0f MB/s; elapsed ratio %.2f, CPU ratio %.2f (%s)\n",
                    what, mbps(ours.wall), floorName, mbps(floor.wall), ours.wall / floor.wall,
                    ours.cpu / floor.cpu, goal);
    };

    // (a) histograms only.
    state.settings.histogramsOnly = true;
    Timing catTime = best(3, [&] { ok = std::system(cat.c_str()) == 0 && ok; });
    Timing onlyTime = best(3, [&] { ok = FifoHistogramWorker(state, clock) && ok; });
    line("(a) histograms only", onlyTime, "cat to /dev/null", catTime, "goal <= 3");

    // (b) value lists and spectra.
    state.settings.histogramsOnly = false;
    ok = FifoHistogramWorker(state, clock) && ok;  // so that every timed run overwrites
    Timing fullTime = best(3, [&] { ok = FifoHistogramWorker(state, clock) && ok; });
    const std::vector<Output> files = outputs(folder.string());
    const uint64_t out = totalSize(files);
    Timing floorTime = best(3, [&] { readAndWrite(clr, files); });
    // Both of the above overwrite existing files in every run; so does this one.
    Timing plainTime = best(1, [&] { ok = straightforward(clr, when) && ok; });
    const uint64_t plainOut = totalSize(outputs(folder.string()));
    line("(b) lists and spectra", fullTime, "read + write floor", floorTime, "goal <= 1.5");
    std::printf(
        "(b) straightforward way %.0f MB/s: ours faster by %.1f elapsed, %.1f CPU "
        "(goal >= 4)\n",
        mbps(plainTime.wall), plainTime.wall / fullTime.wall, plainTime.cpu / fullTime.cpu);
    std::printf("    output %llu bytes (straightforward %llu)\n",
                static_cast<unsigned long long>(out), static_cast<unsigned long long>(plainOut));
    double load[1] = {0};
    if (getloadavg(load, 1) == 1) {
        std::printf("    load average %.1f on %ld cores\n", load[0], sysconf(_SC_NPROCESSORS_ONLN));
    }

    fs::remove_all(folder);
    if (!ok || out != plainOut) {
        std::fprintf(stderr, "histogram-bench: a run failed or the outputs differ\n");
        return 1;
    }
    return 0;
}
