#pragma once

#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <sstream>

#include "ScriptedBench.h"
#include "sequence/SequenceTestWorkers.h"
#include "shell/Operator.h"
#include "support/TempDir.h"

namespace tarvo::test {

// The scripted operator, also keeping the folder chooser's text.
class BenchOperator : public ScriptedOperator {
  public:
    std::vector<std::string> folderTitles;
    std::optional<std::string> chooseFolder(const std::string& title,
                                            const std::string& preset) override {
        folderTitles.push_back(title);
        return ScriptedOperator::chooseFolder(title, preset);
    }
};

// A run state wired to a scripted bench, in a folder of its own that is also the current folder
// (where the waveform files land).
class SequenceTestFixture : public ::testing::Test {
  protected:
    void SetUp() override {
        previous_ = std::filesystem::current_path();
        std::filesystem::current_path(dir_.path());
        std::filesystem::create_directories(dir_.path() / "data");
        state.vmeHandle = 1;
        state.settings.cycleCount = 10;
        state.settings.filenameClr = (dir_.path() / "data" / "run.bin").string();
        state.settings.taDaqEnable.fill(false);
        state.excelOpen = true;
        state.op = &op;
        setup.commandFile = dir_.file("bench.txt");
        setup.resource = "SIM::INSTR";
        setup.cells = &cells;
        setup.thresholds = &bench;
        setup.board = &bench;
        setup.clock = &bench;
        setup.openResourceManager = [this](std::string&) {
            return std::make_unique<ForwardingManager>(instruments);
        };
    }
    void TearDown() override { std::filesystem::current_path(previous_); }

    void writeSequence(const std::string& text) { std::ofstream(setup.commandFile) << text; }
    std::string dataFile(const std::string& name) const {
        return (dir_.path() / "data" / name).string();
    }
    std::string here(const std::string& name) const { return dir_.file(name); }
    static std::string readAll(const std::string& path) {
        std::ifstream in(path, std::ios::binary);
        std::stringstream text;
        text << in.rdbuf();
        return text.str();
    }
    static bool exists(const std::string& path) { return std::filesystem::exists(path); }

    RunState state;
    ScriptedBench bench{state};
    RecordingInstruments instruments;
    RecordingCells cells;
    BenchOperator op;
    SequenceTestSetup setup;
    nimbra::test::TempDir dir_;

  private:
    std::filesystem::path previous_;
};

}  // namespace tarvo::test
