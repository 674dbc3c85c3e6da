// The crate's sockets against clients that hold many connections or none busy: running out of
// descriptors, idle connections, and the number of threads that serve them.
#include <gtest/gtest.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <nlohmann/json.hpp>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "support/SimProcess.h"
#include "support/TempDir.h"

namespace vmesim {
namespace {

using nimbra::test::SimProcess;
using Bytes = std::vector<uint8_t>;

constexpr uint32_t kSuccess = 512;

// A client connection that gives up after 20 s instead of hanging the test when nobody serves it.
class Client {
  public:
    explicit Client(const std::string& path, bool block = true) {
        fd_ = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC | (block ? 0 : SOCK_NONBLOCK), 0);
        sockaddr_un address{};
        address.sun_family = AF_UNIX;
        std::strncpy(address.sun_path, path.c_str(), sizeof(address.sun_path) - 1);
        connected_ = ::connect(fd_, reinterpret_cast<sockaddr*>(&address), sizeof(address)) == 0;
        timeval limit{20, 0};
        ::setsockopt(fd_, SOL_SOCKET, SO_RCVTIMEO, &limit, sizeof(limit));
    }
    ~Client() { ::close(fd_); }
    Client(const Client&) = delete;
    Client& operator=(const Client&) = delete;

    bool connected() const { return connected_; }
    bool send(const Bytes& bytes) {
        return ::send(fd_, bytes.data(), bytes.size(), MSG_NOSIGNAL) ==
               static_cast<ssize_t>(bytes.size());
    }
    // Exactly n bytes, or fewer when the peer closed or the wait ran out.
    Bytes receive(size_t n) {
        Bytes out(n);
        size_t got = 0;
        while (got < n) {
            ssize_t r = ::recv(fd_, out.data() + got, n - got, 0);
            if (r <= 0) {
                break;
            }
            got += static_cast<size_t>(r);
        }
        out.resize(got);
        return out;
    }
    // True when the peer closed the connection (end of stream) within the wait.
    bool closedByPeer() {
        uint8_t byte = 0;
        return ::recv(fd_, &byte, 1, 0) == 0;
    }

