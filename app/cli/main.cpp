// tarvo-cli: the jobs of Nimbra DAQ without windows.
#include <algorithm>
#include <cstdio>
#include <string>
#include <vector>

#include "cli/Command.h"

namespace tarvo::cli {

std::vector<Command>& commands() {
    static std::vector<Command> all;
    return all;
}

}  // namespace tarvo::cli

namespace {

void printUsage() {
    std::fprintf(stderr, "usage: tarvo-cli COMMAND [ARGS]\n");
    for (const auto& c : tarvo::cli::commands()) {
        std::fprintf(stderr, "  tarvo-cli %s %s\n", c.name.c_str(), c.usage.c_str());
    }
}

}  // namespace

int main(int argc, char** argv) {
    std::vector<std::string> args(argv + 1, argv + argc);
    if (args.empty() || args[0] == "--help" || args[0] == "-h") {
        printUsage();
        return args.empty() ? 2 : 0;
    }
    // A command name may be one or two words ("acquire", "sequence check"); the longest wins.
    const tarvo::cli::Command* best = nullptr;
    size_t bestWords = 0;
    for (const auto& c : tarvo::cli::commands()) {
        std::vector<std::string> words;
        size_t start = 0;
        while (start <= c.name.size()) {
            size_t space = c.name.find(' ', start);
            words.push_back(c.name.substr(start, space - start));
            if (space == std::string::npos) {
                break;
            }
            start = space + 1;
        }
        if (words.size() <= args.size() && words.size() > bestWords &&
            std::equal(words.begin(), words.end(), args.begin())) {
            best = &c;
            bestWords = words.size();
        }
    }
    if (best == nullptr) {
        std::fprintf(stderr, "tarvo-cli: unknown command '%s'\n", args[0].c_str());
        printUsage();
        return 2;
    }
    return best->run(std::vector<std::string>(args.begin() + bestWords, args.end()));
}
