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
    line.clear();
    if (lineStart != nullptr) {
        *lineStart = std::ftell(file);
    }
    flockfile(file);
    bool readAny = false;
    for (;;) {
        const int c = getc_unlocked(file);
        if (c == EOF) {
            break;
        }
        readAny = true;
        if (c == '\n') {
            break;
        }
        if (c == '\r') {
            getc_unlocked(file);
            break;
        }
        line.push_back(static_cast<char>(c));
    }
    funlockfile(file);
    return readAny ? 1 : 0;
}

int ParseSection(std::FILE* file, _VISACMDLIST& section, int& lineNo) {
    CMatch match(kInsideSection);
    section.rele = -1;

    std::string line;
    long lineStart = 0;
    if (!ReadScriptLine(file, line, &lineStart)) {
        return 0;
    }
    do {
        ++lineNo;
        if (line.empty()) {
            continue;
        }
        if (!match.Match(line.c_str(), 0)) {
            return 0;
        }
        const int kind = match.List().GetAltIndex(1);
        if (kind == kHeader) {
            std::fseek(file, lineStart, SEEK_SET);
            --lineNo;
            return 1;
        }
        if (!applyLine(kind, match, line.c_str(), section)) {
            return 0;
        }
    } while (ReadScriptLine(file, line, &lineStart));
    return 1;
}

int LoadSequenceFile(const std::filesystem::path& path, int* lineNo,
                     std::vector<_VISACMDLIST>& sections) {
    int lines = 0;
    if (lineNo != nullptr) {
        *lineNo = 0;
    }
    sections.clear();
    CMatch match(kOutsideSection);
    std::unique_ptr<std::FILE, FileCloser> file(std::fopen(path.c_str(), "rb"));
    if (!file) {
        return 0;
    }

    int result = 0;
    std::string line;
    while (ReadScriptLine(file.get(), line)) {
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
        result = ParseSection(file.get(), section, lines);
        if (result == 0) {
            break;
        }
    }
    if (lineNo != nullptr) {
        *lineNo = lines;
    }
    return result;
}

}  // namespace tarvo
