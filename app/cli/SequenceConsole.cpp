#include "cli/SequenceConsole.h"

#include "i2c/HeadlessThresholdSink.h"
#include "i2c/I2cControls.h"

#include <cstdio>
#include <cstdlib>
#include <iostream>

namespace tarvo::cli {
namespace {

// Reads one answer line; nothing at the end of the input.
std::optional<std::string> readReply() {
    std::string reply;
    if (!std::getline(std::cin, reply)) {
        return std::nullopt;
    }
    while (!reply.empty() && (reply.back() == '\r' || reply.back() == ' ')) {
        reply.pop_back();
    }
    return reply;
}

}  // namespace

bool SequenceConsole::askYesNo(const std::string& text) {
    if (abortAnswer_) {
        std::fprintf(stderr, "%s [y/n] %s\n", text.c_str(), *abortAnswer_ ? "y" : "n");
        return *abortAnswer_;
    }
    for (;;) {
        std::fprintf(stderr, "%s [y/n] ", text.c_str());
        auto reply = readReply();
        if (!reply) {
            std::fputs("n\n", stderr);
            return false;
        }
        if (*reply == "y" || *reply == "Y") {
            return true;
        }
        if (*reply == "n" || *reply == "N") {
            return false;
        }
    }
}

bool SequenceConsole::askOkCancel(const std::string& text) {
    for (;;) {
        std::fprintf(stderr, "%s\n[Enter or y: OK, n: Cancel] ", text.c_str());
        auto reply = readReply();
        if (!reply) {
            std::fputs("n\n", stderr);
            return false;
        }
        if (reply->empty() || *reply == "y" || *reply == "Y") {
            return true;
        }
        if (*reply == "n" || *reply == "N") {
            return false;
        }
    }
}

namespace {

// The I2C controls with the sink over them, kept together for the run.
class AdapterThresholds : public ThresholdSink {
  public:
    explicit AdapterThresholds(Operator& op) : controls(op), sink(controls) {}
    bool setThreshold(int slot, double volts) override { return sink.setThreshold(slot, volts); }

    I2cControls controls;
    HeadlessThresholdSink sink;
};

}  // namespace

std::unique_ptr<ThresholdSink> openHeadlessThresholds(Operator& op, const std::string& adapter) {
    auto thresholds = std::make_unique<AdapterThresholds>(op);
    std::string choice = adapter;
    if (const char* env = std::getenv("TARVO_I2C_ADAPTER"); choice.empty() && env != nullptr) {
        choice = env;
    }
    if (!choice.empty()) {
        thresholds->controls.bus().adapterChoice = choice;
    }
    if (!thresholds->controls.openBus()) {
        return nullptr;
    }
    return thresholds;
}

}  // namespace tarvo::cli
