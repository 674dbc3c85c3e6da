#pragma once

#include <functional>
#include <optional>
#include <string>

#include "shell/HttpDownloader.h"
#include "shell/Operator.h"
#include "shell/UpdateProgress.h"

namespace tarvo {

inline constexpr const char* kProgramName = "tarvo";
inline constexpr const char* kUpdaterName = "Pivvet";
// Settings the web update reads ("InstallDir" it also writes when the operator picks the folder).
inline constexpr const char* kUpdatePageSetting = "HTML_UpdatePage";
inline constexpr const char* kInstallDirSetting = "InstallDir";
// The update page when the setting is absent.
inline constexpr const char* kDefaultUpdatePage = "https://nimbra-daq.example.org/update/";

// A folder chooser that enables OK only on folders holding `requiredFile`.
struct FolderRequest {
    std::string title;
    std::string initialFolder;
    std::string requiredFile;
};
using FolderChooser = std::function<std::optional<std::string>(const FolderRequest&)>;

struct WebUpdateContext {
    Operator& op;              // every message, error icon
    UpdateProgress& progress;  // the download's bar, text and abort
    std::string updatePage;    // the "HTML_UpdatePage" setting
    std::string installDir;    // the "InstallDir" setting
    // Stores a folder the operator chose as "InstallDir".
    std::function<void(const std::string&)> saveInstallDir;
    // Asks for the installation folder when the setting does not name one holding the program.
    // Without one, the Operator's folder chooser is asked and its answer checked afterwards.
    FolderChooser chooseFolder;
    HttpTimeouts timeouts;
};

enum class WebUpdateResult {
    kStarted,         // the updater runs
    kNoFolder,        // no installation folder (the operator cancelled the choice)
    kPageFailed,      // the update page could not be read
    kDownloadFailed,  // the updater could not be downloaded, or the download was aborted
    kRunFailed,       // the updater could not be started
    kAborted,         // "Abort" was pressed before the updater was started
};

// Finds the installation folder, downloads the updater named on the update page into it and
// starts it with "<program> <version> <page> \"<folder>\"". Runs on a worker; every failure is
// shown through the Operator. An aborted or failed download starts nothing and leaves an
// updater already in the folder as it was.
WebUpdateResult WebUpdate(const WebUpdateContext& context);

// The page's body, up to its first NUL. The abort of `progress` (when given) cancels the wait.
bool FetchPage(const std::string& address, std::string& text, const HttpTimeouts& timeouts = {},
               UpdateProgress* progress = nullptr);

// Downloads `address` to `path` as the updater (with its run bits), reporting through `progress`.
bool DownloadFile(const std::string& address, const std::string& path, UpdateProgress* progress,
                  const HttpTimeouts& timeouts = {});

// The installation folder without trailing separators ("/" stays "/").
std::string TrimFolder(const std::string& folder);

// The updater's arguments: "%s %d.%d.%d.%d %s \"%s\"".
std::string UpdaterCommandLine(const std::string& updatePage, const std::string& installDir);

}  // namespace tarvo
