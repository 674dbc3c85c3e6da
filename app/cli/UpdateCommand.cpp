// tarvo-cli update: the web update of the Help menu, for lab machines kept up to date over ssh.
#include <signal.h>

#include <atomic>
#include <cstdio>
#include <string>
#include <vector>

#include "cli/Command.h"
#include "shell/Operator.h"
#include "shell/ShellUtilities.h"
#include "shell/UpdateProgress.h"
#include "shell/WebUpdate.h"

namespace tarvo::cli {
namespace {

constexpr const char* kUsage = "[--page URL] [--install-dir DIR]";

std::atomic<bool> interrupted{false};

void onInterrupt(int) {
    interrupted.store(true);
    signal(SIGINT, SIG_DFL);  // a second Ctrl-C ends the program the ordinary way
}

// The progress window's counterpart on stderr; Ctrl-C is its "Abort".
class ConsoleProgress : public UpdateProgress {
  public:
    void setRange(std::uint32_t, std::uint32_t high) override { total_ = high; }
    void setPosition(std::uint32_t position) override {
        if (total_ != 0) {
            std::fprintf(stderr, "\r%u of %u bytes", position, total_);
        } else {
            std::fprintf(stderr, "\r%u bytes", position);
        }
        shown_ = true;
    }
    void setText(const std::string& text) override {
        endLine();
        std::fprintf(stderr, "%s\n", text.c_str());
    }
    bool abortRequested() const override {
        return interrupted.load() || UpdateProgress::abortRequested();
    }
    void endLine() {
        if (shown_) {
            std::fputc('\n', stderr);
            shown_ = false;
        }
    }

  private:
    std::uint32_t total_ = 0;
    bool shown_ = false;
};

int runUpdate(const std::vector<std::string>& args) {
    std::string page = kDefaultUpdatePage;
    std::string folder;
    for (size_t i = 0; i < args.size(); ++i) {
        if ((args[i] == "--page" || args[i] == "--install-dir") && i + 1 < args.size()) {
            (args[i] == "--page" ? page : folder) = args[i + 1];
            ++i;
        } else {
            std::fprintf(stderr, "usage: tarvo-cli update %s\n", kUsage);
            return 2;
        }
    }
    if (folder.empty()) {
        folder = OwnProgramFolder();  // tarvo-cli is installed beside tarvo
    }

    ConsoleOperator op(false);
    ConsoleProgress progress;
    interrupted.store(false);
    struct sigaction action {};
    action.sa_handler = onInterrupt;
    sigemptyset(&action.sa_mask);
    struct sigaction previous {};
    sigaction(SIGINT, &action, &previous);

    WebUpdateContext context{op, progress, page, folder, {}, {}, {}};
    // Nobody to ask for a folder here: a folder without the program is an error of the call.
    context.chooseFolder = [](const FolderRequest&) { return std::optional<std::string>(); };
    const WebUpdateResult result = WebUpdate(context);
    progress.endLine();
    sigaction(SIGINT, &previous, nullptr);

    switch (result) {
        case WebUpdateResult::kStarted:
            std::fprintf(stderr, "updater started\n");
            return 0;
        case WebUpdateResult::kNoFolder:
            std::fprintf(stderr, "error: %s does not hold %s; give --install-dir DIR\n",
                         folder.c_str(), kProgramName);
            return 1;
        case WebUpdateResult::kAborted:
            std::fprintf(stderr, "error: aborted\n");
            return 1;
        default:
            return 1;  // the reason has been printed
    }
}

const Registration registration{{"update", kUsage, runUpdate}};

}  // namespace
}  // namespace tarvo::cli
