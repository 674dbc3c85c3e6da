#include <gtest/gtest.h>

#include "instruments/ResourceName.h"
#include "instruments/VisaExpression.h"

namespace tarvo {
namespace {

TEST(VisaExpression, MatchesLikeTheResourceSearch) {
    EXPECT_TRUE(matchesVisaExpression("?*", "TCPIP0::127.0.0.1::5025::SOCKET"));
    EXPECT_TRUE(matchesVisaExpression("?*", "A"));
    EXPECT_TRUE(matchesVisaExpression("?*INSTR", "ASRL/dev/ttyUSB0::INSTR"));
    EXPECT_FALSE(matchesVisaExpression("?*INSTR", "TCPIP0::host::5025::SOCKET"));
    EXPECT_TRUE(matchesVisaExpression("usb?*", "USB0::0x0957::0x0407::INSTR"));  // any case
    EXPECT_TRUE(matchesVisaExpression("ASRL[0-9]+::INSTR", "ASRL12::INSTR"));
    EXPECT_FALSE(matchesVisaExpression("ASRL[0-9]+::INSTR", "ASRL::INSTR"));
    EXPECT_TRUE(matchesVisaExpression("GPIB[^0]::?*", "GPIB1::3::INSTR"));
    EXPECT_FALSE(matchesVisaExpression("GPIB[^0]::?*", "GPIB0::3::INSTR"));
    EXPECT_FALSE(matchesVisaExpression("*", "x"));  // a repeat needs something to repeat
}

TEST(ResourceName, SocketNamesGiveHostAndPort) {
    std::string error;
    auto a = parseResourceName("TCPIP0::192.168.1.20::5025::SOCKET", error);
    ASSERT_TRUE(a) << error;
    auto socket = std::get<SocketResource>(*a);
    EXPECT_EQ(socket.host, "192.168.1.20");
    EXPECT_EQ(socket.port, 5025);
    EXPECT_TRUE(parseResourceName("tcpip::localhost::80::socket", error));
    for (const char* bad :
         {"TCPIP0::host::0::SOCKET", "TCPIP0::host::70000::SOCKET", "TCPIP0::host::x::SOCKET",
          "TCPIP0::host::5025::INSTR", "TCPIP0::::5025::SOCKET"}) {
        EXPECT_FALSE(parseResourceName(bad, error)) << bad;
        EXPECT_FALSE(error.empty());
    }
}

TEST(ResourceName, SerialNamesTakeNumbersPathsAndSettings) {
    std::string error;
    auto port = std::get<SerialResource>(*parseResourceName("ASRL1::INSTR", error));
    EXPECT_EQ(port.device, "/dev/ttyS0");
    EXPECT_EQ(port.baud, 9600u);
    EXPECT_EQ(port.dataBits, 8u);
    EXPECT_EQ(port.parity, 'N');
    EXPECT_EQ(port.stopBits, 1u);
    EXPECT_EQ(std::get<SerialResource>(*parseResourceName("ASRL/dev/ttyUSB0::INSTR", error)).device,
              "/dev/ttyUSB0");
    EXPECT_EQ(std::get<SerialResource>(*parseResourceName("ASRLttyACM1", error)).device,
              "/dev/ttyACM1");
    auto set =
        std::get<SerialResource>(*parseResourceName("ASRL/dev/ttyUSB1,115200,7e2::INSTR", error));
    EXPECT_EQ(set.device, "/dev/ttyUSB1");
    EXPECT_EQ(set.baud, 115200u);
    EXPECT_EQ(set.dataBits, 7u);
    EXPECT_EQ(set.parity, 'E');
    EXPECT_EQ(set.stopBits, 2u);
    for (const char* bad : {"ASRL0::INSTR", "ASRL::INSTR", "ASRL1,fast::INSTR",
                            "ASRL1,9600,9N1::INSTR", "ASRL1::SOCKET"}) {
        EXPECT_FALSE(parseResourceName(bad, error)) << bad;
    }
    EXPECT_EQ(serialResourceName("/dev/ttyUSB0"), "ASRL/dev/ttyUSB0::INSTR");
}

TEST(ResourceName, UsbNamesGiveIdsOrADeviceFile) {
    std::string error;
    auto ids =
        std::get<UsbtmcResource>(*parseResourceName("USB0::0x0957::0x0407::MY44::INSTR", error));
    EXPECT_EQ(ids.vendor, 0x0957);
    EXPECT_EQ(ids.product, 0x0407);
    EXPECT_EQ(ids.serial, "MY44");
    EXPECT_TRUE(ids.devicePath.empty());
    auto any = std::get<UsbtmcResource>(*parseResourceName("USB::2391::1031::INSTR", error));
    EXPECT_EQ(any.vendor, 2391);
    EXPECT_TRUE(any.serial.empty());
    auto file = std::get<UsbtmcResource>(*parseResourceName("USB0::/dev/usbtmc3::INSTR", error));
    EXPECT_EQ(file.devicePath, "/dev/usbtmc3");
    EXPECT_FALSE(parseResourceName("USB0::0x10000::1::INSTR", error));
    EXPECT_FALSE(parseResourceName("USB0::0x0957::0x0407::MY44", error));
    EXPECT_FALSE(parseResourceName("GPIB0::3::INSTR", error));
    EXPECT_NE(error.find("unknown kind"), std::string::npos);
}

}  // namespace
}  // namespace tarvo
