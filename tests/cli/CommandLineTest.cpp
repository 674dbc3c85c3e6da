#include <gtest/gtest.h>
#include <sys/wait.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "support/TempDir.h"

namespace {

namespace fs = std::filesystem;

struct Result {
    int status = -1;
    std::string out;
    std::string err;
};

std::string slurp(const std::string& path) {
    std::ifstream in(path);
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
}

class CommandLineTest : public ::testing::Test {
  protected:
    // Runs tarvo-cli with the arguments (shell words) in the test's folder, with `env`
    // (assignments) in front; stdout goes to `stdoutPath` when given.
    Result run(const std::string& args, const std::string& env = "",
               const std::string& stdoutPath = "") {
        Result r;
        const std::string out = stdoutPath.empty() ? dir.file("out.txt") : stdoutPath;
        const std::string err = dir.file("err.txt");
        const std::string command = "cd '" + work.string() + "' && " + env + " '" + TARVO_CLI_PATH +
                                    "' " + args + " >'" + out + "' 2>'" + err + "'";
        int status = std::system(command.c_str());
        r.status = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
        if (stdoutPath.empty()) {
            r.out = slurp(out);
        }
        r.err = slurp(err);
        return r;
    }
    // A crate folder that holds no crate: a run that got past its arguments would fail to open
    // the bridge and say so.
    std::string noCrate() const { return "KOVRAVME_SIM_DIR='" + dir.file("no-crate") + "'"; }

    nimbra::test::TempDir dir;
    fs::path work = [this] {
        fs::path p = dir.path() / "work";
        fs::create_directory(p);
        return p;
    }();
};

TEST_F(CommandLineTest, HelpAndVersion) {
    Result help = run("--help");
    EXPECT_EQ(help.status, 0);
    EXPECT_EQ(help.out.rfind("usage: tarvo-cli COMMAND [ARGS]\n", 0), 0u) << help.out;
    EXPECT_NE(help.out.find("  tarvo-cli acquire [--base HEX]"), std::string::npos) << help.out;
    EXPECT_NE(help.out.find("  tarvo-cli histogram "), std::string::npos);
    EXPECT_NE(help.out.find("  tarvo-cli sequence check "), std::string::npos);

    for (const char* command : {"acquire", "histogram", "sequence check"}) {
        Result r = run(std::string(command) + " --help", noCrate());
        EXPECT_EQ(r.status, 0) << command;
        EXPECT_EQ(r.out.rfind("usage: tarvo-cli " + std::string(command) + " ", 0), 0u) << r.out;
        EXPECT_EQ(r.out.find('\n'), r.out.size() - 1) << r.out;
        EXPECT_EQ(r.err, "") << command;
    }

    Result version = run("--version");
    EXPECT_EQ(version.status, 0);
    EXPECT_EQ(version.out, "Nimbra DAQ, Version " NIMBRA_VERSION "\n");

    Result none = run("");
    EXPECT_EQ(none.status, 2);
    EXPECT_NE(none.err.find("usage: tarvo-cli"), std::string::npos);
}

TEST_F(CommandLineTest, UsageErrorsEndBeforeTheBoardIsTouched) {
    struct Case {
        const char* args;
        const char* message;
    };
    const Case cases[] = {
        {"acquire --rev1", "--file-clr PATH is needed"},
        {"acquire --rev1 --file-clr ''", "--file-clr PATH is needed"},
        {"acquire --rev1 --type 3", "--file-clr PATH is needed"},
        {"acquire --rev1 --file-clr run.bin --ta ''", "--ta needs a list of TA numbers 1..8"},
        {"acquire --rev1 --file-clr run.bin --ta 1,,2", "bad TA number '' (1..8)"},
        {"acquire --rev1 --file-clr run.bin --ta 9", "bad TA number '9' (1..8)"},
        {"acquire --file-clr clean.bin", "--file PATH is needed"},
        {"acquire --file raw.bin", "--file-clr PATH is needed"},
        {"acquire --cycles", "missing value after --cycles"},
    };
    for (const auto& c : cases) {
        Result r = run(c.args, noCrate());
        EXPECT_EQ(r.status, 2) << c.args << "\n" << r.err;
        EXPECT_NE(r.err.find(c.message), std::string::npos) << c.args << "\n" << r.err;
        EXPECT_EQ(r.err.find("Initialization"), std::string::npos) << c.args;
        EXPECT_TRUE(fs::is_empty(work)) << c.args;
    }
    // Display-only types write no files and need no names: they get as far as the bridge.
    Result monitor = run("acquire --rev1 --type 1", noCrate());
    EXPECT_EQ(monitor.status, 1);
    EXPECT_NE(monitor.err.find("Fatal: Initialization FAIL"), std::string::npos) << monitor.err;
}

TEST_F(CommandLineTest, InitFailureSaysWhy) {
    Result empty = run("acquire --rev1 --type 1", "KOVRAVME_SIM_DIR=");
    EXPECT_EQ(empty.status, 1);
    EXPECT_NE(empty.err.find("Fatal: Initialization FAIL\nPress VME Reset to initilize\n"
                             "KOVRAVME_SIM_DIR is set but empty\n"),
              std::string::npos)
        << empty.err;

    Result missing = run("acquire --rev1 --type 1", noCrate());
    EXPECT_EQ(missing.status, 1);
    EXPECT_NE(missing.err.find("Press VME Reset to initilize\nNo virtual crate socket at " +
                               dir.file("no-crate") + "/ezusb-0"),
              std::string::npos)
        << missing.err;
}

TEST_F(CommandLineTest, OutputThatCannotBeWrittenIsAFailure) {
    if (!fs::exists("/dev/full")) {
        GTEST_SKIP() << "no /dev/full";
    }
    Result version = run("--version", "", "/dev/full");
    EXPECT_EQ(version.status, 1);
    EXPECT_NE(version.err.find("can't write the output: No space left on device"),
              std::string::npos)
        << version.err;
    // A run that failed keeps its own status.
    Result failed = run("acquire --rev1 --type 1", noCrate(), "/dev/full");
    EXPECT_EQ(failed.status, 1);
}

}  // namespace
