#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

#include "i2c/I2cBus.h"
#include "i2c/backends/FtdiI2cBackend.h"
#include "i2c/backends/LinuxI2cBackend.h"
#include "i2c/backends/SimI2cBackend.h"
#include "support/TempDir.h"

namespace {

using namespace tarvo;
namespace fs = std::filesystem;

void writeFile(const fs::path& path, const std::string& text) {
    fs::create_directories(path.parent_path());
    std::ofstream(path) << text;
}

TEST(LinuxI2cBackend, ListsTheBusesSysfsNamesThatHaveADeviceNode) {
    nimbra::test::TempDir dir;
    fs::path dev = dir.path() / "dev";
    fs::path sys = dir.path() / "sys";
    writeFile(sys / "i2c-10" / "name", "i915 gmbus dpc\n");
    writeFile(sys / "i2c-2" / "name", "CP2112 SMBus Bridge on hiddev0\n");
    writeFile(sys / "i2c-3" / "name", "no device node\n");
    writeFile(sys / "i2c-x" / "name", "not a bus\n");
    writeFile(dev / "i2c-10", "");
    writeFile(dev / "i2c-2", "");
    LinuxI2cBackend backend(dev.string(), sys.string());
    std::vector<AdapterEntry> entries;
    EXPECT_EQ(backend.list(entries), kI2cSuccess);
    ASSERT_EQ(entries.size(), 2u);
    EXPECT_EQ(entries[0].id, "i2c-2");
    EXPECT_EQ(entries[0].name, "CP2112 SMBus Bridge on hiddev0");
    EXPECT_EQ(entries[0].locationId, 2);
    EXPECT_EQ(entries[1].id, "i2c-10");
    EXPECT_EQ(entries[1].backend, "i2c-dev");
}

TEST(LinuxI2cBackend, OpeningErrors) {
    nimbra::test::TempDir dir;
    writeFile(dir.path() / "i2c-4", "");  // a plain file answers no I2C ioctl
    LinuxI2cBackend backend(dir.path().string(), (dir.path() / "none").string());
    std::vector<AdapterEntry> entries;
    EXPECT_EQ(backend.list(entries), kI2cSuccess);  // no sysfs folder: nothing listed
    EXPECT_TRUE(entries.empty());

    std::unique_ptr<I2cLink> link;
    uint32_t clock = 100000;
    EXPECT_EQ(backend.open({"i2c-4", "x", 4, "", "i2c-dev"}, clock, link), kI2cNotI2cAdapter);
    EXPECT_EQ(backend.open({"i2c-5", "x", 5, "", "i2c-dev"}, clock, link), kI2cDeviceNotFound);
    EXPECT_EQ(backend.open({"i2c-../../etc/passwd", "x", 5, "", "i2c-dev"}, clock, link),
              kI2cDeviceNotFound);
    EXPECT_FALSE(link);
}

TEST(FtdiI2cBackend, NoAdapterAttached) {
    FtdiI2cBackend backend;
    std::vector<AdapterEntry> entries;
    backend.list(entries);  // with no USB access at all the status says so; either way:
    for (const auto& e : entries) {
        EXPECT_EQ(e.backend, "ftdi");  // a machine with a real adapter lists only adapters
    }
    std::unique_ptr<I2cLink> link;
    uint32_t clock = 100000;
    EXPECT_EQ(backend.open({"ftdi-250-127-A", "none", 0, "A", "ftdi"}, clock, link),
              kI2cDeviceNotFound);
    int32_t status = backend.open({"ftdi-1-1-C", "none", 0, "C", "ftdi"}, clock, link);
    EXPECT_EQ(status, kI2cDeviceNotFound);
    EXPECT_FALSE(link);
}

TEST(SimI2cBackend, ListedOnlyWhenTheSocketExists) {
    nimbra::test::TempDir dir;
    SimI2cBackend backend(dir.path().string());
    std::vector<AdapterEntry> entries;
    backend.list(entries);
    EXPECT_TRUE(entries.empty());
    writeFile(dir.path() / "i2c-0", "");  // a plain file is no socket
    backend.list(entries);
    EXPECT_TRUE(entries.empty());
    std::unique_ptr<I2cLink> link;
    uint32_t clock = 100000;
    EXPECT_NE(backend.open({"sim", "x", 0, "A", "sim"}, clock, link), kI2cSuccess);
    EXPECT_FALSE(link);
}

}  // namespace
