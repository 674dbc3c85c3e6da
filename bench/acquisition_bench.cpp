// Measures "Normal Read-out" (status read + eight 1 KiB FIFO block reads per event, all eight FIFOs
// appended to files) through KOVRAVMElib and vmecrate-sim, and a bare Unix-socket client and
// server that carry the same exchanges with the same framing, in the same run. The ratio says how
// much the library, the worker and the file writing add to the transport.
//
//   acquisition-bench [EVENTS] [ROUNDS]
#include <signal.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <stdexcept>
#include <string>
#include <vector>

#include "KOVRAVMElib.h"
#include "acquisition/AcquisitionWorkers.h"
#include "acquisition/RunState.h"

namespace {

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

constexpr double kEventBytes = 8 * 1024.0;

void readAll(int fd, void* data, size_t n) {
    char* p = static_cast<char*>(data);
    while (n > 0) {
        ssize_t got = read(fd, p, n);
        if (got <= 0) {
            throw std::runtime_error("bare socket: short read");
        }
        p += got;
        n -= static_cast<size_t>(got);
    }
}

void writeAll(int fd, const void* data, size_t n) {
    const char* p = static_cast<const char*>(data);
    while (n > 0) {
        ssize_t put = write(fd, p, n);
        if (put <= 0) {
            throw std::runtime_error("bare socket: short write");
        }
        p += put;
        n -= static_cast<size_t>(put);
    }
}

sockaddr_un socketAddress(const std::string& path) {
    sockaddr_un addr{};
    addr.sun_family = AF_UNIX;
    std::snprintf(addr.sun_path, sizeof addr.sun_path, "%s", path.c_str());
    return addr;
}

// The bare server: one connection per exchange, a bulk write carrying the request, a bulk read
// answered with a reply of the size the real bridge sends (status word included).
[[noreturn]] void bareServer(int listener) {
    std::vector<char> reply(61440, 0);
    for (;;) {
        int fd = accept(listener, nullptr, nullptr);
        if (fd < 0) {
            continue;
        }
        try {
            char head[6];
            readAll(fd, head, 6);  // 'W', pipe, length
            uint32_t length = 0;
            std::memcpy(&length, head + 2, 4);
            char request[64];
            readAll(fd, request, length);
            readAll(fd, head, 6);  // 'R', pipe, maximum
            uint32_t replyLength = length == 6 ? 4 + 2 : 1024 + 2;
            if (length == 6) {
                uint32_t ready = 0x80000000u;
                std::memcpy(reply.data(), &ready, 4);
            }
            writeAll(fd, &replyLength, 4);
            writeAll(fd, reply.data(), replyLength);
        } catch (const std::exception&) {
        }
        close(fd);
    }
}

void bareExchange(const sockaddr_un& addr, uint32_t requestLength, std::vector<char>& reply) {
    int fd = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (connect(fd, reinterpret_cast<const sockaddr*>(&addr), sizeof addr) != 0) {
        throw std::runtime_error("bare socket: connect failed");
    }
    char message[6 + 8 + 6] = {'W', 0};
    std::memcpy(message + 2, &requestLength, 4);
    size_t at = 6 + requestLength;
    message[at] = 'R';
    message[at + 1] = 2;
    uint32_t maximum = 61440;
    std::memcpy(message + at + 2, &maximum, 4);
    writeAll(fd, message, at + 6);
    uint32_t length = 0;
    readAll(fd, &length, 4);
    readAll(fd, reply.data(), length);
    close(fd);
}

double bareRound(const std::string& path, int events) {
    auto addr = socketAddress(path);
    std::vector<char> reply(61440);
    auto start = Clock::now();
    for (int e = 0; e < events; ++e) {
        bareExchange(addr, 6, reply);
        for (int k = 0; k < 8; ++k) {
            bareExchange(addr, 8, reply);
        }
    }
    return std::chrono::duration<double>(Clock::now() - start).count();
}

double readoutRound(int32_t handle, const fs::path& folder, int events, bool files) {
    tarvo::RunState state;
    state.vmeHandle = handle;
    state.settings.acquisitionType = 0;
    state.settings.cycleCount = events;
    state.settings.filenameClr = (folder / "daqclr.bin").string();
    if (!files) {
        state.settings.taDaqEnable.fill(false);
    }
    auto start = Clock::now();
    int result = tarvo::FifoReadoutWorker(state);
    double seconds = std::chrono::duration<double>(Clock::now() - start).count();
    if (result != 0 || state.progress.cyclesDone.load() != events) {
        throw std::runtime_error("readout round ended early");
    }
    return seconds;
}

pid_t startCrate(const fs::path& dir) {
    int out[2];
    if (pipe(out) != 0) {
        throw std::runtime_error("pipe failed");
    }
    pid_t pid = fork();
    if (pid == 0) {
        dup2(out[1], STDOUT_FILENO);
        close(out[0]);
        execl(VMECRATE_SIM_PATH, VMECRATE_SIM_PATH, "--dir", dir.c_str(), "--board", nullptr);
        _exit(127);
    }
    close(out[1]);
    char line[16] = {};
    ssize_t n = read(out[0], line, sizeof line - 1);
    close(out[0]);
    if (n < 5 || std::strncmp(line, "ready", 5) != 0) {
        throw std::runtime_error("vmecrate-sim did not start");
    }
    return pid;
}

}  // namespace

