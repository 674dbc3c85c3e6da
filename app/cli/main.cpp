// tarvo-cli: the jobs of Nimbra DAQ without windows.
#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "cli/Command.h"
#include "shell/ShellUtilities.h"

namespace tarvo::cli {

std::vector<Command>& commands() {
    static std::vector<Command> all;
    return all;
}

}  // namespace tarvo::cli

namespace {

void printUsage(std::FILE* out) {
    std::fprintf(out, "usage: tarvo-cli COMMAND [ARGS]\n       tarvo-cli --help | --version\n");
    std::fprintf(out, "       tarvo-cli COMMAND --help\ncommands:\n");
    for (const auto& c : tarvo::cli::commands()) {
        std::fprintf(out, "  tarvo-cli %s %s\n", c.name.c_str(), c.usage.c_str());
    }
}

bool isHelp(const std::string& arg) {
    return arg == "--help" || arg == "-h";
}

// Output that never reached stdout (a full disk, a closed pipe) makes the run a failure.
int finish(int status) {
    if (std::fflush(stdout) != 0 || std::ferror(stdout)) {
        const int error = errno;
        std::fprintf(stderr, "tarvo-cli: can't write the output: %s\n",
                     error != 0 ? std::strerror(error) : "write error");
        return status == 0 ? 1 : status;
    }
    return status;
}

const tarvo::cli::Command* findCommand(const std::vector<std::string>& args, size_t& words) {
    // A command name may be one or two words ("acquire", "sequence check"); the longest wins.
    const tarvo::cli::Command* best = nullptr;
    words = 0;
    for (const auto& c : tarvo::cli::commands()) {
        std::vector<std::string> name;
        size_t start = 0;
        while (start <= c.name.size()) {
            size_t space = c.name.find(' ', start);
            name.push_back(c.name.substr(start, space - start));
            if (space == std::string::npos) {
                break;
            }
            start = space + 1;
        }
        if (name.size() <= args.size() && name.size() > words &&
            std::equal(name.begin(), name.end(), args.begin())) {
            best = &c;
            words = name.size();
        }
    }
    return best;
}

}  // namespace

int main(int argc, char** argv) {
    std::vector<std::string> args(argv + 1, argv + argc);
    if (args.empty()) {
        printUsage(stderr);
        return 2;
    }
    if (isHelp(args[0])) {
        printUsage(stdout);
        return finish(0);
    }
    if (args[0] == "--version") {
        const tarvo::ProgramVersion v = tarvo::GetOwnVersion();
        std::printf("Nimbra DAQ, Version %d.%d.%d.%d\n", v.major, v.minor, v.build, v.revision);
        return finish(0);
    }
    size_t words = 0;
    const tarvo::cli::Command* command = findCommand(args, words);
    if (command == nullptr) {
        std::fprintf(stderr, "tarvo-cli: unknown command '%s'\n", args[0].c_str());
        printUsage(stderr);
        return 2;
    }
    std::vector<std::string> rest(args.begin() + static_cast<std::ptrdiff_t>(words), args.end());
    if (std::any_of(rest.begin(), rest.end(), isHelp)) {
        std::printf("usage: tarvo-cli %s %s\n", command->name.c_str(), command->usage.c_str());
        return finish(0);
    }
    return finish(command->run(rest));
}
