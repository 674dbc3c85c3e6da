#include "generator/PulseGenerator.h"

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <vector>

namespace vmesim::generator {
namespace {

constexpr const char* kUndefinedHeader = "-113,\"Undefined header\"";
constexpr const char* kDataType = "-104,\"Data type error\"";
constexpr const char* kOutOfRange = "-222,\"Data out of range\"";
constexpr const char* kSuffix = "-131,\"Invalid suffix\"";
constexpr const char* kMissing = "-109,\"Missing parameter\"";
constexpr const char* kQueueOverflow = "-350,\"Queue overflow\"";
constexpr size_t kErrorQueueLength = 16;

std::string upper(std::string text) {
    std::transform(text.begin(), text.end(), text.begin(),
                   [](unsigned char c) { return static_cast<char>(std::toupper(c)); });
    return text;
}

std::string trim(const std::string& text) {
    const auto first = text.find_first_not_of(" \t\r");
    if (first == std::string::npos) {
        return "";
    }
    return text.substr(first, text.find_last_not_of(" \t\r") - first + 1);
}

// A mnemonic in the short or the long form, with an optional numeric suffix of 1 (one output).
bool is(const std::string& node, const char* shortForm, const char* longForm) {
    std::string word = upper(node);
    while (!word.empty() && std::isdigit(static_cast<unsigned char>(word.back()))) {
        word.pop_back();
    }
    if (word.size() != node.size()) {
        const std::string suffix = node.substr(word.size());
        if (std::strtoul(suffix.c_str(), nullptr, 10) != 1) {
            return false;
        }
    }
    return word == shortForm || word == longForm;
}

std::vector<std::string> splitHeader(std::string header) {
    std::vector<std::string> nodes;
    if (!header.empty() && header[0] == ':') {
        header.erase(0, 1);
    }
    size_t start = 0;
    for (;;) {
        size_t colon = header.find(':', start);
        nodes.push_back(header.substr(start, colon - start));
        if (colon == std::string::npos) {
            return nodes;
        }
        start = colon + 1;
    }
}

// Drops the optional nodes of a path, given as {short, long} pairs, wherever they are allowed:
// after the first node of the path.
void dropOptional(std::vector<std::string>& nodes,
                  std::initializer_list<std::pair<const char*, const char*>> optional) {
    for (auto it = nodes.begin() + (nodes.empty() ? 0 : 1); it != nodes.end();) {
        bool drop = std::any_of(optional.begin(), optional.end(),
                                [&](const auto& o) { return is(*it, o.first, o.second); });
        it = drop ? nodes.erase(it) : it + 1;
    }
}

enum class Unit { Volts, Hertz };

// A numeric parameter with an optional unit; nothing (and the error) when it is not one.
std::optional<double> number(const std::string& text, Unit unit, const char*& error) {
    const char* begin = text.c_str();
    char* end = nullptr;
    errno = 0;
    double value = std::strtod(begin, &end);
    if (end == begin || errno == ERANGE || !std::isfinite(value)) {
        error = kDataType;
        return std::nullopt;
    }
    const std::string suffix = upper(trim(end));
    double scale = 1.0;
    if (suffix.empty()) {
        scale = 1.0;
    } else if (unit == Unit::Volts && suffix == "V") {
        scale = 1.0;
    } else if (unit == Unit::Volts && suffix == "MV") {
        scale = 1e-3;
    } else if (unit == Unit::Hertz && suffix == "HZ") {
        scale = 1.0;
    } else if (unit == Unit::Hertz && suffix == "KHZ") {
        scale = 1e3;
    } else if (unit == Unit::Hertz && suffix == "MHZ") {
        scale = 1e6;  // "MHZ" is mega, not milli, in SCPI
    } else {
        error = kSuffix;
        return std::nullopt;
    }
    return value * scale;
}

std::string formatNumber(double value) {
    char text[32];
    std::snprintf(text, sizeof text, "%+.6E", value);
    return text;
}

}  // namespace

PulseGenerator::PulseGenerator(BenchState& bench) : bench_(bench) {
    reset();
}

void PulseGenerator::reset() {
    bench_.update([](BenchState::Snapshot& s) {
        s.generatorOn = false;
        s.generatorVolts = kDefaultVolts;
        s.generatorOffsetVolts = 0.0;
        s.generatorHz = kDefaultHz;
    });
}

void PulseGenerator::queueError(const std::string& error) {
    if (errors_.size() + 1 < kErrorQueueLength) {
        errors_.push_back(error);
    } else if (errors_.size() + 1 == kErrorQueueLength) {
        errors_.push_back(kQueueOverflow);
    }
}

std::optional<std::string> PulseGenerator::execute(const std::string& line) {
    std::optional<std::string> reply;
    size_t start = 0;
    for (;;) {
        size_t semicolon = line.find(';', start);
        const std::string command = trim(line.substr(start, semicolon - start));
        if (!command.empty()) {
            if (auto answer = executeOne(command)) {
                reply = reply ? *reply + ";" + *answer : *answer;
            }
        }
        if (semicolon == std::string::npos) {
            return reply;
        }
        start = semicolon + 1;
    }
}

std::optional<std::string> PulseGenerator::executeOne(const std::string& command) {
    const size_t blank = command.find_first_of(" \t");
    std::string header = command.substr(0, blank);
    const std::string parameter = blank == std::string::npos ? "" : trim(command.substr(blank));
    const bool query = !header.empty() && header.back() == '?';
    if (query) {
        header.pop_back();
    }
    const std::string common = upper(header);
    if (common == "*IDN" && query) {
        return kIdentity;
    }
    if (common == "*OPC" && query) {
        return "1";
    }
    if (common == "*RST" && !query) {
        reset();
        return std::nullopt;
    }
    if (common == "*CLS" && !query) {
        errors_.clear();
        return std::nullopt;
    }

    std::vector<std::string> nodes = splitHeader(header);
    if (!nodes.empty() && is(nodes[0], "SOUR", "SOURCE")) {
        nodes.erase(nodes.begin());
    }
    dropOptional(nodes, {{"LEV", "LEVEL"},
                         {"IMM", "IMMEDIATE"},
                         {"AMPL", "AMPLITUDE"},
                         {"STAT", "STATE"},
                         {"CW", "CW"},
                         {"FIX", "FIXED"},
                         {"NEXT", "NEXT"}});
    const BenchState::Snapshot now = bench_.snapshot();
    const char* error = nullptr;

    auto setNumber = [&](Unit unit, double low, double high, double def,
                         double BenchState::Snapshot::*field) {
        const std::string word = upper(parameter);
        std::optional<double> value;
        if (parameter.empty()) {
            error = kMissing;
        } else if (word == "MIN" || word == "MINIMUM") {
            value = low;
        } else if (word == "MAX" || word == "MAXIMUM") {
            value = high;
        } else if (word == "DEF" || word == "DEFAULT") {
            value = def;
        } else {
            value = number(parameter, unit, error);
            if (value && (*value < low || *value > high)) {
                error = kOutOfRange;
                value.reset();
            }
        }
        if (value) {
            bench_.update([&](BenchState::Snapshot& s) { s.*field = *value; });
        }
    };

    if (nodes.size() == 1 && is(nodes[0], "VOLT", "VOLTAGE")) {
        if (query) {
            return formatNumber(now.generatorVolts);
        }
        setNumber(Unit::Volts, -kMaxVolts, kMaxVolts, kDefaultVolts,
                  &BenchState::Snapshot::generatorVolts);
    } else if (nodes.size() == 2 && is(nodes[0], "VOLT", "VOLTAGE") &&
               is(nodes[1], "OFFS", "OFFSET")) {
        if (query) {
            return formatNumber(now.generatorOffsetVolts);
        }
        setNumber(Unit::Volts, -kMaxVolts, kMaxVolts, 0.0,
                  &BenchState::Snapshot::generatorOffsetVolts);
    } else if (nodes.size() == 1 && is(nodes[0], "FREQ", "FREQUENCY")) {
        if (query) {
            return formatNumber(now.generatorHz);
        }
        setNumber(Unit::Hertz, kMinHz, kMaxHz, kDefaultHz, &BenchState::Snapshot::generatorHz);
    } else if (nodes.size() == 1 && is(nodes[0], "OUTP", "OUTPUT")) {
        if (query) {
            return now.generatorOn ? "1" : "0";
        }
        const std::string word = upper(parameter);
        if (word == "ON" || word == "1" || word == "OFF" || word == "0") {
            const bool on = word == "ON" || word == "1";
            bench_.update([on](BenchState::Snapshot& s) { s.generatorOn = on; });
        } else {
            error = parameter.empty() ? kMissing : kDataType;
        }
    } else if (nodes.size() == 2 && query && is(nodes[0], "SYST", "SYSTEM") &&
               is(nodes[1], "ERR", "ERROR")) {
        if (errors_.empty()) {
            return "+0,\"No error\"";
        }
        std::string oldest = errors_.front();
        errors_.pop_front();
        return oldest;
    } else {
        error = kUndefinedHeader;
    }
    if (error != nullptr) {
        queueError(error);
    }
    return std::nullopt;
}

}  // namespace vmesim::generator
