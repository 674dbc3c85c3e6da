#include "shell/ShellUtilities.h"

#include <signal.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>

#include <cerrno>
#include <filesystem>
#include <thread>

#include "shell/SystemError.h"
#include "shell/Version.h"

extern char** environ;

namespace tarvo {
namespace {

// posix_spawn(p) with what a started program should get from us: the environment, descriptors 0
// to 2 only, default signal handling and no blocked signals (a command-line caller may have
// changed both for its own Ctrl-C).
bool spawnDetached(const std::string& program, const std::vector<std::string>& args, bool search) {
    std::vector<char*> argv;
    argv.reserve(args.size() + 1);
    for (const auto& a : args) {
        argv.push_back(const_cast<char*>(a.c_str()));
    }
    argv.push_back(nullptr);

    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addclosefrom_np(&actions, 3);
    posix_spawnattr_t attributes;
    posix_spawnattr_init(&attributes);
    sigset_t none;
    sigemptyset(&none);
    sigset_t all;
    sigfillset(&all);
    posix_spawnattr_setsigmask(&attributes, &none);
    posix_spawnattr_setsigdefault(&attributes, &all);
    posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETSIGMASK | POSIX_SPAWN_SETSIGDEF);

    pid_t pid = -1;
    const int result =
        search ? posix_spawnp(&pid, program.c_str(), &actions, &attributes, argv.data(), environ)
               : posix_spawn(&pid, program.c_str(), &actions, &attributes, argv.data(), environ);
    posix_spawnattr_destroy(&attributes);
    posix_spawn_file_actions_destroy(&actions);
    if (result != 0) {
        SetLastSystemError(result);
        return false;
    }
    // The caller does not wait, but the child must not stay a zombie for the rest of our run.
    std::thread([pid] {
        int status = 0;
        while (waitpid(pid, &status, 0) < 0 && errno == EINTR) {
        }
    }).detach();
    return true;
}

}  // namespace

ProgramVersion GetOwnVersion() {
    return {static_cast<std::uint16_t>(kVersionMajor), static_cast<std::uint16_t>(kVersionMinor),
            static_cast<std::uint16_t>(kVersionBuild),
            static_cast<std::uint16_t>(kVersionRevision)};
}

std::vector<std::string> SplitCommandLine(const std::string& text) {
    std::vector<std::string> args;
    std::string current;
    bool inArgument = false;
    bool quoted = false;
    for (size_t i = 0; i < text.size(); ++i) {
        const char c = text[i];
        if (c == '\\' && i + 1 < text.size() && text[i + 1] == '"') {
            current += '"';
            inArgument = true;
            ++i;
        } else if (c == '"') {
            quoted = !quoted;
            inArgument = true;
        } else if ((c == ' ' || c == '\t') && !quoted) {
            if (inArgument) {
                args.push_back(current);
                current.clear();
                inArgument = false;
            }
        } else {
            current += c;
            inArgument = true;
        }
    }
    if (inArgument) {
        args.push_back(current);
    }
    return args;
}

bool RunProgram(const std::string& programPath, const std::string& argumentText) {
    std::vector<std::string> args{programPath};
    for (auto& a : SplitCommandLine(argumentText)) {
        args.push_back(std::move(a));
    }
    return spawnDetached(programPath, args, false);
}

bool OpenInNotepad(const std::string& filePath) {
    return spawnDetached("xdg-open", {"xdg-open", filePath}, true);
}

std::string OwnProgramFolder() {
    std::error_code error;
    const auto self = std::filesystem::read_symlink("/proc/self/exe", error);
    return error ? std::string() : self.parent_path().string();
}

bool FileExists(const std::string& path) {
    struct stat info;
    return !path.empty() && lstat(path.c_str(), &info) == 0;
}

}  // namespace tarvo
