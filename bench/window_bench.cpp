// What the window costs a run: "Normal Read-out" of all eight FIFOs into files on the virtual
// crate, once with the main window open (offscreen, timers, counters and graph drawing as an
// operator sees them) and once headless through `tarvo-cli acquire`, alternating round by round
// against one crate. Each side's figure is the run's own time from START to the worker's end.
//
//   window-bench [EVENTS] [ROUNDS]
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <QApplication>
#include <QElapsedTimer>
#include <QTimer>
#include <algorithm>
#include <array>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <stdexcept>
#include <string>
#include <vector>

#include "acquisition/ui/CTarvoDlg.h"
#include "acquisition/ui/LiveGraph.h"
#include "shell/PersistedSettings.h"
#include "shell/SettingsStore.h"

namespace {

namespace fs = std::filesystem;

struct Crate {
    pid_t pid = -1;
    std::string dir;
};

Crate startCrate(const std::string& dir) {
    int out[2];
    if (pipe(out) != 0) {
        throw std::runtime_error("pipe");
    }
    Crate crate{fork(), dir};
    if (crate.pid == 0) {
        dup2(out[1], STDOUT_FILENO);
        close(out[0]);
        execl(VMECRATE_SIM_PATH, VMECRATE_SIM_PATH, "--dir", dir.c_str(), "--board", "--i2c",
              nullptr);
        _exit(127);
    }
    close(out[1]);
    std::string line;
    char c;
    while (read(out[0], &c, 1) == 1 && c != '\n') {
        line += c;
    }
    close(out[0]);
    if (line != "ready") {
        throw std::runtime_error("vmecrate-sim did not start");
    }
    setenv("KOVRAVME_SIM_DIR", dir.c_str(), 1);
    return crate;
}

// tarvo-cli acquire; its last progress line carries the run's events per second.
double headlessRun(int events, const std::string& folder) {
    std::string command = std::string(TARVO_CLI_PATH) + " acquire --rev1 --type 0 --cycles " +
                          std::to_string(events) + " --ta 1,2,3,4,5,6,7,8 --file-clr " + folder +
                          "/headless.bin 2>&1 >/dev/null";
    FILE* pipe = popen(command.c_str(), "r");
    if (pipe == nullptr) {
        throw std::runtime_error("cannot start tarvo-cli");
    }
    char line[512];
    double rate = 0;
    while (fgets(line, sizeof line, pipe) != nullptr) {
        int done = 0;
        int total = 0;
        double r = 0;
        if (std::sscanf(line, "cycles %d/%d %lf events/s", &done, &total, &r) == 3 &&
            done == total) {
            rate = r;
        }
    }
    if (pclose(pipe) != 0 || rate <= 0) {
        throw std::runtime_error("tarvo-cli acquire failed");
    }
    return rate;
}

// The same run started from the window, timed from START to the last event.
double windowRun(tarvo::CTarvoDlg& window, int events, const std::string& folder, int& drawn) {
    tarvo::RunState& state = window.state();
    state.settings.adcRev1 = true;
    state.settings.acquisitionType = 0;
    state.settings.cycleCount = events;
    state.settings.taDaqEnable.fill(true);
    state.settings.filenameClr = folder + "/window.bin";
    window.writeFields();
    QElapsedTimer clock;
    clock.start();
    window.onStart();
    if (!window.running()) {
        throw std::runtime_error("the window did not start a run");
    }
    qint64 ended = 0;
    QTimer probe;
    probe.setInterval(2);
    QObject::connect(&probe, &QTimer::timeout, [&] {
        if (ended == 0 && state.events.AcquisitionDoneEvent.isSet()) {
            ended = clock.nsecsElapsed();
        }
    });
    probe.start();
    int points = 0;
    while (window.running()) {
        QApplication::processEvents(QEventLoop::WaitForMoreEvents, 50);
        points = std::max(points, window.graph().dataPoints());
    }
    drawn += points > 0;
    if (state.progress.cyclesDone.load() != events || ended == 0) {
        throw std::runtime_error("the window's run did not finish");
    }
    return events / (static_cast<double>(ended) / 1e9);
}

double median(std::vector<double> v) {
    std::sort(v.begin(), v.end());
    return v[v.size() / 2];
}

}  // namespace

int main(int argc, char** argv) {
    const int events = argc > 1 ? std::atoi(argv[1]) : 20000;
    const int rounds = argc > 2 ? std::atoi(argv[2]) : 5;
    setenv("QT_QPA_PLATFORM", "offscreen", 0);
    setenv("TARVO_I2C_ADAPTER", "sim", 1);
    fs::path folder = fs::temp_directory_path() / ("window-bench-" + std::to_string(getpid()));
    fs::create_directories(folder / "crate");
    setenv("XDG_CONFIG_HOME", (folder / "config").c_str(), 1);
    Crate crate = startCrate((folder / "crate").string());
    int status = 0;
    try {
        QApplication app(argc, argv);
        tarvo::SettingsStore store;
        store.load();
        tarvo::CTarvoDlg window(store);
        window.loadSettings(tarvo::readStartupSettings(store));
        window.initialize();
        window.resize(1180, 760);
        window.show();
        std::vector<double> headless, windowed;
        int drawn = 0;
        std::printf("%d events per run, all eight FIFOs into files, %d rounds\n", events, rounds);
        std::printf("%-6s %18s %18s %8s\n", "round", "headless ev/s", "window ev/s", "ratio");
        for (int r = 0; r < rounds; ++r) {
            // Fresh files each round: both sides append otherwise.
            for (const auto& f : fs::directory_iterator(folder)) {
                if (f.is_regular_file()) {
                    fs::remove(f.path());
                }
            }
            double h = headlessRun(events, folder.string());
            double w = windowRun(window, events, folder.string(), drawn);
            headless.push_back(h);
            windowed.push_back(w);
            std::printf("%-6d %18.0f %18.0f %8.3f\n", r + 1, h, w, w / h);
            std::fflush(stdout);
        }
        std::printf(
            "median %18.0f %18.0f %8.3f  (window / headless; graph drawn in %d of %d runs)\n",
            median(headless), median(windowed), median(windowed) / median(headless), drawn, rounds);
    } catch (const std::exception& e) {
        std::fprintf(stderr, "window-bench: %s\n", e.what());
        status = 1;
    }
    kill(crate.pid, SIGTERM);
    waitpid(crate.pid, nullptr, 0);
    fs::remove_all(folder);
    return status;
}
