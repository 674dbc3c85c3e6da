#include "Options.h"

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <functional>

namespace vmesim {

namespace {

enum class Value { None, Required, Optional };

struct OptionEntry {
    const char* name;
    Value value;
    const char* valueName;
    const char* help;
    std::function<void(Options&, const std::string&)> apply;  // value empty when not given
};

MemoryRegion parseRegion(const std::string& text) {
    auto colon = text.find(':');
    if (colon == std::string::npos) {
        throw OptionError("--memory needs ADDR:SIZE, got \"" + text + "\"");
    }
    MemoryRegion region{parseNumber(text.substr(0, colon), "--memory address"),
                        parseNumber(text.substr(colon + 1), "--memory size")};
    if (region.size == 0 || uint64_t(region.address) + region.size > (uint64_t(1) << 32)) {
        throw OptionError("--memory " + text + " does not fit the 32-bit address space");
    }
    return region;
}

double parseRate(const std::string& text) {
    const char* begin = text.c_str();
    char* end = nullptr;
    errno = 0;
    double value = std::strtod(begin, &end);
    if (end == begin || *end != '\0' || errno == ERANGE || !(value >= 0) || value > 1e9) {
        throw OptionError("--event-rate: not a rate in Hz: \"" + text + "\"");
    }
    return value;
}

double parseCelsius(const std::string& text, const std::string& what) {
    const char* begin = text.c_str();
    char* end = nullptr;
    errno = 0;
    double value = std::strtod(begin, &end);
    if (end == begin || *end != '\0' || errno == ERANGE || !(value >= -273.15) || value > 1000) {
        throw OptionError(what + ": not a temperature in degrees C: \"" + text + "\"");
    }
    return value;
}

std::vector<double> parseTemperatures(const std::string& text) {
    std::vector<double> values;
    size_t start = 0;
    for (;;) {
        size_t comma = text.find(',', start);
        values.push_back(parseCelsius(text.substr(start, comma - start), "--temp"));
        if (comma == std::string::npos) {
            break;
        }
        start = comma + 1;
    }
    if (values.size() > 8) {
        throw OptionError("--temp takes at most 8 temperatures, one per VATA chip");
    }
    return values;
}

I2cNack parseNack(const std::string& text) {
    auto colon = text.find(':');
    uint32_t address = parseNumber(text.substr(0, colon), "--i2c-nack address");
    if (address > 0x7F) {
        throw OptionError("--i2c-nack takes a 7-bit chip address, got \"" + text + "\"");
    }
    uint32_t count =
        colon == std::string::npos ? 0 : parseNumber(text.substr(colon + 1), "--i2c-nack count");
    if (colon != std::string::npos && count == 0) {
        throw OptionError("--i2c-nack count must be at least 1 (leave it out for always)");
    }
    return {uint8_t(address), count};
}

// The one place where options are declared.
const std::vector<OptionEntry>& optionTable() {
    static const std::vector<OptionEntry> table = {
        {"--dir", Value::Required, "DIR", "folder for the device sockets (created if missing)",
         [](Options& o, const std::string& v) { o.dir = v; }},
        {"--trace", Value::Required, "FILE", "write every request and reply as hex lines",
         [](Options& o, const std::string& v) { o.tracePath = v; }},
        {"--memory", Value::Required, "ADDR:SIZE", "map RAM on the VME bus (repeatable)",
         [](Options& o, const std::string& v) { o.memories.push_back(parseRegion(v)); }},
        {"--delay-us", Value::Required, "N", "delay every reply by N microseconds",
         [](Options& o, const std::string& v) { o.delayUs = parseNumber(v, "--delay-us"); }},
        {"--idle-timeout-ms", Value::Required, "MS",
         "close a connection that sends nothing for MS ms (default 5000, 0: never)",
         [](Options& o, const std::string& v) {
             o.idleTimeoutMs = parseNumber(v, "--idle-timeout-ms");
         }},
        {"--irq", Value::Required, "LEVELS",
         "interrupt levels pending from the start (bit n-1 = level n, vector n)",
         [](Options& o, const std::string& v) {
             uint32_t levels = parseNumber(v, "--irq");
             if (levels > 0x7F) {
                 throw OptionError("--irq takes levels 1 to 7 (mask 0x7f at most)");
             }
             o.irqLevels = uint8_t(levels);
         }},
        {"--flash", Value::Required, "FILE", "keep the bridge's flash pages in FILE",
         [](Options& o, const std::string& v) { o.flashPath = v; }},
        {"--stats", Value::Required, "FILE", "write the counters as JSON at exit",
         [](Options& o, const std::string& v) { o.statsPath = v; }},
        {"--board", Value::Optional, "ADDR", "map the readout board (default base 0x03030000)",
         [](Options& o, const std::string& v) {
             o.board = true;
             if (!v.empty()) {
                 o.boardOptions.base = parseNumber(v, "--board");
             }
         }},
        {"--event-rate", Value::Required, "HZ", "board events per second (0: as fast as read)",
         [](Options& o, const std::string& v) { o.boardOptions.eventRateHz = parseRate(v); }},
        {"--bus-error-every", Value::Required, "N", "every Nth board data access is a bus error",
         [](Options& o, const std::string& v) {
             o.boardOptions.busErrorEvery = parseNumber(v, "--bus-error-every");
         }},
        {"--corrupt-every", Value::Required, "N", "every Nth board event has one bad word",
         [](Options& o, const std::string& v) {
             o.boardOptions.corruptEvery = parseNumber(v, "--corrupt-every");
         }},
        {"--seed", Value::Required, "N", "seed of the board's data",
         [](Options& o, const std::string& v) { o.boardOptions.seed = parseNumber(v, "--seed"); }},
        {"--optical-links", Value::Required, "N", "N PCI optical-link cards (pci9054-0 ...)",
         [](Options& o, const std::string& v) {
             o.opticalLinks = parseNumber(v, "--optical-links");
             if (o.opticalLinks > 100) {
                 throw OptionError("--optical-links takes at most 100 cards");
             }
         }},
        {"--optical-boards", Value::Required, "M", "bridges on each optical link (boards 0..M-1)",
         [](Options& o, const std::string& v) {
             o.opticalBoards = parseNumber(v, "--optical-boards");
             if (o.opticalBoards < 1 || o.opticalBoards > 16) {
                 throw OptionError("--optical-boards takes 1 to 16 bridges");
             }
         }},
        {"--drop-replies", Value::Required, "FIRST[:COUNT]",
         "each card loses the replies of its requests FIRST.. (counted from 1)",
         [](Options& o, const std::string& v) {
             auto colon = v.find(':');
             o.dropFirst = parseNumber(v.substr(0, colon), "--drop-replies");
             o.dropCount = colon == std::string::npos
                               ? 1
                               : parseNumber(v.substr(colon + 1), "--drop-replies count");
         }},
        {"--i2c", Value::None, nullptr,
         "the front-end board's threshold DACs and temperature ADC on DIR/i2c-0",
         [](Options& o, const std::string&) { o.i2c = true; }},
        {"--temp", Value::Required, "C[,C...]", "VATA chip temperatures (default 25)",
         [](Options& o, const std::string& v) { o.temperatures = parseTemperatures(v); }},
        {"--temp-drift", Value::Required, "C_PER_MIN", "temperature change per minute",
         [](Options& o, const std::string& v) {
             o.temperatureDriftPerMinute = parseCelsius(v, "--temp-drift");
         }},
        {"--i2c-nack", Value::Required, "ADDR[:COUNT]",
         "the I2C chip at ADDR does not acknowledge (its next COUNT transactions; repeatable)",
         [](Options& o, const std::string& v) { o.i2cNacks.push_back(parseNack(v)); }},
        {"--help", Value::None, nullptr, "show this text",
         [](Options& o, const std::string&) { o.help = true; }},
    };
    return table;
}

}  // namespace

uint32_t parseNumber(const std::string& text, const std::string& what) {
    const char* begin = text.c_str();
    char* end = nullptr;
    errno = 0;
    unsigned long long value = std::strtoull(begin, &end, 0);
    bool digitsFirst = !text.empty() && text[0] >= '0' && text[0] <= '9';
    if (!digitsFirst || end == begin || *end != '\0' || errno == ERANGE || value > 0xFFFFFFFFull) {
        throw OptionError(what + ": not a number: \"" + text + "\"");
    }
    return uint32_t(value);
}

Options parseOptions(int argc, const char* const* argv) {
    Options options;
    const auto& table = optionTable();
    for (int i = 1; i < argc; ++i) {
        std::string arg = argv[i];
        std::string name = arg;
        std::optional<std::string> inlineValue;
        if (auto eq = arg.find('='); arg.rfind("--", 0) == 0 && eq != std::string::npos) {
            name = arg.substr(0, eq);
            inlineValue = arg.substr(eq + 1);
        }
        auto entry = std::find_if(table.begin(), table.end(),
                                  [&](const OptionEntry& e) { return name == e.name; });
        if (entry == table.end()) {
            throw OptionError("unknown option " + arg);
        }
        std::string value;
        if (entry->value == Value::None) {
            if (inlineValue) {
                throw OptionError(name + " takes no value");
            }
        } else if (inlineValue) {
            value = *inlineValue;
        } else if (i + 1 < argc && std::string(argv[i + 1]).rfind("--", 0) != 0) {
            value = argv[++i];
        } else if (entry->value == Value::Required) {
            throw OptionError(name + " needs " + entry->valueName);
        }
        entry->apply(options, value);
    }
    if (!options.help && options.dir.empty()) {
        throw OptionError("--dir DIR is required");
    }
    return options;
}

std::string usage() {
    std::string text = "usage: vmecrate-sim --dir DIR [options]\n";
    for (const auto& entry : optionTable()) {
        std::string left = std::string("  ") + entry.name;
        if (entry.valueName) {
            left += entry.value == Value::Optional ? std::string(" [") + entry.valueName + "]"
                                                   : std::string(" ") + entry.valueName;
        }
        left.resize(std::max<size_t>(left.size() + 2, 24), ' ');
        text += left + entry.help + "\n";
    }
    return text;
}

}  // namespace vmesim
