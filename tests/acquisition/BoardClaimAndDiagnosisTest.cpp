#include <gtest/gtest.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <cstring>
#include <filesystem>
#include <fstream>

#include "KOVRAVMElib.h"
#include "acquisition/BoardClaim.h"
#include "acquisition/BridgeDiagnosis.h"
#include "support/TempDir.h"

namespace tarvo {
namespace {

namespace fs = std::filesystem;

TEST(BoardClaimTest, OneHolderPerBoardAndTheRefusalNamesIt) {
    nimbra::test::TempDir dir;
    const std::string folder = dir.path().string();
    std::string refusal;
    auto first = BoardClaim::take(folder, UsbBridge, 0, 0x03030000, refusal);
    ASSERT_TRUE(first) << refusal;
    EXPECT_EQ(fs::path(first->path()).filename(), "NIMBRA_RUN_0_0_03030000.lock");

    EXPECT_FALSE(BoardClaim::take(folder, UsbBridge, 0, 0x03030000, refusal));
    EXPECT_EQ(refusal.rfind("The board 0x03030000 is in use by another run (pid " +
                                std::to_string(getpid()) + ", ",
                            0),
              0u)
        << refusal;
    EXPECT_NE(refusal.find("\nLock file: " + first->path()), std::string::npos);

    // Other boards, links and kinds are other claims.
    EXPECT_TRUE(BoardClaim::take(folder, UsbBridge, 0, 0x04040000, refusal));
    EXPECT_TRUE(BoardClaim::take(folder, UsbBridge, 1, 0x03030000, refusal));
    EXPECT_TRUE(BoardClaim::take(folder, OpticalBridge, 0, 0x03030000, refusal));

    // A claim moved keeps the board; one destroyed frees it.
    BoardClaim moved = std::move(*first);
    first.reset();
    EXPECT_FALSE(BoardClaim::take(folder, UsbBridge, 0, 0x03030000, refusal));
    { BoardClaim gone = std::move(moved); }
    EXPECT_TRUE(BoardClaim::take(folder, UsbBridge, 0, 0x03030000, refusal)) << refusal;
}

TEST(BoardClaimTest, AnUnusableClaimFileRefusesTheRun) {
    nimbra::test::TempDir dir;
    std::string refusal;
    EXPECT_FALSE(BoardClaim::take(dir.file("missing-folder"), UsbBridge, 0, 0x1000, refusal));
    EXPECT_NE(refusal.find("is unusable\nNo such file or directory"), std::string::npos) << refusal;

    // A link planted in the shared folder is never followed.
    fs::create_symlink(dir.file("elsewhere"),
                       dir.path() / BoardClaim::fileName(UsbBridge, 0, 0x1000));
    EXPECT_FALSE(BoardClaim::take(dir.path().string(), UsbBridge, 0, 0x1000, refusal));
    EXPECT_NE(refusal.find("is unusable"), std::string::npos) << refusal;
    EXPECT_FALSE(fs::exists(dir.file("elsewhere")));
}

class BridgeDiagnosisTest : public ::testing::Test {
  protected:
    BridgeDiagnosisTest() {
        in.bridgeKind = UsbBridge;
        in.result = CommError;
        in.lockPath = dir.file("KOVRAX4410_LCK_00");
        in.usbDevices = dir.file("usb");
        in.vendorId = 0x04B4;
        in.productId = 0x8613;
        fs::create_directory(in.usbDevices);
    }
    void addUsbDevice(const std::string& name, const char* vendor, const char* product) {
        fs::path device = fs::path(in.usbDevices) / name;
        fs::create_directory(device);
        std::ofstream(device / "idVendor") << vendor << "\n";
        std::ofstream(device / "idProduct") << product << "\n";
        std::ofstream(device / "busnum") << "250\n";
        std::ofstream(device / "devnum") << "251\n";
    }

    nimbra::test::TempDir dir;
    BridgeDiagnosisInputs in;
};

TEST_F(BridgeDiagnosisTest, VirtualCrate) {
    in.simDir = "";
    EXPECT_EQ(diagnoseBridgeFailure(in), "KOVRAVME_SIM_DIR is set but empty");

    const std::string crate = dir.file("crate");
    in.simDir = crate.c_str();
    EXPECT_EQ(diagnoseBridgeFailure(in),
              "No virtual crate socket at " + crate + "/ezusb-0 (No such file or directory)");

    fs::create_directory(crate);
    std::ofstream(crate + "/ezusb-0") << "x";
    EXPECT_EQ(diagnoseBridgeFailure(in), crate + "/ezusb-0 is not a socket");

    // A socket left behind by a crate that has ended: nobody listens.
    fs::remove(crate + "/ezusb-0");
    int fd = socket(AF_UNIX, SOCK_STREAM, 0);
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    std::strcpy(address.sun_path, (crate + "/ezusb-0").c_str());
    ASSERT_EQ(bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
    close(fd);
    EXPECT_EQ(diagnoseBridgeFailure(in),
              "No virtual crate answers at " + crate + "/ezusb-0 (Connection refused)");
}

TEST_F(BridgeDiagnosisTest, LockFile) {
    fs::create_directory(in.lockPath);
    EXPECT_EQ(diagnoseBridgeFailure(in),
              "Lock file " + in.lockPath + " is unusable: it is not a regular file");
    fs::remove(in.lockPath);
    fs::create_symlink(dir.file("target"), in.lockPath);
    EXPECT_EQ(diagnoseBridgeFailure(in),
              "Lock file " + in.lockPath + " is unusable: it is a symbolic link");
}

TEST_F(BridgeDiagnosisTest, UsbDevice) {
    EXPECT_EQ(diagnoseBridgeFailure(in),
              "No USB bridge with vendor id 04b4 and product id 8613 is attached");
    addUsbDevice("1-1", "046d", "c52b");
    EXPECT_EQ(diagnoseBridgeFailure(in),
              "No USB bridge with vendor id 04b4 and product id 8613 is attached");
    in.boardNumber = 1;
    addUsbDevice("1-2", "04b4", "8613");
    EXPECT_EQ(diagnoseBridgeFailure(in),
              "USB bridge 1 with vendor id 04b4 and product id 8613 is not attached (1 found)");
    in.boardNumber = 0;
    EXPECT_EQ(diagnoseBridgeFailure(in),
              "The USB bridge at /dev/bus/usb/250/251 cannot be opened: No such file or directory");
}

TEST_F(BridgeDiagnosisTest, OtherwiseTheLibraryResult) {
    in.bridgeKind = OpticalBridge;
    in.result = TimeoutError;
    EXPECT_EQ(diagnoseBridgeFailure(in),
              "The bridge did not open: the bridge library gave Timeout (-5)");
}

}  // namespace
}  // namespace tarvo
