// Measures the pattern engine on the work it does most: the lines of a large sequence file.
//
//   match: every non-empty line of the file matched with the inside-section pattern, the
//          alternative read and its value taken out; the same with std::regex and RE2 on an
//          equivalent pattern (leftmost-first alternation, one capture per alternative).
//   load:  LoadSequenceFile of the whole file, against reading the same file with the same line
//          reader and building the same section records from std::regex and RE2 captures.
//
// Every engine must agree on each line's alternative and value; the program says so, then prints
// times and ratios measured side by side in this one run.
#include <re2/re2.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <functional>
#include <regex>
#include <string>
#include <vector>

#include "pattern/CMatch.h"
#include "sequence/ScriptValues.h"
#include "sequence/SequenceScript.h"

namespace {

constexpr int kLines = 200000;
constexpr int kRounds = 3;

const char* const kInsideSection =
    "^[ \t]*(\\[\\c[^\\]]+\\c\\]|//[^$]+|^[ \t]*$|Measure[ \t]*=[ \t]*\\c[^$]+\\c|"
    "TA[ \t]*=[ \t]*\\c[^$]+\\c|Threshold[ \t]*=[ \t]*\\c[^$]+\\c|Rele[ \t]*=[ \t]*\\c[^$]+\\c|"
    "\\c[^$]+\\c)";
// The same line shapes for engines that backtrack or run automata: one capture per alternative,
// so the first capture that took part names the alternative.
const char* const kEquivalent =
    "^[ \t]*(?:\\[([^\\]\\r\\n]+)\\]|(//[^\\r\\n]+)|()$|Measure[ \t]*=[ \t]*([^\\r\\n]+)|"
    "TA[ \t]*=[ \t]*([^\\r\\n]+)|Threshold[ \t]*=[ \t]*([^\\r\\n]+)|"
    "Rele[ \t]*=[ \t]*([^\\r\\n]+)|([^\\r\\n]+))";

// A value's alternative and text, folded into one number per line for comparing engines.
struct Tally {
    long long sum = 0;
    void add(int alt, size_t valueLength) { sum = sum * 31 + alt * 1000 + valueLength; }
};

// A plausible sequence file: sections of keyword lines, instrument commands and comments.
std::vector<std::string> makeLines() {
    const char* const commands[] = {
        "*RST",          "  OUTP ON",          "\tVOLT:AMPL 0.125 ;// pulse amplitude",
        "FREQ 1000",     "PULS:WIDT 0.000002", "SOUR:FUNC PULS",
        "BURS:STAT OFF", "TRIG:SOUR EXT"};
    const char* const kinds[] = {"Average", "Peak", "Trigger", "PeakNeg", "Threshold", "Sequence"};
    std::vector<std::string> lines;
    lines.reserve(kLines);
    for (int section = 0; static_cast<int>(lines.size()) < kLines; ++section) {
        lines.push_back("[Step " + std::to_string(section) + "] generated");
        lines.push_back("Measure = " + std::string(kinds[section % 6]));
        lines.push_back("TA = " + std::to_string(section % 8 + 1));
        lines.push_back("Threshold = " + std::to_string((section % 50) * 0.05 - 1.25));
        lines.push_back(section % 2 ? "Rele = ON" : "Rele = off");
        lines.push_back("// amplitude step " + std::to_string(section));
        lines.push_back("");
        for (int c = 0; c < 13; ++c) {
            lines.push_back(commands[(section + c) % 8]);
        }
    }
    lines.resize(kLines);
    return lines;
}

double secondsOf(const std::function<void()>& work) {
    double best = 1e30;
    for (int round = 0; round < kRounds; ++round) {
        const auto start = std::chrono::steady_clock::now();
        work();
        const std::chrono::duration<double> took = std::chrono::steady_clock::now() - start;
        best = std::min(best, took.count());
    }
    return best;
}

const int kFirstMark[8] = {1, 0, 0, 3, 5, 7, 9, 11};

void matchOurs(CMatch& match, const std::string& line, Tally& tally) {
    if (!match.Match(line.c_str(), 0)) {
        tally.add(-1, 0);
        return;
    }
    const int alt = match.List().GetAltIndex(1);
    const int mark = kFirstMark[alt];
    tally.add(alt, mark ? match.GetText(mark, mark + 1, line.c_str()).size() : 0);
}

// The alternative a line takes with std::regex, and its captured value; -1 when none.
int capturesStd(const std::regex& re, const std::string& line, std::string& value) {
    std::smatch m;
    if (std::regex_search(line, m, re)) {
        for (int alt = 0; alt < 8; ++alt) {
            if (m[alt + 1].matched) {
                value = m[alt + 1].str();
                return alt;
            }
        }
    }
    return -1;
}

int capturesRe2(const RE2& re, const std::string& line, std::string& value) {
    re2::StringPiece groups[9];
    if (re.Match(line, 0, line.size(), RE2::ANCHOR_START, groups, 9)) {
        for (int alt = 0; alt < 8; ++alt) {
            if (groups[alt + 1].data() != nullptr) {
                value.assign(groups[alt + 1].data(), groups[alt + 1].size());
                return alt;
            }
        }
    }
    return -1;
}

void matchStd(const std::regex& re, const std::string& line, Tally& tally) {
    std::string value;
    const int alt = capturesStd(re, line, value);
    tally.add(alt, alt >= 0 && kFirstMark[alt] ? value.size() : 0);
}

void matchRe2(const RE2& re, const std::string& line, Tally& tally) {
    std::string value;
    const int alt = capturesRe2(re, line, value);
    tally.add(alt, alt >= 0 && kFirstMark[alt] ? value.size() : 0);
}

// A load of the same file with another engine: the same line reader, and section records built
// from the captures the way the loader builds them from marks.
template <typename Captures>
bool loadWith(const std::string& path, std::vector<tarvo::_VISACMDLIST>& sections,
              Captures captures) {
    sections.clear();
    std::FILE* file = std::fopen(path.c_str(), "rb");
    std::string line;
    std::string value;
    bool ok = true;
    while (ok && tarvo::ReadScriptLine(file, line) > 0) {
        if (line.empty()) {
            continue;
        }
        const int alt = captures(line, value);
        if (alt == 0) {
            sections.emplace_back().name = value;
        } else if (alt < 0 || sections.empty()) {
            ok = false;
        } else if (alt == 3) {
            sections.back().measure = tarvo::measureKindFromKeyword(value);
        } else if (alt == 4) {
            sections.back().taIndex = static_cast<int>(tarvo::leadingInteger(value)) - 1;
        } else if (alt == 5) {
            sections.back().threshold = tarvo::leadingDecimal(value);
        } else if (alt == 6) {
            sections.back().rele = tarvo::equalsNoCase(value, "ON") ? 1 : 0;
        } else if (alt == 7) {
            sections.back().commands.push_back(value);
        }
    }
    std::fclose(file);
    return ok;
}

bool sameSections(const std::vector<tarvo::_VISACMDLIST>& a,
                  const std::vector<tarvo::_VISACMDLIST>& b) {
    if (a.size() != b.size()) {
        return false;
    }
    for (size_t i = 0; i < a.size(); ++i) {
        if (a[i].name != b[i].name || a[i].measure != b[i].measure ||
            a[i].taIndex != b[i].taIndex || a[i].threshold != b[i].threshold ||
            a[i].rele != b[i].rele || a[i].commands != b[i].commands) {
            return false;
        }
    }
    return true;
}

}  // namespace

