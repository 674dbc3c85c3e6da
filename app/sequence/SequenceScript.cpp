#include "sequence/SequenceScript.h"

#include <memory>

#include "pattern/CMatch.h"
#include "sequence/ScriptValues.h"

namespace tarvo {
namespace {

// The two line shapes of a sequence file. A TAB stands in them as the character itself.
constexpr const char* kOutsideSection = "(^[ \t]*\\[\\c[^\\]]+\\c\\]|^[ \t]*//[^$]+|^[ \t]*$)";
constexpr const char* kInsideSection =
    "^[ \t]*(\\[\\c[^\\]]+\\c\\]|//[^$]+|^[ \t]*$|Measure[ \t]*=[ \t]*\\c[^$]+\\c|"
    "TA[ \t]*=[ \t]*\\c[^$]+\\c|Threshold[ \t]*=[ \t]*\\c[^$]+\\c|Rele[ \t]*=[ \t]*\\c[^$]+\\c|"
    "\\c[^$]+\\c)";

// Alternatives of the group both patterns are built around.
enum LineKind {
    kHeader = 0,
    kComment = 1,
    kBlank = 2,
    kMeasure = 3,
    kTa = 4,
    kThreshold = 5,
    kRele = 6,
    kCommand = 7,
};

constexpr double kThresholdLimit = 2.5;

struct FileCloser {
    void operator()(std::FILE* file) const { std::fclose(file); }
};

// Applies one keyword or command line to the section; false when its value is rejected.
bool applyLine(int kind, const CMatch& match, const char* line, _VISACMDLIST& section) {
    switch (kind) {
        case kMeasure:
            section.measure = measureKindFromKeyword(match.GetText(3, 4, line));
            return true;
        case kTa: {
            const std::int64_t ta = leadingInteger(match.GetText(5, 6, line));
            if (ta < 1 || ta > 8) {
                return false;
            }
            section.taIndex = static_cast<std::int32_t>(ta - 1);
            return true;
        }
        case kThreshold: {
            const double volts = leadingDecimal(match.GetText(7, 8, line));
            if (!(volts >= -kThresholdLimit && volts <= kThresholdLimit)) {
                return false;
            }
            section.threshold = volts;
            return true;
        }
        case kRele: {
            const std::string value = match.GetText(9, 10, line);
            if (equalsNoCase(value, "ON")) {
                section.rele = 1;
            } else if (equalsNoCase(value, "OFF")) {
                section.rele = 0;
            } else {
                return false;
            }
            return true;
        }
        case kCommand:
            section.commands.push_back(match.GetText(11, 12, line));
            return true;
        default:
            return true;
    }
}

// The line reader behind ReadScriptLine. `consumed` receives the bytes taken from the file, line
// end included, so that a caller can find a line's start again without asking the file. Returns
// 1, 0 at the end of the file, -1 for a line longer than kMaxScriptLineBytes.
int readLine(std::FILE* file, std::string& line, long& consumed) {
    line.clear();
    consumed = 0;
    flockfile(file);
    for (;;) {
        const int c = getc_unlocked(file);
        if (c == EOF) {
            break;
        }
        ++consumed;
        if (c == '\n') {
            break;
        }
        if (c == '\r') {
            consumed += getc_unlocked(file) != EOF;
            break;
        }
        if (line.size() == kMaxScriptLineBytes) {
            ungetc(c, file);
            --consumed;
            funlockfile(file);
            return -1;
        }
        line.push_back(static_cast<char>(c));
    }
    funlockfile(file);
    return consumed > 0 ? 1 : 0;
}

// How the body of a section ended.
enum class BodyEnd { kNoLine, kRejected, kTooLong, kEndOfFile, kHeader };

// Reads the body of a section into `section` with the inside-section pattern `match`. On a header
// the header line is left in `line`, not counted, with `consumed` its length in the file: the
// loader takes it from there, ParseSection moves the file back to it.
BodyEnd readBody(std::FILE* file, CMatch& match, _VISACMDLIST& section, int& lineNo,
                 std::string& line, long& consumed) {
    section.rele = -1;
    int got = readLine(file, line, consumed);
    if (got == 0) {
        return BodyEnd::kNoLine;
    }
    for (; got != 0; got = readLine(file, line, consumed)) {
        ++lineNo;
        if (got < 0) {
            return BodyEnd::kTooLong;
        }
        if (line.empty()) {
            continue;
        }
        if (!match.Match(line.c_str(), 0)) {
            return BodyEnd::kRejected;
        }
        const int kind = match.List().GetAltIndex(1);
        if (kind == kHeader) {
            --lineNo;
            return BodyEnd::kHeader;
        }
        if (!applyLine(kind, match, line.c_str(), section)) {
            return BodyEnd::kRejected;
        }
    }
    return BodyEnd::kEndOfFile;
}

}  // namespace

MeasureKind measureKindFromKeyword(const std::string& word) {
    static constexpr struct {
        const char* keyword;
        MeasureKind kind;
    } kKinds[] = {
        {"Average", MeasureKind::Average},     {"Peak", MeasureKind::Peak},
        {"Trigger", MeasureKind::Trigger},     {"PeakNeg", MeasureKind::PeakNeg},
        {"Threshold", MeasureKind::Threshold}, {"ThresholdNeg", MeasureKind::ThresholdNeg},
        {"Sequence", MeasureKind::Sequence},
    };
    for (const auto& entry : kKinds) {
        if (equalsNoCase(word, entry.keyword)) {
            return entry.kind;
        }
    }
    return MeasureKind::None;
}

int ReadScriptLine(std::FILE* file, std::string& line, long* lineStart) {
    if (lineStart != nullptr) {
        *lineStart = std::ftell(file);
    }
    long consumed = 0;
    return readLine(file, line, consumed);
}

int ParseSection(std::FILE* file, _VISACMDLIST& section, int& lineNo) {
    CMatch match(kInsideSection);
    std::string line;
    long consumed = 0;
    switch (readBody(file, match, section, lineNo, line, consumed)) {
        case BodyEnd::kHeader:
            std::fseek(file, -consumed, SEEK_CUR);
            return 1;
        case BodyEnd::kEndOfFile:
            return 1;
        default:
            return 0;
    }
}

std::string scriptLineTooLongReason() {
    return "line longer than " + std::to_string(kMaxScriptLineBytes) + " bytes";
}

int LoadSequenceFile(const std::filesystem::path& path, int* lineNo,
                     std::vector<_VISACMDLIST>& sections, std::string* reason) {
    int lines = 0;
    if (lineNo != nullptr) {
        *lineNo = 0;
    }
    if (reason != nullptr) {
        reason->clear();
    }
    bool tooLong = false;
    sections.clear();
    CMatch match(kOutsideSection);
    CMatch inside(kInsideSection);
    std::unique_ptr<std::FILE, FileCloser> file(std::fopen(path.c_str(), "rb"));
    if (!file) {
        return 0;
    }

    int result = 0;
    std::string line;
    long consumed = 0;
    // A section body that ends at a header hands the header line back instead of seeking to it.
    bool headerPending = false;
    for (;;) {
        if (!headerPending) {
            const int got = readLine(file.get(), line, consumed);
            if (got == 0) {
                break;
            }
            if (got < 0) {
                ++lines;
                tooLong = true;
                break;
            }
        }
        headerPending = false;
        ++lines;
        if (line.empty()) {
            continue;
        }
        if (!match.Match(line.c_str(), 0)) {
            break;
        }
        if (match.List().GetAltIndex(1) != kHeader) {
            continue;
        }
        _VISACMDLIST& section = sections.emplace_back();
        section.name = match.GetText(1, 2, line.c_str());
        const BodyEnd end = readBody(file.get(), inside, section, lines, line, consumed);
        result = end == BodyEnd::kHeader || end == BodyEnd::kEndOfFile ? 1 : 0;
        if (result == 0) {
            tooLong = end == BodyEnd::kTooLong;
            break;
        }
        headerPending = end == BodyEnd::kHeader;
    }
    if (tooLong) {
        result = 0;
        if (reason != nullptr) {
            *reason = scriptLineTooLongReason();
        }
    }
    if (lineNo != nullptr) {
        *lineNo = lines;
    }
    return result;
}

}  // namespace tarvo
