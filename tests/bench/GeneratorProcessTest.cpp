#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <thread>

#include "instruments/Instrument.h"
#include "instruments/SimGenerator.h"
#include "support/SimProcess.h"

namespace {

using nimbra::test::SimProcess;

std::vector<std::string> logLines(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::vector<std::string> lines;
    for (std::string line; std::getline(in, line);) {
        lines.push_back(line);
    }
    return lines;
}

// Waits until the log holds `count` lines: the generator logs on its own thread.
std::vector<std::string> awaitLog(const std::string& path, size_t count) {
    for (int i = 0; i < 500; ++i) {
        auto lines = logLines(path);
        if (lines.size() >= count) {
            return lines;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    return logLines(path);
}

int portOf(const std::string& resource) {
    const auto end = resource.rfind("::SOCKET");
    const auto start = resource.rfind("::", end - 1) + 2;
    return std::stoi(resource.substr(start, end - start));
}

// A query and its answer on a connection of its own.
std::string query(int port, const std::string& text) {
    int fd = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    address.sin_port = htons(static_cast<uint16_t>(port));
    if (::connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) {
        ::close(fd);
        return "no connection";
    }
    ::send(fd, text.data(), text.size(), 0);
    std::string answer;
    char c;
    while (::recv(fd, &c, 1, 0) == 1 && c != '\n') {
        answer += c;
    }
    ::close(fd);
    return answer;
}

TEST(GeneratorProcess, TheSearchFindsItAndItLogsEveryLineInOrder) {
    nimbra::test::TempDir logDir;
    const std::string log = logDir.file("generator.log");
    SimProcess sim(SimProcess::Options{{"--board", "--generator", "--generator-log", log}});

    const std::string resource = tarvo::simulatedGeneratorResource();
    ASSERT_EQ(resource.rfind("TCPIP0::127.0.0.1::", 0), 0u) << resource;
    std::string error;
    auto manager = tarvo::openDefaultResourceManager(error);
    ASSERT_TRUE(manager) << error;
    auto names = manager->findResources("?*");
    EXPECT_NE(std::find(names.begin(), names.end(), resource), names.end());

    {
        auto generator = manager->open(resource, error);
        ASSERT_TRUE(generator) << error;
        for (const char* line : {"*RST\n", "VOLT 0.8\n", "OUTP ON\n", "BOGUS 1\n", "FREQ 2kHz\n"}) {
            ASSERT_TRUE(generator->write(line, error)) << error;
        }
        ASSERT_TRUE(generator->write("no end", error)) << error;
    }
    EXPECT_EQ(awaitLog(log, 6), (std::vector<std::string>{"*RST", "VOLT 0.8", "OUTP ON", "BOGUS 1",
                                                          "FREQ 2kHz", "# unterminated: no end"}));
    // The unknown command was taken as an instrument takes it, and the rest applied.
    const int port = portOf(resource);
    EXPECT_EQ(query(port, "SYST:ERR?\n"), "-113,\"Undefined header\"");
    EXPECT_EQ(query(port, "VOLT?;OUTP?;FREQ?\n"), "+8.000000E-01;1;+2.000000E+03");
    EXPECT_EQ(query(port, "*IDN?\n"), "Nimbra,Virtual Pulse Generator,0,1.0");

    sim.stop();
    EXPECT_FALSE(std::filesystem::exists(std::filesystem::path(sim.dir()) / "generator-resource"));
    EXPECT_FALSE(manager->open(resource, error));
    EXPECT_NE(error.find("refused"), std::string::npos) << error;
}

}  // namespace
