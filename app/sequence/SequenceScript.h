#pragma once

#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <string>
#include <vector>

namespace tarvo {

// What one step of the automatic sequence test measures.
enum class MeasureKind : std::int32_t {
    None = 0,  // commands only
    Average = 1,
    Peak = 2,
    Trigger = 3,
    PeakNeg = 4,
    Threshold = 5,
    ThresholdNeg = 6,
    Sequence = 7,
};

// The kind whose keyword equals `word` without regard to case, or MeasureKind::None.
MeasureKind measureKindFromKeyword(const std::string& word);

// One section of a sequence file: one step of the test.
struct _VISACMDLIST {
    std::string name;
    MeasureKind measure = MeasureKind::None;
    std::int32_t taIndex = 0;           // TA number minus one, 0..7
    std::vector<std::string> commands;  // instrument command lines, in file order
    double threshold = 0.0;             // volts, -2.5..+2.5
    std::int32_t rele = -1;             // -1 not given, 0 "OFF", 1 "ON"
};

// The longest line a sequence file may hold, line end not counted. Real files have lines of a
// few dozen bytes; the limit keeps a file without line ends (a device, a binary) from growing one
// line until memory runs out.
constexpr std::size_t kMaxScriptLineBytes = std::size_t(1) << 20;

// Reads the sequence file at `path` into `sections`, in file order. Returns 1 on success, 0 on
// failure. `lineNo`, when given, receives the number of the last line read: on failure the
// offending line, or 0 when the file cannot be opened or holds no line. `reason`, when given,
// receives why a line was refused when the line alone does not show it (a line too long), and
// is cleared otherwise.
int LoadSequenceFile(const std::filesystem::path& path, int* lineNo,
                     std::vector<_VISACMDLIST>& sections, std::string* reason = nullptr);

// The reason LoadSequenceFile gives for a line longer than kMaxScriptLineBytes.
std::string scriptLineTooLongReason();

// Reads the body of one section into `section`, counting lines in `lineNo`, and leaves `file` at
// the next section's header or at the end. Returns 1, or 0 on a line it rejects (lineNo then
// names it), on a line longer than kMaxScriptLineBytes and on a header with no line after it.
int ParseSection(std::FILE* file, _VISACMDLIST& section, int& lineNo);

// Reads one line, byte by byte: it ends at LF, or at CR, which also drops the byte after it.
// Returns 1 if at least one byte was read, 0 at the end of the file, -1 when the line is longer
// than kMaxScriptLineBytes (`line` then holds its first kMaxScriptLineBytes bytes and the file is
// left inside the line). `lineStart`, when given, receives the file position of the line's first
// byte.
int ReadScriptLine(std::FILE* file, std::string& line, long* lineStart = nullptr);

}  // namespace tarvo
