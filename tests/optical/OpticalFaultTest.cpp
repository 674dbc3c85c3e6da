// The card paths when the crate stops, memory runs out, or another opener of the card goes away.
#include <signal.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>
#include <thread>
#include <vector>

#include "OpticalFixture.h"

using namespace optical;

namespace {

// A bare connection to a card socket, speaking its messages directly: stands for another process
// that has the card open.
class RawCard {
  public:
    explicit RawCard(const std::string& path) {
        fd_ = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
        sockaddr_un address{};
        address.sun_family = AF_UNIX;
        std::strncpy(address.sun_path, path.c_str(), sizeof(address.sun_path) - 1);
        ok_ = fd_ >= 0 && connect(fd_, reinterpret_cast<sockaddr*>(&address), sizeof(address)) == 0;
    }
    ~RawCard() { close(); }
    void close() {
        if (fd_ >= 0) {
            ::close(fd_);
            fd_ = -1;
        }
    }
    // Sends an opcode and its 32-bit fields; the status word of the answer, 0 on failure.
    uint32_t call(char op, std::initializer_list<uint32_t> fields) {
        std::vector<uint8_t> message = {static_cast<uint8_t>(op)};
        for (uint32_t field : fields) {
            for (int shift = 0; shift < 32; shift += 8) {
                message.push_back(static_cast<uint8_t>(field >> shift));
            }
        }
        uint32_t status = 0;
        if (!ok_ ||
            write(fd_, message.data(), message.size()) != static_cast<ssize_t>(message.size()) ||
            read(fd_, &status, sizeof(status)) != sizeof(status)) {
            return 0;
        }
        return status;
    }
    uint32_t readU32() {
        uint32_t value = 0;
        return read(fd_, &value, sizeof(value)) == sizeof(value) ? value : 0;
    }

