// The results workbook against a real office: one headless office with its own profile and pipe
// is shared by the tests of a fixture, since it takes seconds to start.
#include <gtest/gtest.h>
#include <signal.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <memory>
#include <optional>
#include <sstream>

#include "OfficeProbe.h"
#include "shell/Operator.h"
#include "spreadsheet/CExcel.h"
#include "spreadsheet/WorkbookCellSink.h"
#include "support/TempDir.h"

namespace nimbra::test {
namespace {

namespace fs = std::filesystem;
using tarvo::CExcel;
using tarvo::OfficeOptions;
using tarvo::ScriptedOperator;
using tarvo::WorkbookCellSink;
using tarvo::WorkbookOpen;

const char kNoOffice[] = "LibreOffice is not installed (no soffice or fundamentalrc)";

// A flat OpenDocument spreadsheet with the given sheets; cells are (sheet, row, text of the
// row's cells as table XML).
std::string flatSpreadsheet(const std::vector<std::pair<std::string, std::string>>& sheets) {
    std::string xml =
        R"(<?xml version="1.0" encoding="UTF-8"?>
<office:document xmlns:office="urn:oasis:names:tc:opendocument:xmlns:office:1.0"
 xmlns:table="urn:oasis:names:tc:opendocument:xmlns:table:1.0"
 xmlns:text="urn:oasis:names:tc:opendocument:xmlns:text:1.0"
 xmlns:of="urn:oasis:names:tc:opendocument:xmlns:of:1.2" office:version="1.2"
 office:mimetype="application/vnd.oasis.opendocument.spreadsheet">
<office:body><office:spreadsheet>
)";
    for (const auto& [name, rows] : sheets) {
        xml += "<table:table table:name=\"" + name + "\">" + rows + "</table:table>\n";
    }
    return xml + "</office:spreadsheet></office:body></office:document>\n";
}

std::string textRow(const std::string& text) {
    return "<table:table-row><table:table-cell office:value-type=\"string\"><text:p>" + text +
           "</text:p></table:table-cell></table:table-row>";
}

// TA8 holds, in column D, a sum over the value cells B2:C4 and an echo of the name cell B1.
std::string templateTa8Rows() {
    const std::string blank3 = "<table:table-cell table:number-columns-repeated=\"3\"/>";
    return "<table:table-row>" + blank3 +
           "<table:table-cell table:formula=\"of:=SUM([.B2:.C4])\" office:value-type=\"float\" "
           "office:value=\"0\"/></table:table-row>"
           "<table:table-row>" +
           blank3 +
           "<table:table-cell table:formula=\"of:=[.B1]&amp;&quot;!&quot;\" "
           "office:value-type=\"string\" office:string-value=\"!\"/></table:table-row>";
}

std::string readFile(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
}

bool processExists(pid_t pid) {
    return ::kill(pid, 0) == 0 || errno != ESRCH;
}

OfficeOptions testOptions(const TempDir& dir, const std::string& tag) {
    OfficeOptions options;
    options.pipeName = "tarvo_test_" + std::to_string(::getpid()) + "_" + tag;
    options.profileDir = dir.file("profile-" + tag);
    options.headless = true;
    return options;
}

// The workbook files every test starts from, made once by converting flat spreadsheets the way
// a user would, with a separate office.
struct Templates {
    std::string withTa8;     // sheets Summary, TA8, Notes; formulas in TA8!D1:D2
    std::string withoutTa8;  // sheets First, Second
};

class WorkbookOfficeTest : public ::testing::Test {
  protected:
    static void SetUpTestSuite() {
        if (!OfficeOptions().officeInstalled()) {
            return;
        }
        dir_ = std::make_unique<TempDir>();
        std::ofstream(dir_->file("template.fods")) << flatSpreadsheet(
            {{"Summary", textRow("runs")}, {"TA8", templateTa8Rows()}, {"Notes", textRow("x")}});
        std::ofstream(dir_->file("plain.fods"))
            << flatSpreadsheet({{"First", textRow("a")}, {"Second", textRow("b")}});
        setupFailure_ = convertWithOffice(OfficeOptions(), dir_->path().string(), "xls",
                                          {dir_->file("template.fods"), dir_->file("plain.fods")},
                                          dir_->path().string());
        templates_ = {dir_->file("template.xls"), dir_->file("plain.xls")};
        if (setupFailure_.empty() && !fs::exists(templates_.withTa8)) {
            setupFailure_ = "the office made no template.xls";
        }
        options_ = testOptions(*dir_, "shared");
        launcherOperator_ = std::make_unique<ScriptedOperator>();
        launcher_ = std::make_unique<CExcel>(*launcherOperator_, options_);
        launcherResult_ = launcher_->open(dir_->file("created.xls"));
    }