int main(int argc, char** argv) {
    int events = argc > 1 ? std::atoi(argv[1]) : 5000;
    int rounds = argc > 2 ? std::atoi(argv[2]) : 3;
    fs::path dir = fs::temp_directory_path() / ("acquisition-bench-" + std::to_string(getpid()));
    fs::create_directories(dir / "crate");
    fs::create_directories(dir / "files");

    pid_t crate = startCrate(dir / "crate");
    setenv("KOVRAVME_SIM_DIR", (dir / "crate").c_str(), 1);

    std::string barePath = (dir / "bare.sock").string();
    int listener = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    auto addr = socketAddress(barePath);
    if (bind(listener, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0 ||
        listen(listener, 64) != 0) {
        std::perror("bare socket");
        return 1;
    }
    pid_t server = fork();
    if (server == 0) {
        bareServer(listener);
    }
    close(listener);

    int status = 0;
    int32_t handle = -1;
    if (KOVRAVME_Init(UsbBridge, 0, 0, &handle) != Success) {
        std::fprintf(stderr, "acquisition-bench: the bridge did not open\n");
        status = 1;
    } else {
        KOVRAVME_SetTimeout(handle, 1);
        std::printf("%d events per round (status read + 8 x 1 KiB block reads each)\n", events);
        std::printf("%-6s %28s %14s %28s %7s\n", "round", "Normal Read-out, 8 files", "(no files)",
                    "bare socket", "ratio");
        double oursTotal = 0;
        double bareTotal = 0;
        // Slices taken in turn, so that load from elsewhere on the machine falls on both. Each
        // slice of ours is a whole run of the main job's size, so its files are synced once per
        // 1,000 events, as they are in use.
        constexpr int kSlice = 1000;
        for (int r = 1; r <= rounds; ++r) {
            fs::remove_all(dir / "files");
            fs::create_directories(dir / "files");
            double ours = 0;
            double noFiles = 0;
            double bare = 0;
            for (int done = 0; done < events; done += kSlice) {
                int n = std::min(kSlice, events - done);
                ours += readoutRound(handle, dir / "files", n, true);
                noFiles += readoutRound(handle, dir / "files", n, false);
                bare += bareRound(barePath, n);
            }
            double ratio = bare / ours;
            oursTotal += ours;
            bareTotal += bare;
            std::printf("%-6d %9.0f ev/s %7.2f MB/s %9.0f ev/s %9.0f ev/s %7.2f MB/s %7.2f\n", r,
                        events / ours, events * kEventBytes / ours / 1e6, events / noFiles,
                        events / bare, events * kEventBytes / bare / 1e6, ratio);
        }
        std::printf("all rounds: %.0f ev/s against %.0f ev/s bare, ratio %.2f (goal >= 0.67)\n",
                    rounds * events / oursTotal, rounds * events / bareTotal,
                    bareTotal / oursTotal);
        KOVRAVME_End(handle);
    }
    kill(server, SIGTERM);
    kill(crate, SIGTERM);
    waitpid(server, nullptr, 0);
    waitpid(crate, nullptr, 0);
    fs::remove_all(dir);
    return status;
}