  private:
    int fd_ = -1;
    bool ok_ = false;
};

constexpr uint32_t kApiSuccess = 512;
constexpr uint32_t kApiInvalidHandle = 516;

TEST_F(OpticalTest, TheCardKeepsDeliveringRepliesAfterTheOpenerThatHadTheDmaChannelCloses) {
    std::string path = sim->dir() + "/pci9054-1";
    RawCard other(path);
    ASSERT_EQ(other.call('O', {}), kApiSuccess);
    uint32_t otherOpener = other.readU32();
    ASSERT_EQ(other.call('D', {3, 0}), kApiSuccess);  // the channel is the other opener's now
    int32_t handle = open(OpticalBridge, 1, 0);
    ASSERT_GE(handle, 0);
    other.close();
    // Wait until the card has handled that close: a wait naming the opener finds it gone.
    for (;;) {
        RawCard probe(path);
        if (probe.call('A', {otherOpener, 0}) == kApiInvalidHandle) {
            break;
        }
    }
    uint32_t value = 0x600DF00D, back = 0;
    EXPECT_EQ(KOVRAVME_WriteCycle(handle, kMemoryBase, &value, kAm, D32), Success);
    EXPECT_EQ(KOVRAVME_ReadCycle(handle, kMemoryBase, &back, kAm, D32), Success);
    EXPECT_EQ(back, value);
}

// The card of a link is opened by Init and closed by End; the card handles the close of one
// opening while the next Init already runs. A few hundred cycles in a row, none may fail.
TEST_F(OpticalTest, InitAndEndInARowNeverFail) {
    int failures = 0;
    for (int i = 0; i < 300; ++i) {
        int32_t handle = -1;
        ErrorCode code = KOVRAVME_Init(OpticalBridge, 0, 0, &handle);
        if (code != Success) {
            ADD_FAILURE() << "cycle " << i << ": " << KOVRAVME_DecodeError(code);
            if (++failures == 3) {
                break;
            }
            continue;
        }
        EXPECT_EQ(KOVRAVME_End(handle), Success);
    }
}

TEST_F(OpticalTest, AStoppedCrateFailsTheExchangeAndTheBridgeOpensAgainOnceItRuns) {
    setenv("KOVRAVME_SIM_LIMIT_MS", "500", 1);
    int32_t handle = open(OpticalBridge, 2, 0);
    unsetenv("KOVRAVME_SIM_LIMIT_MS");
    ASSERT_GE(handle, 0);
    uint32_t value = 0x1357ACE0, back = 0;
    ASSERT_EQ(KOVRAVME_WriteCycle(handle, kMemoryBase, &value, kAm, D32), Success);
    ASSERT_EQ(kill(sim->pid(), SIGSTOP), 0);
    {
        struct Resume {
            pid_t pid;
            ~Resume() { kill(pid, SIGCONT); }
        } resume{sim->pid()};
        EXPECT_EQ(KOVRAVME_ReadCycle(handle, kMemoryBase, &back, kAm, D32), CommError);
        // The handle lock was let go: another thread gets its own failure instead of waiting.
        std::thread other([&] {
            uint16_t reg = 0;
            EXPECT_NE(KOVRAVME_ReadRegister(handle, 1, &reg), Success);
        });
        other.join();
    }
    end(handle);
    handle = open(OpticalBridge, 2, 0);
    ASSERT_GE(handle, 0);
    EXPECT_EQ(KOVRAVME_ReadCycle(handle, kMemoryBase, &back, kAm, D32), Success);
    EXPECT_EQ(back, value);
}

// Takes every block malloc still hands out, largest first, chained through their first bytes.
void* exhaustMemory() {
    void* chain = nullptr;
    for (size_t size = size_t{1} << 24; size >= sizeof(void*); size /= 2) {
        while (void* block = std::malloc(size)) {
            *static_cast<void**>(block) = chain;
            chain = block;
        }
    }
    return chain;
}

void releaseMemory(void* chain) {
    while (chain != nullptr) {
        void* next = *static_cast<void**>(chain);
        std::free(chain);
        chain = next;
    }
}

// In a child process with no memory left, opening a card must return an error code, never throw
// into the C caller; once memory is back the same board opens: the failed open left nothing
// claimed.
TEST_F(OpticalTest, RunningOutOfMemoryIsAnErrorCodeAndLeavesNothingOpen) {
#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
    GTEST_SKIP() << "a sanitizer's allocator ends the process when memory runs out";
#endif
    pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        rlimit old{};
        getrlimit(RLIMIT_AS, &old);
        long pages = 0;
        if (FILE* statm = std::fopen("/proc/self/statm", "r")) {
            if (std::fscanf(statm, "%ld", &pages) != 1) {
                pages = 0;
            }
            std::fclose(statm);
        }
        // A few mappings' worth above today's size, then every byte of it taken.
        rlimit tight = old;
        tight.rlim_cur =
            static_cast<rlim_t>(pages) * static_cast<rlim_t>(sysconf(_SC_PAGESIZE)) + (1 << 20);
        if (pages == 0 || setrlimit(RLIMIT_AS, &tight) != 0) {
            _exit(10);
        }
        void* taken = exhaustMemory();
        int32_t handle = -1;
        ErrorCode starved = KOVRAVME_Init(OpticalBridge, 0, 0, &handle);
        releaseMemory(taken);
        setrlimit(RLIMIT_AS, &old);
        if (starved == Success) {
            _exit(11);
        }
        if (KOVRAVME_Init(OpticalBridge, 0, 0, &handle) != Success) {
            _exit(12);
        }
        uint32_t back = 0;
        ErrorCode read = KOVRAVME_ReadCycle(handle, kMemoryBase, &back, kAm, D32);
        KOVRAVME_End(handle);
        _exit(read == Success ? 0 : 13);
    }
    int status = 0;
    ASSERT_EQ(waitpid(child, &status, 0), child);
    ASSERT_TRUE(WIFEXITED(status)) << "the child died by signal " << WTERMSIG(status);
    EXPECT_EQ(WEXITSTATUS(status), 0);
}

}  // namespace
