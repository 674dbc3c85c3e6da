// A desk without an office (or a build without its SDK): the run goes on without a workbook.
#include <gtest/gtest.h>

#include <filesystem>

#include "shell/Operator.h"
#include "spreadsheet/WorkbookCellSink.h"
#include "support/TempDir.h"

namespace nimbra::test {
namespace {

using tarvo::OfficeOptions;
using tarvo::ScriptedOperator;
using tarvo::WorkbookCellSink;
using tarvo::WorkbookOpen;

TEST(WorkbookNoOfficeTest, NoInstalledOfficeIsToldOnceAndCellsAreDropped) {
    TempDir dir;
    OfficeOptions options;
    options.pipeName = "tarvo_test_none";
    options.programDir = dir.file("no-office");
    ScriptedOperator op;
    WorkbookCellSink sink(op, options);
    EXPECT_EQ(sink.open(dir.file("results.xls")), WorkbookOpen::NoOffice);
    EXPECT_FALSE(sink.isOpen());
    sink.postCell(1, 1, std::string("Sec"));
    sink.postCell(2, 1, int32_t{1});
    EXPECT_TRUE(sink.finish());
    EXPECT_EQ(op.texts("error"), (std::vector<std::string>{"Server not found"}));
    EXPECT_EQ(op.entries().size(), 1u);
    EXPECT_FALSE(std::filesystem::exists(dir.file("results.xls")));
}

}  // namespace
}  // namespace nimbra::test
