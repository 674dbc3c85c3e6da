#include <gtest/gtest.h>

#include <cstdio>
#include <fstream>
#include <string>
#include <vector>

#include "sequence/SequenceScript.h"
#include "support/TempDir.h"

namespace tarvo {
namespace {

struct Loaded {
    int result = -1;
    int lineNo = -1;
    std::vector<_VISACMDLIST> sections;
};

class SequenceScriptTest : public ::testing::Test {
  protected:
    std::string write(const std::string& content) {
        const std::string path = dir_.file("seq" + std::to_string(++count_) + ".txt");
        std::ofstream(path, std::ios::binary) << content;
        return path;
    }
    Loaded load(const std::string& content) {
        Loaded l;
        l.result = LoadSequenceFile(write(content), &l.lineNo, l.sections);
        return l;
    }
    // The line a file fails at, or 0 when it loads.
    int failingLine(const std::string& content) {
        Loaded l = load(content);
        return l.result ? 0 : l.lineNo;
    }

    nimbra::test::TempDir dir_;
    int count_ = 0;
};

TEST_F(SequenceScriptTest, LoadsSectionsInFileOrder) {
    Loaded l = load(
        "// bench sequence\r\n"
        "\r\n"
        "[Base] anything here\r\n"
        "Measure = Average\r\n"
        "TA = 3\r\n"
        "  *RST\r\n"
        "\tVOLT 0.1 ;// note\r\n"
        "// comment inside\r\n"
        "Threshold = -1.25\r\n"
        "Rele = on\r\n"
        "[ Pulse 2 ]\r\n"
        "measure=peakneg\r\n"
        "TA=8\r\n"
        "Rele=OFF\r\n"
        "//\r\n"
        "[]\r\n"
        "Measure = Trigger\r\n"
        "[Last]\r\n"
        "Threshold = 2.5");
    ASSERT_EQ(l.result, 1);
    EXPECT_EQ(l.lineNo, 19);
    ASSERT_EQ(l.sections.size(), 3u);

    const _VISACMDLIST& a = l.sections[0];
    EXPECT_EQ(a.name, "Base");
    EXPECT_EQ(a.measure, MeasureKind::Average);
    EXPECT_EQ(a.taIndex, 2);
    EXPECT_EQ(a.commands, (std::vector<std::string>{"*RST", "VOLT 0.1 ;// note"}));
    EXPECT_EQ(a.threshold, -1.25);
    EXPECT_EQ(a.rele, 1);

    const _VISACMDLIST& b = l.sections[1];
    EXPECT_EQ(b.name, " Pulse 2 ");
    EXPECT_EQ(b.measure, MeasureKind::Trigger);  // the later line overrides
    EXPECT_EQ(b.taIndex, 7);
    EXPECT_EQ(b.rele, 0);
    EXPECT_EQ(b.commands, (std::vector<std::string>{"//", "[]"}));
    EXPECT_EQ(b.threshold, 0.0);

    const _VISACMDLIST& c = l.sections[2];
    EXPECT_EQ(c.name, "Last");
    EXPECT_EQ(c.measure, MeasureKind::None);
    EXPECT_EQ(c.taIndex, 0);
    EXPECT_EQ(c.threshold, 2.5);
    EXPECT_EQ(c.rele, -1);
    EXPECT_TRUE(c.commands.empty());
}

TEST_F(SequenceScriptTest, MeasureKeywordsAreWholeWordsWithoutCase) {
    const std::vector<std::pair<std::string, MeasureKind>> kinds = {
        {"average", MeasureKind::Average},     {"PEAK", MeasureKind::Peak},
        {"Trigger", MeasureKind::Trigger},     {"PeakNeg", MeasureKind::PeakNeg},
        {"threshold", MeasureKind::Threshold}, {"ThresholdNEG", MeasureKind::ThresholdNeg},
        {"Sequence", MeasureKind::Sequence},   {"Averages", MeasureKind::None},
        {"Peak ", MeasureKind::None},          {"Pea", MeasureKind::None},
    };
    for (const auto& [word, kind] : kinds) {
        Loaded l = load("[S]\nMeasure = Peak\nMeasure = " + word + "\n");
        ASSERT_EQ(l.result, 1) << word;
        EXPECT_EQ(l.sections[0].measure, kind) << word;
    }
}

TEST_F(SequenceScriptTest, RejectedValuesFailAtTheirLine) {
    EXPECT_EQ(failingLine("[S]\nTA = 0\n"), 2);
    EXPECT_EQ(failingLine("[S]\n\nTA = 9\n"), 3);
    EXPECT_EQ(failingLine("[S]\nTA = x\n"), 2);
    EXPECT_EQ(failingLine("[S]\nTA = -1\n"), 2);
    // A number too large for 32 bits must not wrap into 1..8.
    EXPECT_EQ(failingLine("[S]\nTA = 4294967297\n"), 2);
    EXPECT_EQ(failingLine("[S]\nTA = 99999999999999999999999999\n"), 2);
    EXPECT_EQ(failingLine("[S]\nThreshold = 2.51\n"), 2);
    EXPECT_EQ(failingLine("[S]\nThreshold = -2.5000001\n"), 2);
    EXPECT_EQ(failingLine("[S]\nThreshold = 1e999\n"), 2);
    EXPECT_EQ(failingLine("[S]\nRele = OFF \n"), 2);
    EXPECT_EQ(failingLine("[S]\nRele = yes\n"), 2);
    EXPECT_EQ(failingLine("[S]\nRele = o\n"), 2);
    // A line of blanks matches nothing inside a section; before the first header it is skipped.
    EXPECT_EQ(failingLine("[S]\n*RST\n  \t\n"), 3);
    EXPECT_EQ(failingLine("  \n[S]\n*RST\n"), 0);
}

TEST_F(SequenceScriptTest, AcceptedValues) {
    Loaded l = load("[S]\nTA = 3abc\nThreshold = -2.5\nRele = Off\n");
    ASSERT_EQ(l.result, 1);
    EXPECT_EQ(l.sections[0].taIndex, 2);
    EXPECT_EQ(l.sections[0].threshold, -2.5);
    EXPECT_EQ(l.sections[0].rele, 0);
    // Values without a leading number read as 0, which a threshold accepts.
    for (const char* value : {"x", "nan", "inf", ".", "-"}) {
        Loaded t = load(std::string("[S]\nThreshold = 1\nThreshold = ") + value + "\n");
        ASSERT_EQ(t.result, 1) << value;
        EXPECT_EQ(t.sections[0].threshold, 0.0) << value;
    }
    EXPECT_EQ(load("[S]\nThreshold = 0x2\n").sections[0].threshold, 0.0);
    EXPECT_EQ(load("[S]\nThreshold = 25e-1V\n").sections[0].threshold, 2.5);
    EXPECT_EQ(load("[S]\nThreshold = .5e\n").sections[0].threshold, 0.5);
}

TEST_F(SequenceScriptTest, LinesOutsideSections) {
    // Before the first header only headers, comments and blank lines may stand.
    EXPECT_EQ(failingLine("// c\n[]\n[S]\nx\n"), 2);
    EXPECT_EQ(failingLine("//\n[S]\nx\n"), 1);
    EXPECT_EQ(failingLine("*RST\n[S]\nx\n"), 1);
    Loaded l = load("\t// c\n \t \n[a b] tail\nx\n");
    ASSERT_EQ(l.result, 1);
    EXPECT_EQ(l.sections[0].name, "a b");
}

TEST_F(SequenceScriptTest, FilesThatHoldNoUsableSection) {
    Loaded missing;
    missing.result =
        LoadSequenceFile(dir_.file("does-not-exist"), &missing.lineNo, missing.sections);
    EXPECT_EQ(missing.result, 0);
    EXPECT_EQ(missing.lineNo, 0);

    Loaded empty = load("");
    EXPECT_EQ(empty.result, 0);
    EXPECT_EQ(empty.lineNo, 0);

    Loaded comments = load("// a\n\n// b\n  \n");
    EXPECT_EQ(comments.result, 0);
    EXPECT_EQ(comments.lineNo, 4);

    // A header with no line after it fails at the header; an empty line after it is a body.
    EXPECT_EQ(failingLine("[A]\nx\n[B]"), 3);
    EXPECT_EQ(failingLine("[A]\nx\n[B]\n"), 3);
    Loaded emptyBody = load("[A]\n\n");
    EXPECT_EQ(emptyBody.result, 1);
    EXPECT_EQ(emptyBody.lineNo, 2);
}

TEST_F(SequenceScriptTest, SectionsLoadedBeforeAFailureStay) {
    std::vector<_VISACMDLIST> sections(5);
    int lineNo = -1;
    EXPECT_EQ(LoadSequenceFile(write("[A]\nx\n[B]\nTA = 0\n[C]\ny\n"), &lineNo, sections), 0);
    EXPECT_EQ(lineNo, 4);
    ASSERT_EQ(sections.size(), 2u);
    EXPECT_EQ(sections[0].commands, std::vector<std::string>{"x"});
    EXPECT_EQ(sections[1].name, "B");
    // lineNo is optional.
    EXPECT_EQ(LoadSequenceFile(write("[A]\nx\n"), nullptr, sections), 1);
    EXPECT_EQ(sections.size(), 1u);
}

TEST_F(SequenceScriptTest, ConsecutiveHeadersGiveEmptySections) {
    Loaded l = load("[A]\n[B]\n\n[C]\nx\n");
    ASSERT_EQ(l.result, 1);
    ASSERT_EQ(l.sections.size(), 3u);
    EXPECT_TRUE(l.sections[0].commands.empty());
    EXPECT_TRUE(l.sections[1].commands.empty());
    EXPECT_EQ(l.sections[2].commands, std::vector<std::string>{"x"});
    EXPECT_EQ(l.lineNo, 5);
}

TEST_F(SequenceScriptTest, LineEnds) {
    const std::string unix = "// c\n[S]\nTA = 2\n*RST\n\nVOLT 1\n";
    std::string windows;
    for (char c : unix) {
        windows += c == '\n' ? std::string("\r\n") : std::string(1, c);
    }
    Loaded u = load(unix);
    Loaded w = load(windows);
    ASSERT_EQ(u.result, 1);
    ASSERT_EQ(w.result, 1);
    EXPECT_EQ(u.lineNo, 6);
    EXPECT_EQ(w.lineNo, 6);
    EXPECT_EQ(w.sections[0].commands, u.sections[0].commands);
    EXPECT_EQ(w.sections[0].taIndex, 1);
    // A lone CR drops the first byte of the next line; a last line without an end still counts.
    Loaded cr = load("[S]\rXVOLT 1\r\nTA = 4");
    ASSERT_EQ(cr.result, 1);
    EXPECT_EQ(cr.sections[0].commands, std::vector<std::string>{"VOLT 1"});
    EXPECT_EQ(cr.sections[0].taIndex, 3);
    EXPECT_EQ(cr.lineNo, 3);
    // Error lines are counted the same way with either line end.
    EXPECT_EQ(failingLine("[S]\r\nx\r\n \r\n"), 3);
}

std::FILE* fileWith(const std::string& content) {
    std::FILE* file = std::tmpfile();
    if (file != nullptr) {
        std::fwrite(content.data(), 1, content.size(), file);
        std::rewind(file);
    }
    return file;
}

TEST(ParseSection, LeavesTheFileAtTheNextHeader) {
    std::FILE* file = fileWith("TA = 2\r\n\r\n*RST\r\n  [Next] x\r\ny\r\n");
    ASSERT_NE(file, nullptr);
    _VISACMDLIST section;
    section.rele = 1;
    int lineNo = 10;
    EXPECT_EQ(ParseSection(file, section, lineNo), 1);
    EXPECT_EQ(lineNo, 13);
    EXPECT_EQ(section.taIndex, 1);
    EXPECT_EQ(section.rele, -1);
    EXPECT_EQ(section.commands, std::vector<std::string>{"*RST"});
    std::string line;
    ASSERT_EQ(ReadScriptLine(file, line), 1);
    EXPECT_EQ(line, "  [Next] x");
    std::fclose(file);
}

TEST(ParseSection, NeedsABody) {
    std::FILE* file = fileWith("");
    ASSERT_NE(file, nullptr);
    _VISACMDLIST section;
    int lineNo = 4;
    EXPECT_EQ(ParseSection(file, section, lineNo), 0);
    EXPECT_EQ(lineNo, 4);
    std::fclose(file);
}

TEST(ReadScriptLine, SplitsAndReportsLineStarts) {
    std::FILE* file = std::tmpfile();
    ASSERT_NE(file, nullptr);
    const std::string content = "ab\r\ncd\rXef\n\ngh";
    std::fwrite(content.data(), 1, content.size(), file);
    std::rewind(file);
    std::vector<std::pair<std::string, long>> lines;
    std::string line;
    long start = -1;
    while (ReadScriptLine(file, line, &start)) {
        lines.emplace_back(line, start);
    }
    std::fclose(file);
    const std::vector<std::pair<std::string, long>> expected = {
        {"ab", 0}, {"cd", 4}, {"ef", 8}, {"", 11}, {"gh", 12}};
    EXPECT_EQ(lines, expected);
}

TEST_F(SequenceScriptTest, LinesUpToOneMebibyteLoadLongerOnesAreRefused) {
    const std::string longest(kMaxScriptLineBytes, 'x');
    Loaded l = load("[A]\n" + longest + "\r\n[B]\n" + longest);
    ASSERT_EQ(l.result, 1);
    ASSERT_EQ(l.sections.size(), 2u);
    EXPECT_EQ(l.sections[1].commands, std::vector<std::string>{longest});

    std::string reason;
    int lineNo = 0;
    std::vector<_VISACMDLIST> sections;
    // Too long outside a section, and inside one.
    EXPECT_EQ(LoadSequenceFile(write(longest + "y"), &lineNo, sections, &reason), 0);
    EXPECT_EQ(lineNo, 1);
    EXPECT_EQ(reason, "line longer than 1048576 bytes");
    EXPECT_EQ(LoadSequenceFile(write("[A]\nx\n\n" + longest + "yy\n"), &lineNo, sections, &reason),
              0);
    EXPECT_EQ(lineNo, 4);
    EXPECT_EQ(reason, "line longer than 1048576 bytes");
    // Another refusal leaves no stale reason behind.
    EXPECT_EQ(LoadSequenceFile(write("[A]\nTA = 9\n"), &lineNo, sections, &reason), 0);
    EXPECT_EQ(reason, "");

    std::FILE* file = std::fopen(write(longest + "z\nnext\n").c_str(), "rb");
    ASSERT_NE(file, nullptr);
    std::string line;
    EXPECT_EQ(ReadScriptLine(file, line), -1);
    EXPECT_EQ(line.size(), kMaxScriptLineBytes);
    std::fclose(file);
}

TEST(ReadScriptLine, CarriageReturnAtTheEndOfTheFile) {
    std::FILE* file = std::tmpfile();
    ASSERT_NE(file, nullptr);
    std::fputs("x\r", file);
    std::rewind(file);
    std::string line;
    EXPECT_EQ(ReadScriptLine(file, line), 1);
    EXPECT_EQ(line, "x");
    EXPECT_EQ(ReadScriptLine(file, line), 0);
    EXPECT_EQ(line, "");
    std::fclose(file);
}

}  // namespace
}  // namespace tarvo
