// vmecrate-sim: the virtual VME crate. Serves the bridge sockets in --dir until SIGTERM/SIGINT.
#include <pthread.h>
#include <signal.h>

#include <cstdio>
#include <exception>

#include "Crate.h"
#include "Options.h"

int main(int argc, char** argv) {
    vmesim::Options options;
    try {
        options = vmesim::parseOptions(argc, argv);
    } catch (const vmesim::OptionError& e) {
        std::fprintf(stderr, "vmecrate-sim: %s\n%s", e.what(), vmesim::usage().c_str());
        return 2;
    }
    if (options.help) {
        std::fputs(vmesim::usage().c_str(), stdout);
        return 0;
    }

    // The signals are taken by sigwait below; every thread started later inherits the mask.
    sigset_t stopSignals;
    sigemptyset(&stopSignals);
    sigaddset(&stopSignals, SIGTERM);
    sigaddset(&stopSignals, SIGINT);
    pthread_sigmask(SIG_BLOCK, &stopSignals, nullptr);
    signal(SIGPIPE, SIG_IGN);

    try {
        vmesim::Crate crate(options);
        crate.start();
        std::puts("ready");
        std::fflush(stdout);

        int signal = 0;
        sigwait(&stopSignals, &signal);

        crate.stop();
        if (!options.statsPath.empty()) {
            crate.writeStats(options.statsPath);
        }
    } catch (const std::exception& e) {
        std::fprintf(stderr, "vmecrate-sim: %s\n", e.what());
        return 1;
    }
    return 0;
}
