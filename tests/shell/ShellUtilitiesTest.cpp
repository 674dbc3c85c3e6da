#include <fcntl.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <filesystem>

#include "UpdateTestSupport.h"
#include "shell/ShellUtilities.h"
#include "shell/SystemError.h"
#include "support/TempDir.h"

namespace {

using tarvo::test::readFile;
using tarvo::test::waitForStarts;
using tarvo::test::writeFile;

TEST(SystemError, FormatsCodeAndText) {
    std::string out = "replaced";
    tarvo::SetLastSystemError(ECONNREFUSED);
    tarvo::AppendSystemError("Error Connecting x\nError", out);
    EXPECT_EQ(out, "Error Connecting x\nError ->111\nConnection refused\n");
    // A code the system has no text for gives the code alone.
    tarvo::SetLastSystemError(12345);
    tarvo::AppendSystemError("p", out);
    EXPECT_EQ(out, "p ->12345\n");
    tarvo::SetLastSystemError(EPROTO, "HTTP status 503");
    tarvo::AppendSystemError("p", out);
    EXPECT_EQ(out, "p ->71\nHTTP status 503\n");
}

TEST(SystemError, IsKeptPerThread) {
    tarvo::SetLastSystemError(ENOENT);
    std::thread([] { tarvo::SetLastSystemError(EACCES); }).join();
    EXPECT_EQ(tarvo::GetLastSystemError().code, ENOENT);
}

TEST(ShellUtilities, CommandLineSplitsAtBlanksOutsideQuotes) {
    using V = std::vector<std::string>;
    EXPECT_EQ(tarvo::SplitCommandLine("tarvo 1.0.0.255 http://h/u/ \"/opt/my tarvo\""),
              (V{"tarvo", "1.0.0.255", "http://h/u/", "/opt/my tarvo"}));
    EXPECT_EQ(tarvo::SplitCommandLine("  a\t\tb  "), (V{"a", "b"}));
    EXPECT_EQ(tarvo::SplitCommandLine("\"\" x\"y z\"w \\\"q"), (V{"", "xy zw", "\"q"}));
    EXPECT_TRUE(tarvo::SplitCommandLine("").empty());
}

TEST(ShellUtilities, FileExistsForAnyEntry) {
    nimbra::test::TempDir dir;
    writeFile(dir.file("f"), "x");
    std::filesystem::create_directory(dir.file("d"));
    std::filesystem::create_symlink(dir.file("nowhere"), dir.file("dangling"));
    EXPECT_TRUE(tarvo::FileExists(dir.file("f")));
    EXPECT_TRUE(tarvo::FileExists(dir.file("d")));
    EXPECT_TRUE(tarvo::FileExists(dir.file("dangling")));
    EXPECT_FALSE(tarvo::FileExists(dir.file("nowhere")));
    EXPECT_FALSE(tarvo::FileExists(""));
}

TEST(ShellUtilities, RunProgramPassesArgumentsAndOnlyTheStandardDescriptors) {
    nimbra::test::TempDir dir;
    const std::string program = dir.file("probe");
    // Records its arguments, then whether descriptor 47 reached it.
    writeFile(program,
              tarvo::test::standInUpdater(dir.path().string()) +
                  "if [ -e /proc/$$/fd/47 ]; then echo open; else echo closed; fi > \"" +
                  dir.file("fd47") + ".tmp\"; mv \"" + dir.file("fd47") + ".tmp\" \"" +
                  dir.file("fd47") + "\"\n",
              true);
    const int fd = open("/dev/null", O_RDONLY);  // inheritable on purpose
    ASSERT_EQ(dup2(fd, 47), 47);
    close(fd);
    ASSERT_TRUE(tarvo::RunProgram(program, "one \"two words\" three"));
    close(47);
    const auto starts = waitForStarts(dir.path().string(), 1);
    ASSERT_EQ(starts.size(), 1u);
    EXPECT_EQ(starts[0], (std::vector<std::string>{"one", "two words", "three"}));
    for (int i = 0; i < 1500 && !std::filesystem::exists(dir.file("fd47")); ++i) {
        usleep(20000);
    }
    EXPECT_EQ(readFile(dir.file("fd47")), "closed\n");
}

TEST(ShellUtilities, RunProgramReportsWhatCannotStart) {
    nimbra::test::TempDir dir;
    EXPECT_FALSE(tarvo::RunProgram(dir.file("absent"), "x"));
    EXPECT_EQ(tarvo::GetLastSystemError().code, ENOENT);
    writeFile(dir.file("plain"), "not runnable");
    EXPECT_FALSE(tarvo::RunProgram(dir.file("plain"), ""));
    EXPECT_EQ(tarvo::GetLastSystemError().code, EACCES);
}

TEST(ShellUtilities, OpenInNotepadHandsTheFileToTheDesktopsOpener) {
    nimbra::test::TempDir dir;
    std::filesystem::create_directory(dir.file("bin"));
    writeFile(dir.file("bin/xdg-open"), tarvo::test::standInUpdater(dir.path().string()), true);
    const char* oldPath = std::getenv("PATH");
    const std::string saved = oldPath != nullptr ? oldPath : "";
    setenv("PATH", (dir.file("bin") + ":" + saved).c_str(), 1);
    const bool started = tarvo::OpenInNotepad("/data/My Commands.txt");
    setenv("PATH", saved.c_str(), 1);
    ASSERT_TRUE(started);
    const auto starts = waitForStarts(dir.path().string(), 1);
    ASSERT_EQ(starts.size(), 1u);
    EXPECT_EQ(starts[0], std::vector<std::string>{"/data/My Commands.txt"});
}

}  // namespace