    static void TearDownTestSuite() {
        if (launcher_) {
            launcher_->close();
            launcher_->endStartedOffice();
        }
        launcher_.reset();
        launcherOperator_.reset();
        dir_.reset();
    }

    void SetUp() override {
        if (!dir_) {
            GTEST_SKIP() << kNoOffice;
        }
        ASSERT_EQ(setupFailure_, "");
        ASSERT_EQ(launcherResult_, WorkbookOpen::Opened)
            << ::testing::PrintToString(launcherOperator_->texts("error"));
    }

    // A fresh copy of a template under a name of the test's own.
    static std::string copyOf(const std::string& source, const std::string& name) {
        const std::string path = dir_->file(name);
        fs::copy_file(source, path, fs::copy_options::overwrite_existing);
        return path;
    }

    static inline std::unique_ptr<TempDir> dir_;
    static inline std::string setupFailure_;
    static inline Templates templates_;
    static inline OfficeOptions options_;
    static inline std::unique_ptr<ScriptedOperator> launcherOperator_;
    static inline std::unique_ptr<CExcel> launcher_;
    static inline WorkbookOpen launcherResult_ = WorkbookOpen::Failed;
};

TEST_F(WorkbookOfficeTest, MissingWorkbookIsCreatedAsXlsWithTa8) {
    const std::string path = dir_->file("created.xls");
    // The binary .xls format is an OLE compound file.
    EXPECT_EQ(readFile(path).substr(0, 8), std::string("\xD0\xCF\x11\xE0\xA1\xB1\x1A\xE1", 8));
    const OfficeProbe probe(options_);
    ASSERT_EQ(probe.openCount(path), 1);
    EXPECT_EQ(probe.sheetNames(path).back(), "TA8");
    EXPECT_EQ(probe.activeSheet(path), "TA8");
    EXPECT_FALSE(probe.automaticCalculation(path));
}

TEST_F(WorkbookOfficeTest, PostedCellsAreWrittenAndEachIsRecalculated) {
    const std::string path = copyOf(templates_.withTa8, "formula.xls");
    ScriptedOperator op;
    WorkbookCellSink sink(op, options_);
    ASSERT_EQ(sink.open(path), WorkbookOpen::Opened);
    EXPECT_TRUE(sink.isOpen());
    const OfficeProbe probe(options_);
    EXPECT_EQ(probe.sheetNames(path), (std::vector<std::string>{"Summary", "TA8", "Notes"}));
    EXPECT_EQ(probe.activeSheet(path), "TA8");
    EXPECT_FALSE(probe.automaticCalculation(path));

    sink.postCell(1, 2, std::string("Sec 1"));
    sink.postCell(2, 2, int32_t{5});
    sink.postCell(3, 2, int32_t{-7});
    sink.postCell(4, 3, int32_t{2147483647});
    // A section name that looks like a number or a formula stays a text.
    sink.postCell(1, 3, std::string("=1+1"));

    EXPECT_EQ(probe.text(path, 1, 2), "Sec 1");
    EXPECT_EQ(probe.value(path, 2, 2), 5);
    EXPECT_EQ(probe.value(path, 3, 2), -7);
    EXPECT_EQ(probe.value(path, 4, 3), 2147483647.0);
    EXPECT_EQ(probe.text(path, 1, 3), "=1+1");
    // Calculation is manual: the formulas show the cells only because every write recalculated.
    EXPECT_EQ(probe.value(path, 1, 4), 5.0 - 7.0 + 2147483647.0);
    EXPECT_EQ(probe.text(path, 2, 4), "Sec 1!");
    EXPECT_TRUE(op.entries().empty());

    sink.close();
    EXPECT_FALSE(sink.isOpen());
    // Left open for the user, calculating again and not saved.
    ASSERT_EQ(probe.openCount(path), 1);
    EXPECT_TRUE(probe.automaticCalculation(path));
    EXPECT_TRUE(probe.modified(path));
}

TEST_F(WorkbookOfficeTest, WorkbookAlreadyOpenIsReused) {
    const std::string path = copyOf(templates_.withTa8, "reused.xls");
    ScriptedOperator op;
    WorkbookCellSink first(op, options_);
    ASSERT_EQ(first.open(path), WorkbookOpen::Opened);
    first.postCell(2, 2, int32_t{11});
    first.close();

    WorkbookCellSink second(op, options_);
    ASSERT_EQ(second.open(path), WorkbookOpen::Opened);
    second.postCell(3, 2, int32_t{4});
    const OfficeProbe probe(options_);
    EXPECT_EQ(probe.openCount(path), 1);
    // The second run writes into the same document, next to what the first one wrote.
    EXPECT_EQ(probe.value(path, 1, 4), 15.0);
    EXPECT_EQ(probe.sheetNames(path), (std::vector<std::string>{"Summary", "TA8", "Notes"}));
    second.close();
}

TEST_F(WorkbookOfficeTest, WorkbookWithoutTa8GetsItAfterItsLastSheet) {
    const std::string path = copyOf(templates_.withoutTa8, "plain-copy.xls");
    ScriptedOperator op;
    WorkbookCellSink sink(op, options_);
    ASSERT_EQ(sink.open(path), WorkbookOpen::Opened);
    sink.postCell(2, 1, int32_t{3});
    const OfficeProbe probe(options_);
    EXPECT_EQ(probe.sheetNames(path), (std::vector<std::string>{"First", "Second", "TA8"}));
    EXPECT_EQ(probe.activeSheet(path), "TA8");
    EXPECT_EQ(probe.value(path, 2, 1), 3.0);
    sink.close();
}

TEST_F(WorkbookOfficeTest, CellsPostedWhileNoWorkbookIsOpenAreDropped) {
    const std::string path = copyOf(templates_.withTa8, "dropped.xls");
    ScriptedOperator op;
    WorkbookCellSink sink(op, options_);
    sink.postCell(2, 2, int32_t{100});
    ASSERT_EQ(sink.open(path), WorkbookOpen::Opened);
    sink.postCell(3, 2, int32_t{1});
    sink.close();
    sink.postCell(4, 2, int32_t{1000});
    sink.postCell(1, 2, std::string("late"));

    const OfficeProbe probe(options_);
    EXPECT_EQ(probe.value(path, 2, 2), 0.0);
    EXPECT_EQ(probe.value(path, 4, 2), 0.0);
    EXPECT_EQ(probe.text(path, 1, 2), "");
    EXPECT_EQ(probe.value(path, 1, 4), 1.0);
    EXPECT_TRUE(op.entries().empty());
}

TEST_F(WorkbookOfficeTest, FinishStoresTheWorkbookAndLeavesTheUsersOfficeRunning) {
    // The shared office was not started by this sink: to it, it is the user's.
    const std::string path = copyOf(templates_.withTa8, "kept.xls");
    ScriptedOperator op;
    WorkbookCellSink sink(op, options_);
    ASSERT_EQ(sink.open(path), WorkbookOpen::Opened);
    EXPECT_FALSE(sink.excel().startedOfficePid());
    sink.postCell(2, 2, int32_t{8});
    EXPECT_TRUE(sink.finish());
    EXPECT_TRUE(op.entries().empty());

    const OfficeProbe probe(options_);
    ASSERT_EQ(probe.openCount(path), 1);
    EXPECT_FALSE(probe.modified(path));
    EXPECT_TRUE(probe.automaticCalculation(path));
    ASSERT_TRUE(launcher_->startedOfficePid());
}

TEST_F(WorkbookOfficeTest, StartHandedToTheRunningOfficeLeavesThatOfficeToItsUser) {
    // Same profile, another pipe: the start request goes to the office already running on that
    // profile, which then listens on the new pipe as well.
    OfficeOptions forwarded = options_;
    forwarded.pipeName += "_forwarded";
    forwarded.startTimeout = std::chrono::seconds(60);
    const std::string path = copyOf(templates_.withTa8, "forwarded.xls");
    ScriptedOperator op;
    WorkbookCellSink sink(op, forwarded);
    ASSERT_EQ(sink.open(path), WorkbookOpen::Opened) << ::testing::PrintToString(op.texts("error"));
    EXPECT_FALSE(sink.excel().startedOfficePid());
    sink.postCell(2, 2, int32_t{6});
    EXPECT_TRUE(sink.finish());

    const auto pid = launcher_->startedOfficePid();
    ASSERT_TRUE(pid);
    EXPECT_TRUE(processExists(*pid));
    const OfficeProbe probe(options_);
    EXPECT_EQ(probe.openCount(path), 1);
    EXPECT_EQ(probe.value(path, 1, 4), 6.0);
}

TEST(WorkbookNoOfficeTest, OfficeThatCannotStartIsReportedWithItsOwnText) {
    if (!OfficeOptions().officeInstalled()) {
        GTEST_SKIP() << kNoOffice;
    }
    TempDir dir;
    OfficeOptions options = testOptions(dir, "broken");
    options.soffice = dir.file("soffice");
    std::ofstream(options.soffice) << "#!/bin/sh\necho 'cannot open display' >&2\nexit 3\n";
    fs::permissions(options.soffice, fs::perms::owner_all);
    ScriptedOperator op;
    WorkbookCellSink sink(op, options);
    EXPECT_EQ(sink.open(dir.file("results.xls")), WorkbookOpen::Failed);
    EXPECT_EQ(op.texts("error"),
              (std::vector<std::string>{"Server not found:\r\ncannot open display"}));
    EXPECT_FALSE(sink.isOpen());
}

// Tests that end their office: each starts one of its own.
class WorkbookOwnOfficeTest : public ::testing::Test {
  protected:
    void SetUp() override {
        if (!OfficeOptions().officeInstalled()) {
            GTEST_SKIP() << kNoOffice;
        }
    }
    // A test that stops early must not leave its office running.
    void TearDown() override {
        if (officePid_ && processExists(*officePid_)) {
            ::kill(-*officePid_, SIGKILL);
        }
    }
    std::optional<pid_t> officePid_;
    TempDir dir_;
};

TEST_F(WorkbookOwnOfficeTest, FinishStoresTheWorkbookAndEndsTheOfficeItStarted) {
    const OfficeOptions options = testOptions(dir_, "finish");
    const std::string path = dir_.file("results.xls");
    ScriptedOperator op;
    WorkbookCellSink sink(op, options);
    ASSERT_EQ(sink.open(path), WorkbookOpen::Opened)
        << ::testing::PrintToString(op.entries().size());
    const auto pid = officePid_ = sink.excel().startedOfficePid();
    ASSERT_TRUE(pid);
    sink.postCell(1, 1, std::string("Gain"));
    for (int channel = 0; channel < 32; ++channel) {
        sink.postCell(channel + 2, 1, int32_t{1000 + channel});
    }
    sink.postCell(1, 2, std::string("Offset"));
    sink.postCell(2, 2, int32_t{-5});
    EXPECT_TRUE(sink.finish());
    EXPECT_TRUE(op.entries().empty());
    EXPECT_FALSE(processExists(*pid));

    // Read back as a user would: every sheet to CSV files named after the sheets.
    const std::string outDir = dir_.file("csv");
    fs::create_directory(outDir);
    ASSERT_EQ(convertWithOffice(OfficeOptions(), dir_.path().string(),
                                "csv:Text - txt - csv (StarCalc):44,34,76,1,,0,false,true,false,"
                                "false,false,-1",
                                {path}, outDir),
              "");
    const std::string csv = readFile(outDir + "/results-TA8.csv");
    std::string expected = "Gain,Offset\n";
    for (int channel = 0; channel < 32; ++channel) {
        expected += std::to_string(1000 + channel) + (channel == 0 ? ",-5\n" : ",\n");
    }
    EXPECT_EQ(csv, expected);
}

TEST_F(WorkbookOwnOfficeTest, ThreeFailedWritesThenCancelStopTheRunsWrites) {
    const OfficeOptions options = testOptions(dir_, "killed");
    ScriptedOperator op;
    WorkbookCellSink sink(op, options);
    ASSERT_EQ(sink.open(dir_.file("results.xls")), WorkbookOpen::Opened);
    sink.postCell(2, 1, int32_t{1});
    ASSERT_TRUE(op.entries().empty());
    const auto pid = officePid_ = sink.excel().startedOfficePid();
    ASSERT_TRUE(pid);
    ::kill(-*pid, SIGKILL);

    op.queueAnswer(true);   // Retry: three more attempts
    op.queueAnswer(false);  // Cancel
    sink.postCell(3, 1, int32_t{2});
    const auto questions = op.texts("retrycancel");
    ASSERT_EQ(questions.size(), 2u);
    for (const auto& question : questions) {
        // The office's own words sit between the frame of the message.
        EXPECT_EQ(question.rfind("Excel Error:\r\n\r\n", 0), 0u) << question;
        EXPECT_GT(question.size(), std::string("Excel Error:\r\n\r\n\r\n").size()) << question;
        EXPECT_EQ(question.substr(question.size() - 2), "\r\n");
    }
    EXPECT_FALSE(sink.isOpen());
    // Cancel closed the connection, which the dead office could not confirm.
    EXPECT_EQ(op.texts("error"), (std::vector<std::string>{"Error on CExcel::Close()"}));

    const auto before = op.entries().size();
    sink.postCell(4, 1, int32_t{3});
    sink.postCell(1, 1, std::string("Sec"));
    EXPECT_EQ(op.entries().size(), before);
    sink.finish();
    EXPECT_FALSE(processExists(*pid));
}

}  // namespace
}  // namespace nimbra::test
