// tarvo-cli sequence check, run as the operator would run it.
#include <gtest/gtest.h>
#include <sys/wait.h>

#include <cstdlib>
#include <fstream>
#include <nlohmann/json.hpp>
#include <sstream>
#include <string>

#include "support/TempDir.h"

namespace {

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

class SequenceCheckCommand : public ::testing::Test {
  protected:
    CliResult check(const std::string& path) {
        const std::string command = std::string(TARVO_CLI_PATH) + " sequence check '" + path +
                                    "' >" + dir_.file("out") + " 2>" + dir_.file("err");
        CliResult run;
        const int raw = std::system(command.c_str());
        run.status = WIFEXITED(raw) ? WEXITSTATUS(raw) : -1;
        run.out = readFile(dir_.file("out"));
        run.err = readFile(dir_.file("err"));
        return run;
    }
    std::string write(const std::string& content) {
        const std::string path = dir_.file("seq.txt");
        std::ofstream(path, std::ios::binary) << content;
        return path;
    }

    nimbra::test::TempDir dir_;
};

TEST_F(SequenceCheckCommand, PrintsTheSectionsAsJson) {
    const std::string path = write(
        "[Base]\r\nMeasure = Peak\r\nTA = 2\r\nThreshold = -0.5\r\nRele = ON\r\n*RST\r\n"
        "[Caf\xe9]\r\nOUTP \"on\"\r\n");
    const CliResult run = check(path);
    ASSERT_EQ(run.status, 0) << run.err;
    EXPECT_EQ(run.err, "");
    const auto expected = nlohmann::json::parse(R"([
        {"name": "Base", "measure": 2, "taIndex": 1, "threshold": -0.5, "rele": 1,
         "commands": ["*RST"]},
        {"name": "Caf\u00e9", "measure": 0, "taIndex": 0, "threshold": 0.0, "rele": -1,
         "commands": ["OUTP \"on\""]}
    ])");
    const auto printed = nlohmann::ordered_json::parse(run.out);
    EXPECT_EQ(nlohmann::json::parse(run.out), expected);
    // Keys come in the record's order.
    std::string keys;
    for (const auto& [key, value] : printed[0].items()) {
        keys += key + " ";
    }
    EXPECT_EQ(keys, "name measure taIndex threshold rele commands ");
}

TEST_F(SequenceCheckCommand, UnicodeTextPassesUnchanged) {
    const CliResult run = check(write("[Caf\xc3\xa9]\nx\n"));
    ASSERT_EQ(run.status, 0);
    EXPECT_EQ(nlohmann::json::parse(run.out)[0]["name"], "Caf\xc3\xa9");
}

TEST_F(SequenceCheckCommand, ReportsFailuresAsTheSequenceTestWould) {
    const std::string path = write("[S]\nx\nTA = 9\n");
    CliResult run = check(path);
    EXPECT_EQ(run.status, 1);
    EXPECT_EQ(run.out, "");
    EXPECT_EQ(run.err, "Error on file " + path + " line 3\n");

    const std::string missing = dir_.file("missing.txt");
    run = check(missing);
    EXPECT_EQ(run.status, 1);
    EXPECT_EQ(run.err, "Open File " + missing + " Error or File Empty\n");

    const std::string empty = write("");
    run = check(empty);
    EXPECT_EQ(run.status, 1);
    EXPECT_EQ(run.err, "Open File " + empty + " Error or File Empty\n");
}

// A file without line ends (a device, a binary) must not be read as one endless line.
TEST_F(SequenceCheckCommand, RefusesALineLongerThanOneMebibyte) {
    CliResult run = check("/dev/zero");
    EXPECT_EQ(run.status, 1);
    EXPECT_EQ(run.err, "Error on file /dev/zero line 1\nline longer than 1048576 bytes\n");

    const std::string path =
        write("[S]\nx\n" + std::string(1 << 20, 'c') + "\n" + std::string((1 << 20) + 1, 'c'));
    run = check(path);
    EXPECT_EQ(run.status, 1);
    EXPECT_EQ(run.err, "Error on file " + path + " line 4\nline longer than 1048576 bytes\n");
}

}  // namespace
