#include "shell/WebUpdate.h"

#include <unistd.h>

#include <cstdio>
#include <filesystem>

#include "shell/ShellUtilities.h"
#include "shell/SystemError.h"
#include "shell/UpdaterLink.h"

namespace tarvo {
namespace {

std::string format(const char* pattern, const std::string& a, const std::string& b = {}) {
    const int size = std::snprintf(nullptr, 0, pattern, a.c_str(), b.c_str());
    std::string out(static_cast<size_t>(size) + 1, '\0');
    std::snprintf(out.data(), out.size(), pattern, a.c_str(), b.c_str());
    out.resize(static_cast<size_t>(size));
    return out;
}

std::optional<std::string> askForFolder(const WebUpdateContext& context) {
    FolderRequest request;
    request.title = format("%s Application folder not found\nPlease Select", kProgramName);
    // The chooser opens where the running program lies, the likeliest installation folder.
    request.initialFolder = OwnProgramFolder();
    request.requiredFile = kProgramName;
    if (context.chooseFolder) {
        return context.chooseFolder(request);
    }
    auto chosen = context.op.chooseFolder(request.title, request.initialFolder);
    if (chosen && !FileExists((std::filesystem::path(*chosen) / request.requiredFile).string())) {
        return std::nullopt;
    }
    return chosen;
}

}  // namespace

std::string TrimFolder(const std::string& folder) {
    std::string out = folder;
    while (out.size() > 1 && out.back() == '/') {
        out.pop_back();
    }
    return out;
}

std::string UpdaterCommandLine(const std::string& updatePage, const std::string& installDir) {
    const ProgramVersion v = GetOwnVersion();
    char version[32];
    std::snprintf(version, sizeof version, "%d.%d.%d.%d", v.major, v.minor, v.build, v.revision);
    return std::string(kProgramName) + " " + version + " " + updatePage + " \"" + installDir + "\"";
}

bool FetchPage(const std::string& address, std::string& text, const HttpTimeouts& timeouts,
               UpdateProgress* progress) {
    HttpDownloader downloader(timeouts);
    if (progress != nullptr) {
        downloader.setCancel([progress] { return progress->abortRequested(); });
    }
    return downloader.ReadPage(address, text);
}

bool DownloadFile(const std::string& address, const std::string& path, UpdateProgress* progress,
                  const HttpTimeouts& timeouts) {
    HttpDownloader downloader(timeouts);
    if (progress != nullptr) {
        // The operator sees the name the updater will have, not the file it grows in.
        std::error_code error;
        auto shown = std::filesystem::weakly_canonical(path, error);
        const std::string destination = error ? path : shown.string();
        downloader.setProgress([progress, destination](std::uint64_t total,
                                                       std::uint64_t transferred,
                                                       std::uint32_t reason) {
            return ProgressRoutine(total, transferred, reason, destination, *progress);
        });
        downloader.setCancel([progress] { return progress->abortRequested(); });
    }
    return downloader.DownloadTo(address, path, true);
}

WebUpdateResult WebUpdate(const WebUpdateContext& context) {
    const std::string& page = context.updatePage;
    std::string folder = context.installDir;
    if (folder.empty() || !FileExists((std::filesystem::path(folder) / kProgramName).string())) {
        auto chosen = askForFolder(context);
        if (!chosen || chosen->empty()) {
            return WebUpdateResult::kNoFolder;
        }
        folder = *chosen;
        if (context.saveInstallDir) {
            context.saveInstallDir(folder);
        }
    }
    folder = TrimFolder(folder);
    const std::string commandLine = UpdaterCommandLine(page, folder);
    const std::string updater = (folder == "/" ? folder : folder + "/") + kUpdaterName;

    std::string text;
    std::string message;
    if (!FetchPage(page, text, context.timeouts, &context.progress)) {
        AppendSystemError(format("Error Connecting %s\nError", page), message);
        context.op.error(message);
        return WebUpdateResult::kPageFailed;
    }

    std::string target;
    std::string linkText;
    if (FindUpdaterLink(text, target, linkText)) {
        const std::string address = MakeDownloadAddress(page, target);
        if (!DownloadFile(address, updater, &context.progress, context.timeouts)) {
            AppendSystemError(format("Copy %s\nERROR ", address), message);
            context.op.error(message);
            return WebUpdateResult::kDownloadFailed;
        }
    }

    // An operator who pressed "Abort" while nothing was being downloaded still wants nothing run.
    if (context.progress.abortRequested()) {
        return WebUpdateResult::kAborted;
    }
    if (!RunProgram(updater, commandLine)) {
        context.op.error(format("Error to run:\n%s %s\n", updater, commandLine));
        return WebUpdateResult::kRunFailed;
    }
    return WebUpdateResult::kStarted;
}

}  // namespace tarvo
