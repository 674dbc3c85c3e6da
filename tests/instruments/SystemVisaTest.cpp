#include <gtest/gtest.h>
#include <stdlib.h>

#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "instruments/Instrument.h"
#include "support/TempDir.h"

namespace tarvo {
namespace {

using nimbra::test::TempDir;

std::vector<std::string> lines(const std::string& path) {
    std::ifstream in(path);
    std::vector<std::string> out;
    for (std::string line; std::getline(in, line);) {
        out.push_back(line);
    }
    return out;
}

// Points the loader at a library and gives the fake its resources and log; restores on exit.
class SystemVisaTest : public ::testing::Test {
  protected:
    void SetUp() override {
        setenv("FAKE_VISA_LOG", log().c_str(), 1);
        setenv("FAKE_VISA_RESOURCES", "GPIB0::12::INSTR,TCPIP0::10.0.0.5::inst0::INSTR", 1);
        setenv("KOVRAVME_SIM_DIR", dir_.path().c_str(), 1);
        std::ofstream(dir_.file("generator-resource")) << "TCPIP0::127.0.0.1::4000::SOCKET\n";
        setenv("TARVO_VISA_RESOURCES", " ASRL/dev/ttyUSB3::INSTR ,GPIB0::12::INSTR", 1);
    }
    void TearDown() override {
        for (const char* name : {"FAKE_VISA_LOG", "FAKE_VISA_RESOURCES", "KOVRAVME_SIM_DIR",
                                 "TARVO_VISA_RESOURCES", "TARVO_VISA_LIBRARY"}) {
            unsetenv(name);
        }
    }
    std::string log() const { return dir_.file("visa.log"); }

    TempDir dir_;
};

TEST_F(SystemVisaTest, TheFourOperationsGoThroughTheLibrary) {
    setenv("TARVO_VISA_LIBRARY", FAKE_VISA_PATH, 1);
    std::string error;
    auto manager = openDefaultResourceManager(error);
    ASSERT_TRUE(manager) << error;
    // The library's list, then the crate's generator and the configured names it lacks.
    EXPECT_EQ(
        manager->findResources("?*"),
        (std::vector<std::string>{"GPIB0::12::INSTR", "TCPIP0::10.0.0.5::inst0::INSTR",
                                  "TCPIP0::127.0.0.1::4000::SOCKET", "ASRL/dev/ttyUSB3::INSTR"}));
    {
        auto instrument = manager->open("GPIB0::12::INSTR", error);
        ASSERT_TRUE(instrument) << error;
        ASSERT_TRUE(instrument->write("VOLT 0.8\n", error)) << error;
        ASSERT_TRUE(instrument->write("OUTP ON\n", error)) << error;
    }
    EXPECT_FALSE(manager->open("GPIB0::9::absent", error));
    EXPECT_EQ(error, "VI_ERROR_RSRC_NFOUND: Insufficient location information");
    manager.reset();
    EXPECT_EQ(lines(log()),
              (std::vector<std::string>{"openDefaultRM 1", "findRsrc 1 ?*", "close 2",
                                        "open 100 GPIB0::12::INSTR", "write 100 VOLT 0.8|",
                                        "write 100 OUTP ON|", "close 100", "close 1"}));
}

TEST_F(SystemVisaTest, AnUnusableLibraryIsReportedNotReplaced) {
    std::string error;
    setenv("TARVO_VISA_LIBRARY", FAKE_VISA_NOWRITE_PATH, 1);
    EXPECT_FALSE(openDefaultResourceManager(error));
    EXPECT_NE(error.find("has no viWrite"), std::string::npos) << error;

    setenv("TARVO_VISA_LIBRARY", dir_.file("libnothing.so").c_str(), 1);
    EXPECT_FALSE(openDefaultResourceManager(error));
    EXPECT_NE(error.find("libnothing.so"), std::string::npos) << error;
}

TEST_F(SystemVisaTest, WithoutALibraryTheBuiltInResourcesServe) {
    // No libvisa.so on this machine's library path: the built-in manager lists the crate's
    // generator and the configured names.
    std::string error;
    auto manager = openDefaultResourceManager(error);
    ASSERT_TRUE(manager) << error;
    auto names = manager->findResources("?*");
    EXPECT_NE(std::find(names.begin(), names.end(), "TCPIP0::127.0.0.1::4000::SOCKET"),
              names.end());
    EXPECT_NE(std::find(names.begin(), names.end(), "GPIB0::12::INSTR"), names.end());
    EXPECT_FALSE(manager->open("GPIB0::12::INSTR", error));
    EXPECT_NE(error.find("unknown kind"), std::string::npos);
    EXPECT_TRUE(lines(log()).empty());
}

}  // namespace
}  // namespace tarvo
