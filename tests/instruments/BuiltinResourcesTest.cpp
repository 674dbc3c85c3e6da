#include <arpa/inet.h>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <stdlib.h>
#include <sys/socket.h>
#include <termios.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <sstream>

#include "instruments/BuiltinResourceManager.h"
#include "support/TempDir.h"

namespace tarvo {
namespace {

namespace fs = std::filesystem;
using nimbra::test::TempDir;

std::string readAll(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
}

void touch(const fs::path& path, const std::string& text = "") {
    fs::create_directories(path.parent_path());
    std::ofstream(path) << text;
}

// A /dev and a /sys/class/usbmisc with two usbtmc instruments (one whose ids the kernel does not
// show), two USB serial adapters and a serial port of the mainboard.
struct FakeDevices {
    TempDir dir;
    DeviceFolders folders{(dir.path() / "dev").string(), (dir.path() / "usbmisc").string()};

    FakeDevices() {
        for (const char* name : {"usbtmc0", "usbtmc1", "ttyUSB0", "ttyACM1", "ttyS0", "null"}) {
            touch(fs::path(folders.dev) / name);
        }
        // usbmisc/usbtmc0/device -> the interface folder; the ids sit in its parent.
        const fs::path usbDevice = dir.path() / "sys" / "1-1";
        touch(usbDevice / "idVendor", "0957\n");
        touch(usbDevice / "idProduct", "0407\n");
        touch(usbDevice / "serial", "MY44001234\n");
        fs::create_directories(usbDevice / "1-1:1.0");
        fs::create_directories(fs::path(folders.usbmisc) / "usbtmc0");
        fs::create_directory_symlink(usbDevice / "1-1:1.0",
                                     fs::path(folders.usbmisc) / "usbtmc0" / "device");
    }
};

TEST(BuiltinResources, SearchListsDeviceFilesAndExtraNames) {
    FakeDevices devices;
    BuiltinResourceManager manager({"TCPIP0::127.0.0.1::5025::SOCKET", "ASRL/dev/ttyUSB0::INSTR"},
                                   devices.folders);
    const std::string dev = devices.folders.dev;
    const std::vector<std::string> expected = {
        "USB0::0x0957::0x0407::MY44001234::INSTR", "USB0::" + dev + "/usbtmc1::INSTR",
        "ASRL" + dev + "/ttyUSB0::INSTR",          "ASRL" + dev + "/ttyACM1::INSTR",
        "TCPIP0::127.0.0.1::5025::SOCKET",         "ASRL/dev/ttyUSB0::INSTR",
    };
    EXPECT_EQ(manager.findResources("?*"), expected);
    EXPECT_EQ(manager.findResources("TCPIP?*"),
              std::vector<std::string>{"TCPIP0::127.0.0.1::5025::SOCKET"});
    EXPECT_TRUE(manager.findResources("GPIB?*").empty());
}

TEST(BuiltinResources, UsbInstrumentsOpenByIdsOrByFile) {
    FakeDevices devices;
    BuiltinResourceManager manager({}, devices.folders);
    const std::string dev = devices.folders.dev;
    std::string error;
    {
        auto byIds = manager.open("USB0::0x0957::0x0407::MY44001234::INSTR", error);
        ASSERT_TRUE(byIds) << error;
        ASSERT_TRUE(byIds->write("*RST\n", error)) << error;
        ASSERT_TRUE(byIds->write("VOLT 0.8\n", error)) << error;
    }
    EXPECT_EQ(readAll(dev + "/usbtmc0"), "*RST\nVOLT 0.8\n");
    {
        auto byFile = manager.open("USB0::" + dev + "/usbtmc1::INSTR", error);
        ASSERT_TRUE(byFile) << error;
        ASSERT_TRUE(byFile->write("OUTP ON\n", error));
    }
    EXPECT_EQ(readAll(dev + "/usbtmc1"), "OUTP ON\n");

    EXPECT_FALSE(manager.open("USB0::0x0957::0x0407::OTHER::INSTR", error));
    EXPECT_NE(error.find("no usbtmc device"), std::string::npos) << error;
    EXPECT_FALSE(manager.open("USB0::" + dev + "/usbtmc7::INSTR", error));
    EXPECT_NE(error.find("usbtmc7"), std::string::npos) << error;
    EXPECT_NE(error.find("No such file"), std::string::npos) << error;
}

TEST(BuiltinResources, SocketWritesReachTheListenerAndRefusalsSayWhy) {
    int listener = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    ASSERT_EQ(::bind(listener, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
    ASSERT_EQ(::listen(listener, 1), 0);
    socklen_t length = sizeof address;
    ::getsockname(listener, reinterpret_cast<sockaddr*>(&address), &length);
    const int port = ntohs(address.sin_port);

    BuiltinResourceManager manager;
    std::string error;
    auto instrument =
        manager.open("TCPIP0::127.0.0.1::" + std::to_string(port) + "::SOCKET", error);
    ASSERT_TRUE(instrument) << error;
    int peer = ::accept(listener, nullptr, nullptr);
    ASSERT_GE(peer, 0);
    ASSERT_TRUE(instrument->write("FREQ 1000\n", error)) << error;
    instrument.reset();  // closing ends the stream
    std::string received;
    char buffer[64];
    for (ssize_t n; (n = ::recv(peer, buffer, sizeof buffer, 0)) > 0;) {
        received.append(buffer, static_cast<size_t>(n));
    }
    EXPECT_EQ(received, "FREQ 1000\n");
    ::close(peer);
    ::close(listener);

    // Nobody listens on the port any more.
    EXPECT_FALSE(manager.open("TCPIP0::127.0.0.1::" + std::to_string(port) + "::SOCKET", error));
    EXPECT_NE(error.find("refused"), std::string::npos) << error;
    EXPECT_FALSE(manager.open("TCPIP0::no-such-host.invalid::5025::SOCKET", error));
    EXPECT_NE(error.find("no-such-host.invalid"), std::string::npos) << error;
}

TEST(BuiltinResources, SerialPortsGetTheirLineSettings) {
    int master = ::posix_openpt(O_RDWR | O_NOCTTY);
    ASSERT_GE(master, 0);
    ASSERT_EQ(::grantpt(master), 0);
    ASSERT_EQ(::unlockpt(master), 0);
    const std::string slave = ::ptsname(master);

    BuiltinResourceManager manager;
    std::string error;
    // A pseudo-terminal keeps its frame bits whatever is asked; its speed shows the settings.
    for (auto [suffix, speed] :
         {std::pair{std::string(""), B9600}, std::pair{std::string(",115200,7E1"), B115200}}) {
        auto port = manager.open("ASRL" + slave + suffix + "::INSTR", error);
        ASSERT_TRUE(port) << error;
        termios tio{};
        int fd = ::open(slave.c_str(), O_RDWR | O_NOCTTY);
        ASSERT_EQ(::tcgetattr(fd, &tio), 0);
        EXPECT_EQ(::cfgetospeed(&tio), speed) << suffix;
        ::close(fd);
        ASSERT_TRUE(port->write("*IDN?\n", error)) << error;
        char buffer[16] = {};
        ASSERT_EQ(::read(master, buffer, sizeof buffer), 6);
        EXPECT_EQ(std::string(buffer, 6), "*IDN?\n");
    }
    ::close(master);

    EXPECT_FALSE(manager.open("ASRL/dev/null::INSTR", error));
    EXPECT_NE(error.find("not a serial port"), std::string::npos) << error;
}

}  // namespace
}  // namespace tarvo
