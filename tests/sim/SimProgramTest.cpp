// vmecrate-sim run as a separate process, reached through its USB bridge socket.
#include <gtest/gtest.h>

#include <sys/wait.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <nlohmann/json.hpp>
#include <thread>

#include "Crate.h"
#include "UsbClient.h"
#include "support/SimProcess.h"
#include "support/TempDir.h"

namespace vmesim {
namespace {

using nimbra::test::SimProcess;
using test::Bytes;
using test::bytes;
using test::UsbClient;

std::string socketOf(const SimProcess& sim) {
    return sim.dir() + "/ezusb-0";
}

Bytes exchangeOnce(const SimProcess& sim, const Bytes& request) {
    UsbClient client(socketOf(sim));
    return client.exchange(request);
}

nlohmann::json readJson(const std::string& path) {
    std::ifstream in(path);
    return nlohmann::json::parse(in);
}

TEST(SimProgramTest, ServesUntilSigtermThenRemovesItsSocketAndWritesStats) {
    nimbra::test::TempDir out;
    SimProcess sim({{"--memory", "0x10000000:0x1000", "--stats", out.file("stats.json")}});
    ASSERT_TRUE(std::filesystem::exists(socketOf(sim)));
    exchangeOnce(sim, bytes({0xA1, 0x89, 0x00, 0x00, 0x00, 0x10, 1, 2, 3, 4}));
    EXPECT_EQ(exchangeOnce(sim, bytes({0xA1, 0xC9, 0x00, 0x00, 0x00, 0x10})),
              bytes({1, 2, 3, 4, 0, 0}));
    EXPECT_EQ(sim.stop(), 0);
    EXPECT_FALSE(std::filesystem::exists(socketOf(sim)));
    auto stats = readJson(out.file("stats.json"));
    EXPECT_EQ(stats["exchanges"], 2);
    EXPECT_EQ(stats["overlapping_exchanges"], 0);
    EXPECT_EQ(stats["memory_writes"], 1);
}

TEST(SimProgramTest, TraceHasOneWriteAndOneReplyLinePerRequest) {
    SimProcess sim({{"--memory", "0:0x100"}});
    {
        UsbClient client(socketOf(sim));
        client.bulkWrite(bytes({0x8A, 0x00, 0xF0, 0x00}));  // register write: no reply
        client.exchange(bytes({0xA1, 0xC9, 0x00, 0x10, 0x00, 0x00}));
    }
    exchangeOnce(sim, bytes({0x8A, 0x40}));
    EXPECT_EQ(sim.traceLines(), (std::vector<std::string>{
                                    "W 8a00f000",
                                    "R ",
                                    "W a1c900100000",
                                    "R 000000002000",
                                    "W 8a40",
                                    "R f0000000",
                                }));
}

TEST(SimProgramTest, RepliesAreReadInPiecesAndAShortReadEndsThem) {
    SimProcess sim({{"--memory", "0:0x20000"}});
    UsbClient client(socketOf(sim));
    // 30719 D16 items: 61438 data bytes plus the status word fill exactly one 61440-byte read.
    client.bulkWrite(bytes({0x94, 0xCB, 0xFF, 0x77, 0x00, 0x00, 0x00, 0x00}));
    EXPECT_EQ(client.bulkRead(61440).size(), 61440u);
    EXPECT_EQ(client.bulkRead(61440).size(), 0u);
    // A smaller maximum takes the front of the queue, the rest stays for the next read.
    client.bulkWrite(bytes({0xA1, 0xC9, 0x00, 0x00, 0x00, 0x00}));
    EXPECT_EQ(client.bulkRead(4), bytes({0, 0, 0, 0}));
    EXPECT_EQ(client.bulkRead(4), bytes({0, 0}));
}

TEST(SimProgramTest, BrokenFramesCloseTheConnectionOnly) {
    SimProcess sim;
    const std::vector<Bytes> broken = {
        bytes({'W', 1, 2, 0, 0, 0, 0x82, 0x40}),              // wrong write pipe
        bytes({'R', 0, 4, 0, 0, 0}),                          // wrong read pipe
        bytes({'R', 2, 0x01, 0xF0, 0, 0}),                    // more than 61440
        bytes({'X', 0, 0, 0, 0, 0}),                          // unknown kind
        bytes({'W', 0, 4, 0, 0, 0, 0xA6, 0xC9, 0x00, 0x00}),  // not a bridge request
    };
    for (const auto& frame : broken) {
        UsbClient client(socketOf(sim));
        client.sendRaw(frame);
        EXPECT_TRUE(client.peerClosed()) << test::hex(frame);
    }
    EXPECT_EQ(exchangeOnce(sim, bytes({0x82, 0x40})), bytes({0x05, 0x01, 0x00, 0x00}));
}

TEST(SimProgramTest, OverlappingConnectionsAreCountedAndSequentialOnesAreNot) {
    nimbra::test::TempDir out;
    SimProcess sim({{"--stats", out.file("stats.json")}});
    for (int i = 0; i < 20; ++i) {
        exchangeOnce(sim, bytes({0x82, 0x40}));
    }
    {
        UsbClient a(socketOf(sim));
        a.exchange(bytes({0x82, 0x40}));
        UsbClient b(socketOf(sim));
        b.exchange(bytes({0x82, 0x40}));
    }
    sim.stop();
    auto stats = readJson(out.file("stats.json"));
    EXPECT_EQ(stats["exchanges"], 22);
    EXPECT_EQ(stats["overlapping_exchanges"], 1);
}

TEST(SimProgramTest, AWriteLeftByAClosedConnectionRunsBeforeTheNextConnection) {
    // The library sends a register write and closes at once; the next exchange, from anyone,
    // must see it.
    nimbra::test::TempDir out;
    SimProcess sim({{"--stats", out.file("stats.json")}});
    for (int i = 0; i < 200; ++i) {
        {
            UsbClient writer(socketOf(sim));
            writer.bulkWrite(bytes({0x9E, 0x00, i & 0xFF, i >> 8}));
        }
        ASSERT_EQ(exchangeOnce(sim, bytes({0x9E, 0x40})), bytes({i & 0xFF, i >> 8, 0, 0})) << i;
    }
    sim.stop();
    EXPECT_EQ(readJson(out.file("stats.json"))["overlapping_exchanges"], 0);
}

TEST(SimProgramTest, PresetInterruptLevelsAnswerAcknowledgeWithTheirLevel) {
    SimProcess sim({{"--irq", "0x41"}});
    EXPECT_EQ(exchangeOnce(sim, bytes({0x85, 0x40})), bytes({0x41, 0x00, 0x00, 0x00}));
    EXPECT_EQ(exchangeOnce(sim, bytes({0xA8, 0xC0, 0x0E, 0, 0, 0})), bytes({7, 0, 0, 0, 0, 0}));
    EXPECT_EQ(exchangeOnce(sim, bytes({0x85, 0x40})), bytes({0x01, 0x00, 0x00, 0x00}));
}

TEST(SimProgramTest, DelayHoldsBackEveryReply) {
    SimProcess sim({{"--delay-us", "200000"}});
    auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(exchangeOnce(sim, bytes({0x82, 0x40})), bytes({0x05, 0x01, 0x00, 0x00}));
    EXPECT_GE(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(200));
}

TEST(SimProgramTest, AClientThatLeavesDuringADelayDoesNotHoldUpTheNext) {
    SimProcess sim({{"--delay-us", "5000000"}});
    {
        UsbClient dying(socketOf(sim));
        dying.bulkWrite(bytes({0x82, 0x40}));
        dying.sendRaw(bytes({'R', 2, 0x00, 0xF0, 0, 0}));
    }
    UsbClient next(socketOf(sim));
    next.bulkWrite(bytes({0x9E, 0x00, 0x01, 0x00}));  // a register write: no reply to delay
    // Its trace lines appear long before the dead client's delay would have run out.
    auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(3);
    while (sim.traceLines().size() < 4 && std::chrono::steady_clock::now() < deadline) {
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    ASSERT_EQ(sim.traceLines().size(), 4u);
    EXPECT_EQ(sim.traceLines()[2], "W 9e000100");
}

TEST(SimProgramTest, CrateRunsInsideAProcessAndStopsCleanly) {
    nimbra::test::TempDir dir;
    Options options;
    options.dir = dir.file("crate");
    options.memories.push_back({0x2000, 0x100});
    Crate crate(options);
    crate.start();
    const std::string socket = options.dir + "/ezusb-0";
    {
        UsbClient client(socket);
        EXPECT_EQ(client.exchange(bytes({0xA1, 0x89, 0xFC, 0x20, 0x00, 0x00, 1, 2, 3, 4})),
                  bytes({0x00, 0x00}));
        // 0x2100 is just past the window.
        EXPECT_EQ(client.exchange(bytes({0xA1, 0x89, 0x00, 0x21, 0x00, 0x00, 1, 2, 3, 4})),
                  bytes({0x20, 0x00}));
    }
    crate.stop();
    EXPECT_FALSE(std::filesystem::exists(socket));
    auto stats = crate.stats();
    EXPECT_EQ(stats["exchanges"], 1u);
    EXPECT_EQ(stats["memory_writes"], 1u);
    EXPECT_EQ(stats["vme_bus_errors"], 1u);
}

TEST(SimProgramTest, FlashFileKeepsAPageAcrossARestart) {
    nimbra::test::TempDir keep;
    const std::string flash = keep.file("flash.bin");
    // Page 2, bytes 0xA0.. : enable, USB byte stream of the write command, disable.
    Bytes program = {0x03, 0x00, 0x82, 0x01, 0x00, 0x01, 0x04, 0x01, 0x00, 0x01};
    for (int i = 0; i < 264; ++i) {
        program.push_back(uint8_t(0xA0 + i));
        program.push_back(i < 263 ? 0x01 : 0x00);
    }
    {
        SimProcess sim({{"--flash", flash}});
        UsbClient client(socketOf(sim));
        client.bulkWrite(bytes({0x84, 0x00, 0x01, 0x00}));
        client.bulkWrite(program);
        client.bulkWrite(bytes({0x84, 0x00, 0x00, 0x00}));
        client.exchange(bytes({0x82, 0x40}));  // waits until the above ran
    }
    SimProcess sim({{"--flash", flash}});
    UsbClient client(socketOf(sim));
    client.bulkWrite(bytes({0x84, 0x00, 0x01, 0x00}));
    client.bulkWrite(bytes({0x03, 0x00, 0xD2, 0x01, 0x00, 0x01, 0x04, 0x01, 0x00, 0x01, 0x00, 0x01,
                            0x00, 0x01, 0x00, 0x01, 0x00, 0x00}));
    Bytes reply = client.exchange(bytes({0x03, 0x40}));
    ASSERT_EQ(reply.size(), 130u);
    for (int i = 0; i < 64; ++i) {
        EXPECT_EQ(reply[2 * i], uint8_t(0xA0 + i)) << i;
    }
}

TEST(SimProgramTest, UnusableCommandLineExitsWithUsage) {
    std::string command = SimProcess::binaryPath() + " --memory 12 2>/dev/null";
    int status = std::system(command.c_str());
    EXPECT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), 2);
}

}  // namespace
}  // namespace vmesim
