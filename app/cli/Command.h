#pragma once

#include <functional>
#include <string>
#include <vector>

namespace tarvo::cli {

// One tarvo-cli sub-command. Each command file registers itself with a static Registration, so
// adding a command touches only its own file and the CMake list.
struct Command {
    std::string name;   // e.g. "acquire", "sequence check"
    std::string usage;  // one line of arguments for the help text
    std::function<int(const std::vector<std::string>& args)> run;  // exit status
};

std::vector<Command>& commands();

struct Registration {
    explicit Registration(Command command) { commands().push_back(std::move(command)); }
};

}  // namespace tarvo::cli