int main() {
    const std::vector<std::string> lines = makeLines();
    std::vector<std::string> nonEmpty;
    std::copy_if(lines.begin(), lines.end(), std::back_inserter(nonEmpty),
                 [](const std::string& l) { return !l.empty(); });
    const std::string path =
        (std::filesystem::temp_directory_path() / "pattern-bench-sequence.txt").string();
    {
        std::ofstream out(path, std::ios::binary);
        for (const std::string& line : lines) {
            out << line << "\r\n";
        }
    }

    CMatch ours(kInsideSection);
    const std::regex stdRe(kEquivalent,
                           std::regex::ECMAScript | std::regex::icase | std::regex::optimize);
    RE2::Options options;
    options.set_case_sensitive(false);
    options.set_encoding(RE2::Options::EncodingLatin1);
    const RE2 re2(kEquivalent, options);
    if (!re2.ok()) {
        std::fprintf(stderr, "RE2 rejects the pattern: %s\n", re2.error().c_str());
        return 1;
    }

    // The engines must agree line by line before their times mean anything.
    size_t disagreements = 0;
    for (const std::string& line : nonEmpty) {
        Tally a, b, c;
        matchOurs(ours, line, a);
        matchStd(stdRe, line, b);
        matchRe2(re2, line, c);
        disagreements += a.sum != b.sum || a.sum != c.sum;
    }
    std::printf("pattern-bench: %d lines (%zu non-empty), %zu disagreements between engines\n",
                kLines, nonEmpty.size(), disagreements);
    if (disagreements != 0) {
        return 1;
    }

    Tally tally;
    const double matchOursS = secondsOf([&] {
        for (const std::string& line : nonEmpty)
            matchOurs(ours, line, tally);
    });
    const double matchStdS = secondsOf([&] {
        for (const std::string& line : nonEmpty)
            matchStd(stdRe, line, tally);
    });
    const double matchRe2S = secondsOf([&] {
        for (const std::string& line : nonEmpty)
            matchRe2(re2, line, tally);
    });

    std::vector<tarvo::_VISACMDLIST> loadedOurs, loadedStd, loadedRe2;
    const double loadOursS = secondsOf([&] {
        int lineNo = 0;
        if (!tarvo::LoadSequenceFile(path, &lineNo, loadedOurs)) {
            std::fprintf(stderr, "load failed at line %d\n", lineNo);
            std::exit(1);
        }
    });
    const double loadStdS = secondsOf([&] {
        loadWith(path, loadedStd, [&](const std::string& line, std::string& value) {
            return capturesStd(stdRe, line, value);
        });
    });
    const double loadRe2S = secondsOf([&] {
        loadWith(path, loadedRe2, [&](const std::string& line, std::string& value) {
            return capturesRe2(re2, line, value);
        });
    });
    if (!sameSections(loadedOurs, loadedStd) || !sameSections(loadedOurs, loadedRe2)) {
        std::fprintf(stderr, "the loads disagree\n");
        return 1;
    }
    const size_t sections = loadedOurs.size();
    std::filesystem::remove(path);

    auto row = [](const char* what, double ours, double stdS, double re2S) {
        std::printf(
            "%-6s ours %8.1f ms   std::regex %8.1f ms   RE2 %8.1f ms   "
            "std::regex/ours %6.1fx   ours/RE2 %5.2fx\n",
            what, ours * 1e3, stdS * 1e3, re2S * 1e3, stdS / ours, ours / re2S);
    };
    row("match", matchOursS, matchStdS, matchRe2S);
    row("load", loadOursS, loadStdS, loadRe2S);
    std::printf("load: %zu sections, %.0f lines/s; best of %d rounds (checksum %lld)\n", sections,
                kLines / loadOursS, kRounds, tally.sum & 0xffff);
    return 0;
}
