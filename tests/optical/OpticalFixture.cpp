#include "OpticalFixture.h"

#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <algorithm>
#include <cstring>

namespace optical {

namespace {

// Sends one knob message to the card and returns its status word.
uint32_t cardMessage(const std::string& path, const std::vector<uint8_t>& message) {
    int fd = socket(AF_UNIX, SOCK_STREAM, 0);
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    std::strncpy(address.sun_path, path.c_str(), sizeof(address.sun_path) - 1);
    uint32_t status = 0;
    if (connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof(address)) != 0 ||
        write(fd, message.data(), message.size()) != static_cast<ssize_t>(message.size()) ||
        read(fd, &status, sizeof(status)) != sizeof(status)) {
        status = 0;
    }
    close(fd);
    return status;
}

}  // namespace

void OpticalTest::SetUp() {
    nimbra::test::SimProcess::Options options;
    options.args = {
        "--optical-links",  "3",
        "--optical-boards", "2",
        "--memory",         std::to_string(kMemoryBase) + ":" + std::to_string(kMemorySize)};
    auto extra = extraArgs();
    options.args.insert(options.args.end(), extra.begin(), extra.end());
    sim = std::make_unique<nimbra::test::SimProcess>(options);
}

void OpticalTest::TearDown() {
    for (int32_t handle : handles) {
        KOVRAVME_End(handle);
    }
    handles.clear();
    sim.reset();
}

int32_t OpticalTest::open(int32_t kind, int16_t link, int16_t board) {
    int32_t handle = -1;
    EXPECT_EQ(KOVRAVME_Init(kind, link, board, &handle), Success)
        << "kind " << kind << " link " << link << " board " << board;
    if (handle >= 0) {
        handles.push_back(handle);
    }
    return handle;
}

void OpticalTest::end(int32_t handle) {
    EXPECT_EQ(KOVRAVME_End(handle), Success);
    handles.erase(std::remove(handles.begin(), handles.end(), handle), handles.end());
}

void OpticalTest::dropNextReplies(uint32_t count, int link) {
    std::vector<uint8_t> message = {'K'};
    for (int shift = 0; shift < 32; shift += 8) {
        message.push_back(static_cast<uint8_t>(count >> shift));
    }
    ASSERT_EQ(cardMessage(sim->dir() + "/pci9054-" + std::to_string(link), message), 512u);
}

void OpticalTest::delayNextReplies(uint32_t count, uint32_t ms, int link) {
    std::vector<uint8_t> message = {'L'};
    for (uint32_t field : {count, ms}) {
        for (int shift = 0; shift < 32; shift += 8) {
            message.push_back(static_cast<uint8_t>(field >> shift));
        }
    }
    ASSERT_EQ(cardMessage(sim->dir() + "/pci9054-" + std::to_string(link), message), 512u);
}

void OpticalTest::raiseInterrupt(uint8_t board, uint8_t level, int link) {
    ASSERT_EQ(cardMessage(sim->dir() + "/pci9054-" + std::to_string(link), {'Q', board, level}),
              512u);
}

std::vector<std::string> OpticalTest::requestsInTrace() const {
    std::vector<std::string> requests;
    for (const auto& line : sim->traceLines()) {
        if (line.rfind("W ", 0) == 0) {
            requests.push_back(line.substr(2));
        }
    }
    return requests;
}

std::vector<uint8_t> pattern(size_t size, uint32_t seed) {
    std::vector<uint8_t> bytes(size);
    uint32_t x = seed * 2654435761u + 1;
    for (auto& b : bytes) {
        x = x * 1103515245u + 12345u;
        b = static_cast<uint8_t>(x >> 16);
    }
    return bytes;
}

}  // namespace optical
