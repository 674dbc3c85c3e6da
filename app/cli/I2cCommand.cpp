// tarvo-cli i2c list / threshold / temperatures: the I2C window's jobs without the window.
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "cli/Command.h"
#include "i2c/FrontEndChips.h"
#include "i2c/HeadlessThresholdSink.h"
#include "i2c/I2cBus.h"
#include "i2c/I2cControls.h"
#include "shell/Operator.h"

namespace tarvo::cli {
namespace {

constexpr int kBadInput = 2;

// Arguments of the three commands: named options with one value, and flags.
struct Arguments {
    std::optional<std::string> adapter;
    std::optional<std::string> slot;
    std::optional<std::string> volts;
    std::optional<std::string> watch;
    std::optional<std::string> limit;
    bool altSensor = false;
};

bool parseArguments(const std::vector<std::string>& args, const std::vector<std::string>& allowed,
                    Arguments& out) {
    auto isAllowed = [&](const std::string& name) {
        for (const auto& a : allowed) {
            if (a == name) {
                return true;
            }
        }
        return false;
    };
    for (size_t i = 0; i < args.size(); ++i) {
        const std::string& name = args[i];
        if (!isAllowed(name)) {
            std::fprintf(stderr, "tarvo-cli: unknown argument '%s'\n", name.c_str());
            return false;
        }
        if (name == "--alt-sensor") {
            out.altSensor = true;
            continue;
        }
        if (i + 1 >= args.size()) {
            std::fprintf(stderr, "tarvo-cli: %s needs a value\n", name.c_str());
            return false;
        }
        const std::string& value = args[++i];
        if (name == "--i2c-adapter") {
            out.adapter = value;
        } else if (name == "--slot") {
            out.slot = value;
        } else if (name == "--volts") {
            out.volts = value;
        } else if (name == "--watch") {
            out.watch = value;
        } else if (name == "--limit") {
            out.limit = value;
        }
    }
    return true;
}

std::optional<double> parseReal(const std::string& text) {
    const char* begin = text.c_str();
    char* end = nullptr;
    double value = std::strtod(begin, &end);
    if (end == begin || *end != '\0' || !std::isfinite(value)) {
        return std::nullopt;
    }
    return value;
}

std::optional<int> parseSlot(const std::string& text) {
    if (text.size() != 1 || text[0] < '0' || text[0] > '7') {
        return std::nullopt;
    }
    return text[0] - '0';
}

// Picks the adapter given on the command line or in TARVO_I2C_ADAPTER; a name that matches no
// entry is refused here, before anything reaches a bus.
bool chooseAdapter(I2cControls& controls, const Arguments& args) {
    std::optional<std::string> choice = args.adapter;
    if (!choice) {
        if (const char* env = std::getenv("TARVO_I2C_ADAPTER"); env != nullptr && *env != '\0') {
            choice = env;
        }
    }
    if (!choice) {
        return true;
    }
    for (const auto& entry : listAdapters(controls.bus())) {
        if (entry.id == *choice || entry.name == *choice) {
            controls.bus().adapterChoice = *choice;
            return true;
        }
    }
    std::fprintf(stderr, "tarvo-cli: no I2C adapter '%s' (tarvo-cli i2c list shows them)\n",
                 choice->c_str());
    return false;
}

int listCommand(const std::vector<std::string>& argv) {
    if (!argv.empty()) {
        std::fprintf(stderr, "usage: tarvo-cli i2c list\n");
        return kBadInput;
    }
    I2cBus bus;
    std::vector<AdapterEntry> entries = listAdapters(bus);
    if (entries.empty()) {
        std::fprintf(stderr, "no I2C adapter found\n");
    }
    for (const auto& e : entries) {
        std::printf("%s\t%s\tLocationID=%d\tChannel=%s\n", e.id.c_str(), e.name.c_str(),
                    e.locationId, e.channel.c_str());
    }
    return 0;
}

int thresholdCommand(const std::vector<std::string>& argv) {
    Arguments args;
    if (!parseArguments(argv, {"--slot", "--volts", "--i2c-adapter"}, args) || !args.slot ||
        !args.volts) {
        std::fprintf(stderr,
                     "usage: tarvo-cli threshold --slot K --volts V [--i2c-adapter NAME]\n");
        return kBadInput;
    }
    std::optional<int> slot = parseSlot(*args.slot);
    if (!slot) {
        std::fprintf(stderr, "tarvo-cli: --slot takes 0 to 7, got '%s'\n", args.slot->c_str());
        return kBadInput;
    }
    std::optional<double> volts = parseReal(*args.volts);
    if (!volts || !HeadlessThresholdSink::validRequest(*slot, *volts)) {
        std::fprintf(stderr, "tarvo-cli: --volts takes -2.5 to 2.5, got '%s'\n",
                     args.volts->c_str());
        return kBadInput;
    }
    ConsoleOperator op;
    I2cControls controls(op);
    if (!chooseAdapter(controls, args)) {
        return kBadInput;
    }
    if (!controls.openBus()) {
        return 1;
    }
    HeadlessThresholdSink sink(controls);
    if (!sink.setThreshold(*slot, *volts)) {
        return 1;
    }
    ThresholdRoute route = thresholdRoute(*slot);
    uint16_t code = ThresholdToCode(*volts);
    std::printf("Thr%d DAC%d channel %d code %u (0x%04x)\n", *slot, route.dac, route.dacChannel,
                unsigned(code), unsigned(code));
    return 0;
}

void printCycle(const I2cControls& controls) {
    for (int ch = 0; ch < I2cControls::kChannels; ++ch) {
        const auto& indicator = controls.indicators()[size_t(ch)];
        std::printf("VATA%d %.1f%s\n", ch, indicator.temperature, indicator.red ? " ALARM" : "");
    }
    std::printf("VADC %u\n", unsigned(controls.vadc));
    std::fflush(stdout);
}

int temperaturesCommand(const std::vector<std::string>& argv) {
    Arguments args;
    if (!parseArguments(argv, {"--alt-sensor", "--watch", "--limit", "--i2c-adapter"}, args)) {
        std::fprintf(stderr,
                     "usage: tarvo-cli temperatures [--alt-sensor] [--watch SECONDS] "
                     "[--limit C] [--i2c-adapter NAME]\n");
        return kBadInput;
    }
    std::optional<double> watch;
    if (args.watch) {
        watch = parseReal(*args.watch);
        if (!watch || *watch <= 0 || *watch > 86400) {
            std::fprintf(stderr, "tarvo-cli: --watch takes seconds above 0, got '%s'\n",
                         args.watch->c_str());
            return kBadInput;
        }
    }
    ConsoleOperator op;
    I2cControls controls(op);
    if (args.limit) {
        std::optional<double> limit = parseReal(*args.limit);
        if (!limit) {
            std::fprintf(stderr, "tarvo-cli: --limit takes degrees C, got '%s'\n",
                         args.limit->c_str());
            return kBadInput;
        }
        controls.limit = *limit;
    }
    controls.altSensor = args.altSensor;
    if (watch) {
        controls.alarmEnable.fill(true);
    }
    if (!chooseAdapter(controls, args)) {
        return kBadInput;
    }
    if (!controls.openBus()) {
        return 1;
    }
    for (;;) {
        bool again = controls.tick();
        printCycle(controls);
        if (!again) {
            return 1;
        }
        if (!watch) {
            return 0;
        }
        std::this_thread::sleep_for(std::chrono::duration<double>(*watch));
    }
}

Registration listRegistration({"i2c list", "", listCommand});
Registration thresholdRegistration({"threshold", "--slot K --volts V [--i2c-adapter NAME]",
                                    thresholdCommand});
Registration temperaturesRegistration(
    {"temperatures", "[--alt-sensor] [--watch SECONDS] [--limit C] [--i2c-adapter NAME]",
     temperaturesCommand});

}  // namespace
}  // namespace tarvo::cli
