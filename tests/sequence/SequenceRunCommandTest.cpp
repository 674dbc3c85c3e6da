// tarvo-cli sequence run / manual against vmecrate-sim with its pulse generator, as an operator
// runs them over ssh.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <thread>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>

#include "support/SimProcess.h"
#include "support/TempDir.h"

namespace {

namespace fs = std::filesystem;
using nimbra::test::SimProcess;

struct CliResult {
    int status = -1;
    std::string out;
    std::string err;
};

std::string readFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::stringstream s;
    s << in.rdbuf();
    return s.str();
}

class SequenceRunCommand : public ::testing::Test {
  protected:
    SequenceRunCommand()
        : sim_(SimProcess::Options{
              {"--board", "--generator", "--generator-log", dir_.file("generator.log")}}) {}

    // Runs tarvo-cli in the test's folder with `input` on its standard input.
    CliResult cli(const std::string& args, const std::string& input = "") {
        std::ofstream(dir_.file("in")) << input;
        const std::string command = "cd '" + dir_.path().string() + "' && " + TARVO_CLI_PATH + " " +
                                    args + " <in >out 2>err";
        CliResult run;
        const int raw = std::system(command.c_str());
        run.status = WIFEXITED(raw) ? WEXITSTATUS(raw) : -1;
        run.out = readFile(dir_.file("out"));
        run.err = readFile(dir_.file("err"));
        return run;
    }
    std::string generator() const { return readFile(sim_.dir() + "/generator-resource"); }
    std::string file(const std::string& name) const { return dir_.file(name); }

    nimbra::test::TempDir dir_;
    SimProcess sim_;
};

TEST_F(SequenceRunCommand, RunsASequenceAgainstTheGeneratorAndPrintsItsProgress) {
    std::ofstream(file("seq.txt")) << "[Setup]\n*RST\nVOLT 0.5\nOUTP ON\n[Pk]\nMeasure = Peak\n";
    std::string resource = generator();
    resource.pop_back();  // its line end
    const CliResult run =
        cli("sequence run seq.txt --resource " + resource + " --name DUT_ --ta 3 --cycles 4");
    EXPECT_EQ(run.status, 0) << run.err;
    EXPECT_NE(run.out.find("Executing Sequence Setup\nExecuting Sequence Pk\n"), std::string::npos)
        << run.out;
    EXPECT_NE(run.out.find("FIFO8 Peak="), std::string::npos);
    const std::string table = readFile(file("DUT_SequenceTest_3.txt"));
    EXPECT_EQ(table.substr(0, 13), "CH\tSetup\tPk\r\n");
    EXPECT_EQ(std::count(table.begin(), table.end(), '\n'), 33);
    EXPECT_FALSE(fs::exists(file("DUT_SequenceTest_1.txt")));
    EXPECT_TRUE(fs::exists(file("DUT_Peak.txt")));
    EXPECT_EQ(readFile(file("generator.log")), "*RST\nVOLT 0.5\nOUTP ON\n");
}

TEST_F(SequenceRunCommand, AMissingGeneratorOrAbsentDacsAreReportedWithoutResults) {
    std::ofstream(file("seq.txt")) << "[Pk]\nMeasure = Peak\n";
    CliResult run = cli("sequence run seq.txt --resource TCPIP0::127.0.0.1::1::SOCKET");
    EXPECT_EQ(run.status, 1);
    EXPECT_NE(run.err.find("Open VISA resource TCPIP0::127.0.0.1::1::SOCKET FAIL"),
              std::string::npos)
        << run.err;
    EXPECT_FALSE(fs::exists(file("SequenceTest_1.txt")));

    std::ofstream(file("thr.txt")) << "[Thr]\nMeasure = Threshold\n";
    run = cli("sequence run thr.txt --resource TCPIP0::127.0.0.1::1::SOCKET");
    EXPECT_EQ(run.status, 1);
    EXPECT_NE(run.err.find("section Thr sets thresholds"), std::string::npos) << run.err;

    run = cli("sequence run thr.txt");
    EXPECT_EQ(run.status, 2);
}

TEST_F(SequenceRunCommand, CtrlCStopsAndTheAnswerGivenAbortsWithoutResults) {
    std::ofstream(file("seq.txt")) << "[Pk]\nMeasure = Peak\n";
    std::string resource = generator();
    resource.pop_back();
    // A read of a million events: only a stop ends it.
    const pid_t pid = fork();
    if (pid == 0) {
        chdir(dir_.path().c_str());
        const int out = open("out", O_WRONLY | O_CREAT | O_TRUNC, 0644);
        const int err = open("err", O_WRONLY | O_CREAT | O_TRUNC, 0644);
        dup2(out, 1);
        dup2(err, 2);
        execl(TARVO_CLI_PATH, TARVO_CLI_PATH, "sequence", "run", "seq.txt", "--resource",
              resource.c_str(), "--cycles", "1000000", "--yes", static_cast<char*>(nullptr));
        _exit(127);
    }
    ASSERT_GT(pid, 0);
    // Stop once the first channel's read has begun.
    for (int i = 0;
         i < 1000 && readFile(file("out")).find("Executing Sequence Pk") == std::string::npos;
         ++i) {
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    kill(pid, SIGINT);
    int raw = 0;
    for (int i = 0; i < 600 && waitpid(pid, &raw, WNOHANG) == 0; ++i) {
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
    }
    if (waitpid(pid, &raw, WNOHANG) == 0) {
        kill(pid, SIGKILL);
        waitpid(pid, &raw, 0);
        FAIL() << "the stop did not end the run";
    }
    ASSERT_TRUE(WIFEXITED(raw));
    EXPECT_EQ(WEXITSTATUS(raw), 0);
    const std::string err = readFile(file("err"));
    EXPECT_NE(err.find("Stop Acquire\nAbort Sequence Test ? [y/n] y\n"), std::string::npos) << err;
    EXPECT_FALSE(fs::exists(file("SequenceTest_1.txt")));
}

TEST_F(SequenceRunCommand, TheManualTestTakesItsAnswersFromTheConsole) {
    // Cancel every prompt ("n"), with blank and unknown replies asked again.
    std::string input = "maybe\nn\n";
    for (int i = 1; i < 22; ++i) {
        input += "n\n";
    }
    const CliResult run = cli("sequence manual --ta 2", input);
    EXPECT_EQ(run.status, 0) << run.err;
    EXPECT_NE(run.err.find("Base line measure\nPlease Set 0mV Amplitude\n[Enter or y: OK, n: "
                           "Cancel] "),
              std::string::npos)
        << run.err;
    EXPECT_NE(run.err.find("Peak measure\nPlease Set -1000mV Amplitude"), std::string::npos);
    const std::string table = readFile(file("SequenceTest_2.txt"));
    EXPECT_NE(table.find("\r\n31\t0\t0\t0\t0\t0\t0\t0\t0\t0\t0\t0\t0\t0\t0\t0\t0\t0\t0\t0\t0\t0\t0"
                         "\r\n"),
              std::string::npos)
        << table;
}

}  // namespace
