#include "cli/SequenceConsole.h"

#include <cstdio>
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

std::unique_ptr<ThresholdSink> openHeadlessThresholds(std::string& error) {
    // The I2C adapter layer is not part of this build yet; when it is, its DAC sink is
    // returned here.
    error = "no I2C adapter layer in this build";
    return nullptr;
}

}  // namespace tarvo::cli
