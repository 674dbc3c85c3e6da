#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace tarvo {

struct ProgramVersion {
    std::uint16_t major = 0;
    std::uint16_t minor = 0;
    std::uint16_t build = 0;
    std::uint16_t revision = 0;
};

// The version this program was built as (major, minor, build, revision).
ProgramVersion GetOwnVersion();

// Starts `programPath` with the arguments of `argumentText` and does not wait for it. The text is
// split as a command line: blanks and tabs separate arguments, double quotes group (and are
// removed), `\"` is a literal double quote. The new process inherits the environment and the
// current directory, and of our descriptors only 0, 1 and 2. False with the last system error
// set when it cannot be started.
bool RunProgram(const std::string& programPath, const std::string& argumentText);

// Opens a text file in the desktop's editor for text files (xdg-open); does not wait.
bool OpenInNotepad(const std::string& filePath);

// True when the path names anything in the file system (a file, a folder, even a dangling link).
bool FileExists(const std::string& path);

// The folder of the running program (empty when the system does not say).
std::string OwnProgramFolder();

// The arguments of a command line, split as RunProgram splits them.
std::vector<std::string> SplitCommandLine(const std::string& text);

}  // namespace tarvo
