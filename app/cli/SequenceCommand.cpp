// tarvo-cli sequence check FILE: loads a sequence file as the sequence test would and prints its
// sections as JSON, or the message the sequence test would show.
#include <cstdio>
#include <iostream>
#include <nlohmann/json.hpp>
#include <string>
#include <vector>

#include "cli/Command.h"
#include "sequence/SequenceScript.h"

namespace tarvo::cli {
namespace {

// The JSON library checks UTF-8 when it writes a string; let it be the judge.
bool isValidUtf8(const std::string& text) {
    try {
        (void)nlohmann::json(text).dump();
        return true;
    } catch (const nlohmann::json::type_error&) {
        return false;
    }
}

// Sequence files are 8-bit text: UTF-8 on a Linux desk, the Windows code page in older files.
// JSON needs UTF-8, so text that is not valid UTF-8 is read as Latin-1 instead of being refused.
std::string toUtf8(const std::string& text) {
    if (isValidUtf8(text)) {
        return text;
    }
    std::string out;
    out.reserve(text.size() * 2);
    for (const char c : text) {
        const auto byte = static_cast<unsigned char>(c);
        if (byte < 0x80) {
            out.push_back(c);
        } else {
            out.push_back(static_cast<char>(0xC0 | (byte >> 6)));
            out.push_back(static_cast<char>(0x80 | (byte & 0x3F)));
        }
    }
    return out;
}

nlohmann::ordered_json sectionsToJson(const std::vector<_VISACMDLIST>& sections) {
    nlohmann::ordered_json out = nlohmann::ordered_json::array();
    for (const _VISACMDLIST& section : sections) {
        nlohmann::ordered_json commands = nlohmann::ordered_json::array();
        for (const std::string& command : section.commands) {
            commands.push_back(toUtf8(command));
        }
        out.push_back({
            {"name", toUtf8(section.name)},
            {"measure", static_cast<int>(section.measure)},
            {"taIndex", section.taIndex},
            {"threshold", section.threshold},
            {"rele", section.rele},
            {"commands", std::move(commands)},
        });
    }
    return out;
}

int checkSequence(const std::vector<std::string>& args) {
    if (args.size() != 1) {
        std::fprintf(stderr, "usage: tarvo-cli sequence check FILE\n");
        return 2;
    }
    const std::string& path = args[0];
    std::vector<_VISACMDLIST> sections;
    int lineNo = 0;
    std::string reason;
    if (!LoadSequenceFile(path, &lineNo, sections, &reason)) {
        if (lineNo == 0) {
            std::fprintf(stderr, "Open File %s Error or File Empty\n", path.c_str());
        } else {
            std::fprintf(stderr, "Error on file %s line %d\n", path.c_str(), lineNo);
            if (!reason.empty()) {
                std::fprintf(stderr, "%s\n", reason.c_str());
            }
        }
        return 1;
    }
    std::cout << sectionsToJson(sections).dump(2) << '\n';
    return 0;
}

const Registration kRegistration({"sequence check", "FILE", checkSequence});

}  // namespace
}  // namespace tarvo::cli
