#include "DaqTestFiles.h"

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <sstream>

namespace histotest {

uint32_t fifoWord(int channel, int sample, uint32_t value, int fifo, int tag) {
    return value | uint32_t(sample) << 16 | uint32_t(channel) << 20 | uint32_t(fifo) << 25 |
           uint32_t(tag) << 28;
}

uint32_t legacyWord(int channel, int sample, uint32_t value, int tag) {
    return value | uint32_t(sample) << 16 | uint32_t(channel) << 20 | uint32_t(tag) << 28;
}

std::vector<uint32_t> fifoRecords(int records, const ValueOf& value, int fifo) {
    std::vector<uint32_t> words;
    for (int r = 0; r < records; ++r) {
        for (int i = 0; i < 256; ++i) {
            words.push_back(fifoWord(i / 8, i % 8, value(i / 8, i % 8, r), fifo));
        }
    }
    return words;
}

std::vector<uint32_t> legacyRecords(int records, const ValueOf& value) {
    std::vector<uint32_t> words;
    for (int r = 0; r < records; ++r) {
        for (int i = 0; i < 512; ++i) {
            words.push_back(legacyWord(i / 16, i % 16, value(i / 16, i % 16, r)));
        }
    }
    return words;
}

void writeWords(const std::string& path, const std::vector<uint32_t>& words, size_t extraBytes) {
    std::string bytes;
    for (uint32_t w : words) {
        for (int b = 0; b < 4; ++b) {
            bytes.push_back(static_cast<char>(w >> (8 * b)));
        }
    }
    bytes.append(extraBytes, '\x5a');
    std::ofstream(path, std::ios::binary | std::ios::trunc) << bytes;
}

std::string readFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
}

bool exists(const std::string& path) {
    return std::filesystem::exists(path);
}

std::string valueList(const std::vector<uint32_t>& values) {
    std::string text;
    char line[32];
    for (uint32_t v : values) {
        std::snprintf(line, sizeof line, "%5u\r\n", v);
        text += line;
    }
    return text;
}

std::string expectedSpectrum(int channel, const std::string& date,
                             const std::vector<uint32_t>& counts, bool reversed) {
    std::string header[] = {"$SPEC_ID:",
                            "*VATA TOLK DETECTOR*",
                            "$SPEC_REM:",
                            "DET# 1",
                            "DETDESC# *RIZOVIVO CH" + std::to_string(channel) + "*",
                            "AP# Maestro Version 6.08",
                            "$DATE_MEA:",
                            "*" + date + "*",
                            "$MEAS_TIM:",
                            "*1 1*",
                            "$DATA:",
                            "0 8192"};
    const char* trailer[] = {"$ROI:",
                             "3",
                             "368 383",
                             "389 402",
                             "408 419",
                             "$PRESETS:",
                             "None",
                             "0",
                             "0",
                             "$ENER_FIT:",
                             "8.051856 0.014782",
                             "$MCA_CAL:",
                             "3",
                             "8.051856E+000 1.478172E-002 0.000000E+000 keV",
                             "$SHAPE_CAL:",
                             "3",
                             "6.024698E+001 -1.382197E-001 0.000000E+000"};
    std::string text;
    for (const auto& line : header) {
        text += line + "\r\n";
    }
    char line[32];
    for (size_t i = 0; i < 8192; ++i) {
        uint32_t count = counts.at(reversed ? 8191 - i : i);
        std::snprintf(line, sizeof line, "%8u\r\n", count);
        text += line;
    }
    for (const char* l : trailer) {
        text += std::string(l) + "\r\n";
    }
    return text;
}

std::vector<uint32_t> spectrumCounts(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::string line;
    std::vector<uint32_t> counts;
    bool inData = false;
    while (std::getline(in, line)) {
        if (!line.empty() && line.back() == '\r') {
            line.pop_back();
        }
        if (line == "0 8192") {
            inData = true;
            continue;
        }
        if (line == "$ROI:") {
            break;
        }
        if (inData) {
            counts.push_back(static_cast<uint32_t>(std::stoul(line)));
        }
    }
    if (counts.size() != 8192) {
        counts.clear();
    }
    return counts;
}

std::tm fixedTime() {
    std::tm t{};
    t.tm_year = 2024 - 1900;
    t.tm_mon = 2;
    t.tm_mday = 7;
    t.tm_hour = 9;
    t.tm_min = 5;
    t.tm_sec = 2;
    return t;
}

}  // namespace histotest
