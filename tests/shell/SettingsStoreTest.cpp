#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <fstream>
#include <sstream>

#include "shell/AtomicFile.h"
#include "shell/PersistedSettings.h"
#include "shell/SettingsStore.h"
#include "support/TempDir.h"

namespace tarvo {
namespace {

std::string slurp(const std::filesystem::path& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream s;
    s << in.rdbuf();
    return s.str();
}

void spit(const std::filesystem::path& path, const std::string& text) {
    std::filesystem::create_directories(path.parent_path());
    std::ofstream(path, std::ios::binary) << text;
}

class SettingsStoreTest : public ::testing::Test {
  protected:
    nimbra::test::TempDir dir;
    std::filesystem::path file = dir.path() / "Ulmora" / "Tarvo.conf";
};

TEST_F(SettingsStoreTest, PathFollowsXdgConfigHomeElseHomeConfig) {
    const char* oldXdg = std::getenv("XDG_CONFIG_HOME");
    const char* oldHome = std::getenv("HOME");
    std::string savedXdg = oldXdg ? oldXdg : "", savedHome = oldHome ? oldHome : "";
    setenv("XDG_CONFIG_HOME", "/cfg", 1);
    EXPECT_EQ(SettingsStore::defaultPath(), "/cfg/Ulmora/Tarvo.conf");
    unsetenv("XDG_CONFIG_HOME");
    setenv("HOME", "/home/bench", 1);
    EXPECT_EQ(SettingsStore::defaultPath(), "/home/bench/.config/Ulmora/Tarvo.conf");
    setenv("XDG_CONFIG_HOME", "relative", 1);  // not absolute: ignored, as XDG asks
    EXPECT_EQ(SettingsStore::defaultPath(), "/home/bench/.config/Ulmora/Tarvo.conf");
    oldXdg ? setenv("XDG_CONFIG_HOME", savedXdg.c_str(), 1) : unsetenv("XDG_CONFIG_HOME");
    oldHome ? setenv("HOME", savedHome.c_str(), 1) : unsetenv("HOME");
}

TEST_F(SettingsStoreTest, CleanMachineStartsWithEveryDefault) {
    SettingsStore store(file);
    ASSERT_TRUE(store.load());
    PersistedSettings s = readStartupSettings(store);
    EXPECT_EQ(s.baseAddress, 0x03030000u);
    EXPECT_EQ(s.baseAddrText, "03030000");
    EXPECT_EQ(s.sample0, 0);
    EXPECT_EQ(s.sample1, 15);
    EXPECT_EQ(s.cycle, 1);
    EXPECT_EQ(s.offsetAdc, 32768u);
    EXPECT_EQ(s.revision, 0);
    EXPECT_EQ(s.enTa, (std::array<int32_t, 8>{}));
    EXPECT_EQ(s.baseLine, (std::array<uint32_t, 8>{}));
    EXPECT_EQ(s.fileName, "");
    EXPECT_EQ(s.fileNameClr, "");
    EXPECT_EQ(s.visaResource, "");
    EXPECT_EQ(s.visaFile, "");
    EXPECT_EQ(readHoldCodes(store), (HoldCodes{}));
    EXPECT_EQ(readUpdatePage(store), kBuiltInUpdatePage);
    EXPECT_EQ(readInstallDir(store), "");
    EXPECT_FALSE(std::filesystem::exists(file));  // reading creates nothing
}

TEST_F(SettingsStoreTest, ExitWritesEveryValueInTheTopSectionAndStartUpReadsThemBack) {
    PersistedSettings s;
    s.fileName = "/data/raw.bin";
    s.fileNameClr = "/data/run 7/daq.bin";
    s.baseAddrText = "1A00";
    s.visaResource = "TCPIP0::127.0.0.1::5025::SOCKET";
    s.revision = 1;
    s.enTa = {1, 0, 1, 0, 0, 0, 0, 1};
    s.sample0 = 2;
    s.sample1 = 7;
    s.cycle = 500;
    s.baseLine = {1, 2, 3, 4, 5, 6, 7, 4095};
    s.visaFile = "/seq/cmd.txt";
    s.offsetAdc = 40000;
    {
        SettingsStore store(file);
        store.load();
        ASSERT_EQ(writeExitSettings(store, s), "");
    }
    std::string text = slurp(file);
    EXPECT_EQ(text.find('['), std::string::npos) << text;  // no section header at all
    EXPECT_NE(text.find("FileNameclr = /data/run 7/daq.bin"), std::string::npos) << text;
    EXPECT_NE(text.find("BaseAddr = 1A00"), std::string::npos) << text;
    EXPECT_NE(text.find("OffsetADC = 40000"), std::string::npos) << text;

    SettingsStore again(file);
    ASSERT_TRUE(again.load());
    PersistedSettings r = readStartupSettings(again);
    EXPECT_EQ(r.fileName, s.fileName);
    EXPECT_EQ(r.fileNameClr, s.fileNameClr);
    EXPECT_EQ(r.baseAddrText, "1A00");
    EXPECT_EQ(r.baseAddress, 0x1A00u);
    EXPECT_EQ(r.visaResource, s.visaResource);
    EXPECT_EQ(r.revision, 1);
    EXPECT_EQ(r.enTa, s.enTa);
    EXPECT_EQ(r.sample0, 2);
    EXPECT_EQ(r.sample1, 7);
    EXPECT_EQ(r.cycle, 500);
    EXPECT_EQ(r.baseLine, s.baseLine);
    EXPECT_EQ(r.visaFile, s.visaFile);
    EXPECT_EQ(r.offsetAdc, 40000u);
}

TEST_F(SettingsStoreTest, NamesDifferingOnlyInCaseAreOneValue) {
    spit(file, "FileNameClr = /old/daq.bin\nhold3 = 7\n");
    SettingsStore store(file);
    ASSERT_TRUE(store.load());
    EXPECT_EQ(store.readString("FILENAMECLR", ""), "/old/daq.bin");
    EXPECT_EQ(readHoldCodes(store)[3], 7);
    store.writeString("FileNameclr", "/new/daq.bin");
    store.writeInt("Hold3", 9);
    ASSERT_EQ(store.save(), "");
    std::string text = slurp(file);
    std::string lower;
    for (char c : text) {
        lower += static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    }
    EXPECT_EQ(lower.find("filenameclr"), lower.rfind("filenameclr")) << text;  // one line
    EXPECT_EQ(lower.find("hold3"), lower.rfind("hold3")) << text;
    EXPECT_NE(text.find("/new/daq.bin"), std::string::npos);
    EXPECT_EQ(text.find("/old/daq.bin"), std::string::npos);
}

TEST_F(SettingsStoreTest, IntegerTextsThatAreNoNumbersTakeTheDefault) {
    spit(file, "Cycle = many\nOffsetADC = 4294967295\nSample1 = -3\nRevision=1\n");
    SettingsStore store(file);
    ASSERT_TRUE(store.load());
    PersistedSettings s = readStartupSettings(store);
    EXPECT_EQ(s.cycle, 1);
    EXPECT_EQ(s.offsetAdc, 0xFFFFFFFFu);  // a DWORD's full range
    EXPECT_EQ(s.sample1, -3);
    EXPECT_EQ(s.revision, 1);
    EXPECT_EQ(store.readInt("Cycle", 1), 1);
}

TEST_F(SettingsStoreTest, HoldCodesKeepOneBytePerChannel) {
    SettingsStore store(file);
    store.load();
    ASSERT_EQ(writeHoldCodes(store, HoldCodes{1, 2, 3, 4, 250, 251, 252, 255}), "");
    store.writeInt("Hold0", 300);  // a hand-edited value beyond a byte
    SettingsStore again(file);
    again.load();
    EXPECT_EQ(readHoldCodes(again), (HoldCodes{1, 2, 3, 4, 250, 251, 252, 255}));
    EXPECT_EQ(readHoldCodes(store)[0], static_cast<uint8_t>(300));
}

TEST_F(SettingsStoreTest, BaseLinesAreSavedAtOnceWithoutTheOtherChangesOfTheRun) {
    SettingsStore store(file);
    store.load();
    PersistedSettings s = readStartupSettings(store);
    ASSERT_EQ(writeExitSettings(store, s), "");
    // A change of the run that is only kept in memory, then the base-line dialog's OK.
    store.writeInt("Cycle", 77);
    SettingsStore unsaved(file);
    unsaved.load();
    EXPECT_EQ(readStartupSettings(unsaved).cycle, 1);
    ASSERT_EQ(writeBaseLines(store, {10, 20, 30, 40, 50, 60, 70, 80}), "");
    SettingsStore afterCrash(file);
    afterCrash.load();
    EXPECT_EQ(readStartupSettings(afterCrash).baseLine,
              (std::array<uint32_t, 8>{10, 20, 30, 40, 50, 60, 70, 80}));
}

TEST_F(SettingsStoreTest, MalformedOrUnreadableFileGivesDefaultsAndStaysUntilTheNextSave) {
    const std::string broken = "Cycle = 9\nthis line is no setting\n";
    spit(file, broken);
    SettingsStore store(file);
    testing::internal::CaptureStderr();
    EXPECT_FALSE(store.load());
    std::string err = testing::internal::GetCapturedStderr();
    EXPECT_NE(err.find("line 2"), std::string::npos) << err;
    EXPECT_NE(err.find(file.string()), std::string::npos) << err;
    EXPECT_TRUE(store.loadedBroken());
    EXPECT_EQ(readStartupSettings(store).cycle, 1);  // defaults, not half the file
    EXPECT_EQ(slurp(file), broken);                  // loading did not touch it

    ASSERT_EQ(writeHoldCodes(store, HoldCodes{5}), "");  // the next orderly save
    std::filesystem::path kept = file;
    kept += ".bad";
    EXPECT_EQ(slurp(kept), broken);
    SettingsStore again(file);
    EXPECT_TRUE(again.load());
    EXPECT_EQ(readHoldCodes(again)[0], 5);

    std::filesystem::remove(file);
    std::filesystem::create_directory(file);  // a folder where the file should be
    SettingsStore unreadable(file);
    testing::internal::CaptureStderr();
    EXPECT_FALSE(unreadable.load());
    EXPECT_NE(testing::internal::GetCapturedStderr().find("cannot be read"), std::string::npos);
    EXPECT_EQ(readStartupSettings(unreadable).baseAddress, 0x03030000u);

    std::filesystem::remove(file);
    spit(file, std::string("Cycle = 3\n\0\n", 12));
    SettingsStore binary(file);
    testing::internal::CaptureStderr();
    EXPECT_FALSE(binary.load());
    testing::internal::GetCapturedStderr();
}

// A process that dies half-way through writing the new settings leaves the old file whole.
TEST_F(SettingsStoreTest, SaveCutShortByACrashLeavesTheOldFileWhole) {
    {
        SettingsStore store(file);
        store.load();
        store.writeString("FileName", "/before/crash.bin");
        ASSERT_EQ(store.save(), "");
    }
    const std::string before = slurp(file);
    pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        std::string big(64 * 1024, 'x');
        writeFileAtomically(file, "FileName = /after/crash.bin\nVisaFile = " + big + "\n",
                            [] { _exit(7); });
        _exit(0);
    }
    int status = 0;
    ASSERT_EQ(waitpid(child, &status, 0), child);
    ASSERT_TRUE(WIFEXITED(status));
    ASSERT_EQ(WEXITSTATUS(status), 7);  // it really died mid-write
    EXPECT_EQ(slurp(file), before);
    SettingsStore after(file);
    EXPECT_TRUE(after.load());
    EXPECT_EQ(after.readString("FileName", ""), "/before/crash.bin");

    // The next save goes through.
    after.writeString("FileName", "/next/run.bin");
    ASSERT_EQ(after.save(), "");
    SettingsStore last(file);
    last.load();
    EXPECT_EQ(last.readString("FileName", ""), "/next/run.bin");
}

TEST_F(SettingsStoreTest, FailedSaveSaysWhy) {
    std::ofstream(dir.path() / "plain-file") << "x";  // a file where the folder should be
    SettingsStore store(dir.path() / "plain-file" / "Tarvo.conf");
    store.load();
    testing::internal::CaptureStderr();
    EXPECT_NE(store.save(), "");
    EXPECT_NE(testing::internal::GetCapturedStderr().find("not saved"), std::string::npos);
}

}  // namespace
}  // namespace tarvo