  private:
    int fd_ = -1;
    bool connected_ = false;
};

uint32_t u32(const Bytes& b, size_t at) {
    return uint32_t(b[at]) | uint32_t(b[at + 1]) << 8 | uint32_t(b[at + 2]) << 16 |
           uint32_t(b[at + 3]) << 24;
}

// The card's identity: status and the fixed part of the answer.
bool cardAnswersIdentity(const std::string& path) {
    Client c(path);
    if (!c.connected() || !c.send({'I'})) {
        return false;
    }
    Bytes answer = c.receive(11);
    return answer.size() == 11 && u32(answer, 0) == kSuccess;
}

// One USB exchange: a read of bridge register 0 (status and version), answered with data and
// the status word.
bool usbAnswers(const std::string& path) {
    Client c(path);
    const Bytes request = {0xA1, 0xC9, 0x00, 0x00, 0x00, 0x10};
    Bytes frame = {'W', 0, uint8_t(request.size()), 0, 0, 0};
    frame.insert(frame.end(), request.begin(), request.end());
    Bytes read = {'R', 2, 0x00, 0xF0, 0, 0};
    frame.insert(frame.end(), read.begin(), read.end());
    if (!c.connected() || !c.send(frame)) {
        return false;
    }
    Bytes length = c.receive(4);
    return length.size() == 4 && u32(length, 0) > 0;
}

// One read of one byte from a chip address on the I2C adapter: any answer byte shows service.
bool i2cAnswers(const std::string& path) {
    Client c(path);
    return c.connected() && c.send({'R', 0, 0x48, 1, 0}) && c.receive(1).size() == 1;
}

nlohmann::json readJson(const std::string& path) {
    std::ifstream in(path);
    return nlohmann::json::parse(in);
}

long cpuTicks(pid_t pid) {
    std::ifstream in("/proc/" + std::to_string(pid) + "/stat");
    std::string text((std::istreambuf_iterator<char>(in)), {});
    std::istringstream fields(text.substr(text.rfind(')') + 2));
    std::string skip;
    for (int i = 0; i < 11; ++i) {
        fields >> skip;  // state .. cmajflt
    }
    long user = 0, system = 0;
    fields >> user >> system;
    return user + system;
}

long threadCount(pid_t pid) {
    long n = 0;
    for ([[maybe_unused]] const auto& entry :
         std::filesystem::directory_iterator("/proc/" + std::to_string(pid) + "/task")) {
        ++n;
    }
    return n;
}

TEST(ServerLimitsTest, AcceptingOutlivesRunningOutOfDescriptorsWithoutSpinning) {
    nimbra::test::TempDir out;
    SimProcess::Options options;
    options.args = {"--optical-links",
                    "1",
                    "--i2c",
                    "--memory",
                    "0x10000000:0x1000",
                    "--idle-timeout-ms",
                    "0",
                    "--stats",
                    out.file("stats.json")};
    options.trace = false;
    SimProcess sim(options);
    const std::string card = sim.dir() + "/pci9054-0";
    const std::string usb = sim.dir() + "/ezusb-0";
    const std::string i2c = sim.dir() + "/i2c-0";
    rlimit few{48, 48};
    ASSERT_EQ(::prlimit(sim.pid(), RLIMIT_NOFILE, &few, nullptr), 0) << std::strerror(errno);

    // More connections than the simulator has descriptors, on all three sockets.
    std::vector<std::unique_ptr<Client>> crowd;
    for (int i = 0; i < 150; ++i) {
        crowd.push_back(std::make_unique<Client>(i % 3 == 0   ? card
                                                 : i % 3 == 1 ? usb
                                                              : i2c,
                                                 false));
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    // Out of descriptors, with connections waiting: the simulator must rest, not spin.
    const long ticksPerSecond = ::sysconf(_SC_CLK_TCK);
    const long cpuBefore = cpuTicks(sim.pid());
    const auto wallBefore = std::chrono::steady_clock::now();
    std::this_thread::sleep_for(std::chrono::seconds(1));
    const double cpu = double(cpuTicks(sim.pid()) - cpuBefore) / double(ticksPerSecond);
    const double wall =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - wallBefore).count();
    EXPECT_LT(cpu, 0.2 * wall) << cpu << " s of CPU in " << wall << " s";

    // Once the crowd leaves, every socket serves new clients again.
    crowd.clear();
    EXPECT_TRUE(cardAnswersIdentity(card));
    EXPECT_TRUE(usbAnswers(usb));
    EXPECT_TRUE(i2cAnswers(i2c));
    EXPECT_EQ(sim.stop(), 0);
    auto stats = readJson(out.file("stats.json"));
    EXPECT_GT(stats.value("accept_pauses", 0), 0);
    EXPECT_GT(stats.value("card_accept_pauses", 0), 0);
}

TEST(ServerLimitsTest, IdleConnectionsAreClosedButAnOpeningOfTheCardStays) {
    nimbra::test::TempDir out;
    SimProcess::Options options;
    options.args = {"--optical-links",     "1", "--idle-timeout-ms", "300", "--stats",
                    out.file("stats.json")};
    options.trace = false;
    SimProcess sim(options);
    const std::string card = sim.dir() + "/pci9054-0";

    Client opening(card);
    ASSERT_TRUE(opening.send({'O'}));
    Bytes opened = opening.receive(8);
    ASSERT_EQ(opened.size(), 8u);
    ASSERT_EQ(u32(opened, 0), kSuccess);

    Client idleCard(card);
    Client idleUsb(sim.dir() + "/ezusb-0");
    Client halfMessage(card);
    ASSERT_TRUE(halfMessage.send({'C'}));  // the offset never follows
    EXPECT_TRUE(idleCard.closedByPeer());
    EXPECT_TRUE(idleUsb.closedByPeer());
    EXPECT_TRUE(halfMessage.closedByPeer());

    // The opening is the card's device handle: it outlives the idle limit.
    ASSERT_TRUE(opening.send({'V'}));
    Bytes version = opening.receive(7);
    ASSERT_EQ(version.size(), 7u);
    EXPECT_EQ(u32(version, 0), kSuccess);
    EXPECT_EQ(version[4], 6);

    EXPECT_EQ(sim.stop(), 0);
    auto stats = readJson(out.file("stats.json"));
    EXPECT_EQ(stats.value("idle_connections_closed", 0), 1);
    EXPECT_GE(stats.value("card_idle_connections_closed", 0), 1);
}

TEST(ServerLimitsTest, ManyConnectionsAreServedByABoundedNumberOfThreads) {
    SimProcess::Options options;
    options.args = {"--optical-links", "1", "--i2c"};
    options.trace = false;
    SimProcess sim(options);
    const std::string card = sim.dir() + "/pci9054-0";
    const std::string i2c = sim.dir() + "/i2c-0";
    const long idleThreads = threadCount(sim.pid());

    std::vector<std::unique_ptr<Client>> clients;
    for (int i = 0; i < 300; ++i) {
        clients.push_back(std::make_unique<Client>(card));
        ASSERT_TRUE(clients.back()->connected()) << i;
        ASSERT_TRUE(clients.back()->send({'I'}));
    }
    for (auto& c : clients) {
        Bytes answer = c->receive(11);
        ASSERT_EQ(answer.size(), 11u);
        EXPECT_EQ(u32(answer, 0), kSuccess);
    }
    // 300 idle openings of the I2C adapter on top.
    std::vector<std::unique_ptr<Client>> openings;
    for (int i = 0; i < 300; ++i) {
        openings.push_back(std::make_unique<Client>(i2c));
    }
    ASSERT_TRUE(openings.back()->send({'R', 0, 0x48, 1, 0}));
    openings.back()->receive(1);
    // All still connected: the card's pool and the adapter's limit at most on top of the idle ones.
    const long threads = threadCount(sim.pid());
    EXPECT_LE(threads, idleThreads + 32 + 32) << threads << " threads, " << idleThreads << " idle";
    EXPECT_TRUE(cardAnswersIdentity(card));
    openings.clear();
    EXPECT_TRUE(i2cAnswers(i2c));
}

}  // namespace
}  // namespace vmesim
