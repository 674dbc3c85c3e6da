#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>
#include <nlohmann/json.hpp>

#include <chrono>
#include <fstream>
#include <sstream>
#include <thread>

#include "BridgeFixture.h"
#include "support/TempDir.h"

namespace nimbra::test {
namespace {

using Clock = std::chrono::steady_clock;

pid_t startWorker(const std::string& crateDir, std::vector<std::string> args) {
    args.insert(args.begin(), LOCK_WORKER_PATH);
    pid_t pid = fork();
    if (pid == 0) {
        setenv("KOVRAVME_SIM_DIR", crateDir.c_str(), 1);
        std::vector<char*> argv;
        for (auto& a : args) {
            argv.push_back(a.data());
        }
        argv.push_back(nullptr);
        execv(argv[0], argv.data());
        _exit(127);
    }
    return pid;
}

int exitCode(pid_t pid) {
    int status = 0;
    if (waitpid(pid, &status, 0) != pid) {
        return -1;
    }
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

uint64_t statistic(const std::string& json, const std::string& name) {
    auto counts = nlohmann::json::parse(json, nullptr, false);
    if (!counts.is_object() || !counts.contains(name) || !counts[name].is_number_unsigned()) {
        ADD_FAILURE() << name << " missing in " << json;
        return 0;
    }
    return counts[name].get<uint64_t>();
}

TEST(Lock, TheHandleLockIsAFileOfTheBridgesTypeAndLink) {
    SimProcess sim;
    int32_t handle = -1;
    ASSERT_EQ(KOVRAVME_Init(UsbBridge, 0, 0, &handle), Success);
    EXPECT_EQ(access("/tmp/KOVRAX4410_LCK_00", F_OK), 0);
    KOVRAVME_End(handle);
}

TEST(Lock, TwoProcessesOfTwoThreadsNeverOverlapOnOneBridge) {
    TempDir stats;
    SimProcess::Options options;
    options.trace = false;
    options.setEnvironment = false;
    options.args = {"--memory", "0x00100000:0x1000", "--stats", stats.file("stats.json")};
    SimProcess sim(options);
    // 2 processes x 2 threads x 1250 x (write + read) = 10,000 cycles.
    pid_t first = startWorker(sim.dir(), {"cycles", "1250", "0x00100000"});
    pid_t second = startWorker(sim.dir(), {"cycles", "1250", "0x00100100"});
    EXPECT_EQ(exitCode(first), 0);
    EXPECT_EQ(exitCode(second), 0);
    ASSERT_EQ(sim.stop(), 0);
    std::ifstream in(stats.file("stats.json"));
    std::stringstream json;
    json << in.rdbuf();
    EXPECT_GE(statistic(json.str(), "exchanges"), 10000u);
    EXPECT_EQ(statistic(json.str(), "overlapping_exchanges"), 0u);
}

TEST(Lock, AHolderKilledInsideAnExchangeDoesNotStopTheOthers) {
    // The holder's crate answers after ten seconds; the others work on a crate of their own, but
    // the lock is the bridge type's and link's, so they wait for the holder.
    SimProcess::Options slowOptions;
    slowOptions.setEnvironment = false;
    slowOptions.args = {"--delay-us", "10000000"};
    SimProcess slow(slowOptions);
    SimProcess::Options options;
    options.trace = false;
    options.setEnvironment = false;
    options.args = {"--memory", "0x00100000:0x1000"};
    SimProcess fast(options);

    pid_t holder = startWorker(slow.dir(), {"hold"});
    // Its request has reached the crate: it is inside the exchange, holding the lock.
    auto deadline = Clock::now() + std::chrono::seconds(5);
    while (slow.traceLines().empty() && Clock::now() < deadline) {
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    ASSERT_FALSE(slow.traceLines().empty());

    pid_t first = startWorker(fast.dir(), {"cycles", "50", "0x00100000"});
    pid_t second = startWorker(fast.dir(), {"cycles", "50", "0x00100100"});
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    int status = 0;
    EXPECT_EQ(waitpid(first, &status, WNOHANG), 0) << "ran while the lock was held";
    EXPECT_EQ(waitpid(second, &status, WNOHANG), 0) << "ran while the lock was held";

    kill(holder, SIGKILL);
    auto death = Clock::now();
    waitpid(holder, &status, 0);
    EXPECT_EQ(exitCode(first), 0);
    EXPECT_EQ(exitCode(second), 0);
    auto finished = Clock::now() - death;
    EXPECT_LT(finished, std::chrono::seconds(1))
        << std::chrono::duration_cast<std::chrono::milliseconds>(finished).count() << " ms";
}

}  // namespace
}  // namespace nimbra::test
