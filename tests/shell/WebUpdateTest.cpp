#include <gtest/gtest.h>
#include <sys/stat.h>

#include <cstdlib>
#include <filesystem>

#include "LocalHttpServer.h"
#include "UpdateTestSupport.h"
#include "shell/Operator.h"
#include "shell/ShellUtilities.h"
#include "shell/WebUpdate.h"
#include "support/TempDir.h"

namespace {

using tarvo::WebUpdateResult;
using tarvo::test::LocalHttpServer;
using Reply = tarvo::test::LocalHttpServer::Reply;
using tarvo::test::readFile;
using tarvo::test::RecordingProgress;
using tarvo::test::writeFile;

std::string version() {
    const auto v = tarvo::GetOwnVersion();
    return std::to_string(v.major) + "." + std::to_string(v.minor) + "." + std::to_string(v.build) +
           "." + std::to_string(v.revision);
}

class WebUpdateTest : public ::testing::Test {
  protected:
    void SetUp() override {
        setenv("no_proxy", "127.0.0.1,localhost", 1);
        setenv("NO_PROXY", "127.0.0.1,localhost", 1);
        install = (root.path() / "inst").string();
        logs = (root.path() / "logs").string();
        std::filesystem::create_directories(install);
        std::filesystem::create_directories(logs);
        writeFile(install + "/tarvo", "the program", true);
        updaterScript = tarvo::test::standInUpdater(logs);
        page = server.url("/dl/update.htm");
    }

    // The update procedure as the window runs it, with `progress` as its window.
    WebUpdateResult run(RecordingProgress& progress, const std::string& folder) {
        tarvo::WebUpdateContext context{op, progress, page, folder, {}, {}, {}};
        context.saveInstallDir = [this](const std::string& chosen) { saved.push_back(chosen); };
        context.chooseFolder = [this](const tarvo::FolderRequest& request) {
            requests.push_back(request);
            return chooserAnswer;
        };
        context.timeouts.connect = std::chrono::milliseconds(2000);
        context.timeouts.stall = std::chrono::milliseconds(1000);
        return tarvo::WebUpdate(context);
    }

    void servePageLinkingUpdater() {
        server.route("/dl/update.htm",
                     Reply::ok("<html><body><h1>Updates</h1>\r\n<a href=\"notes.htm\">Notes</a>\r\n"
                               "<a href=\"files/Pivvet\"><b>Pivvet</b></a>\r\n</body></html>"));
        server.route("/dl/files/Pivvet", Reply::ok(updaterScript));
    }

    nimbra::test::TempDir root;
    LocalHttpServer server;
    tarvo::ScriptedOperator op;
    std::string install;
    std::string logs;
    std::string updaterScript;
    std::string page;
    std::vector<std::string> saved;
    std::vector<tarvo::FolderRequest> requests;
    std::optional<std::string> chooserAnswer;
};

TEST_F(WebUpdateTest, DownloadsTheLinkedUpdaterAndStartsItWithItsCommandLine) {
    servePageLinkingUpdater();
    RecordingProgress progress;
    // A trailing slash in the stored folder changes nothing.
    ASSERT_EQ(run(progress, install + "//"), WebUpdateResult::kStarted);

    const auto starts = tarvo::test::waitForStarts(logs, 1);
    ASSERT_EQ(starts.size(), 1u);
    const std::vector<std::string> expected{"tarvo", version(), page, install};
    EXPECT_EQ(starts[0], expected);
    EXPECT_EQ(tarvo::UpdaterCommandLine(page, tarvo::TrimFolder(install + "/")),
              "tarvo " + version() + " " + page + " \"" + install + "\"");
    EXPECT_EQ(tarvo::SplitCommandLine(tarvo::UpdaterCommandLine(page, install)), expected);

    EXPECT_EQ(readFile(install + "/Pivvet"), updaterScript);
    EXPECT_EQ(tarvo::test::folderEntries(install), (std::vector<std::string>{"Pivvet", "tarvo"}));
    EXPECT_TRUE(op.entries().empty());
    EXPECT_TRUE(requests.empty());

    // The window saw the start (range, position, text), the chunks and the total.
    const auto calls = progress.calls();
    ASSERT_GE(calls.size(), 4u);
    EXPECT_EQ(calls[0].what, "range");
    EXPECT_EQ(calls[0].a, 0u);
    EXPECT_EQ(calls[0].b, updaterScript.size());
    EXPECT_EQ(calls[1].what, "position");
    EXPECT_EQ(calls[1].a, 0u);
    EXPECT_EQ(calls[2].what, "text");
    EXPECT_EQ(calls[2].text, "Updating " + install + "/Pivvet");
    EXPECT_EQ(progress.positions().back(), updaterScript.size());
}

TEST_F(WebUpdateTest, PageWithoutTheLinkStartsTheUpdaterAlreadyThere) {
    server.route("/dl/update.htm", Reply::ok("<a href=\"files/Pivvet\">Pivvet 2</a>"));
    writeFile(install + "/Pivvet", updaterScript, true);
    RecordingProgress progress;
    ASSERT_EQ(run(progress, install), WebUpdateResult::kStarted);
    EXPECT_EQ(tarvo::test::waitForStarts(logs, 1).size(), 1u);
    EXPECT_TRUE(progress.calls().empty());
    EXPECT_EQ(server.requests().size(), 1u);
}

TEST_F(WebUpdateTest, AbortedDownloadKeepsTheOldUpdaterAndStartsNothing) {
    servePageLinkingUpdater();
    server.route("/dl/files/Pivvet", Reply::ok(std::string(300000, 'x')));
    writeFile(install + "/Pivvet", updaterScript, true);
    RecordingProgress progress(8192);  // the operator presses "Abort" during the download
    ASSERT_EQ(run(progress, install), WebUpdateResult::kDownloadFailed);

    EXPECT_EQ(op.texts("error"), std::vector<std::string>{"Copy " + server.url("/dl/files/Pivvet") +
                                                          "\nERROR  ->995\nOperation aborted\n"});
    EXPECT_EQ(readFile(install + "/Pivvet"), updaterScript);
    EXPECT_EQ(tarvo::test::folderEntries(install), (std::vector<std::string>{"Pivvet", "tarvo"}));

    // A later update starts from scratch; only its own start is recorded.
    servePageLinkingUpdater();
    RecordingProgress again;
    ASSERT_EQ(run(again, install), WebUpdateResult::kStarted);
    EXPECT_EQ(tarvo::test::waitForStarts(logs, 1).size(), 1u);
    EXPECT_EQ(tarvo::test::recordedStarts(logs).size(), 1u);
}

TEST_F(WebUpdateTest, AbortBeforeAnyDownloadStartsNothing) {
    server.route("/dl/update.htm", Reply::ok("no link here"));
    writeFile(install + "/Pivvet", updaterScript, true);
    RecordingProgress progress;
    progress.abortEvent().set();
    EXPECT_NE(run(progress, install), WebUpdateResult::kStarted);
    RecordingProgress later;
    ASSERT_EQ(run(later, install), WebUpdateResult::kStarted);
    EXPECT_EQ(tarvo::test::waitForStarts(logs, 1).size(), 1u);
    EXPECT_EQ(tarvo::test::recordedStarts(logs).size(), 1u);
}

TEST_F(WebUpdateTest, PageFailuresAreReportedWithTheAddress) {
    RecordingProgress progress;
    ASSERT_EQ(run(progress, install), WebUpdateResult::kPageFailed);  // no page: 404

    server.route("/slow/update.htm", Reply::silent());
    page = server.url("/slow/update.htm");
    ASSERT_EQ(run(progress, install), WebUpdateResult::kPageFailed);

    tarvo::test::RefusingPort refusing;
    const std::string refusedPage = "http://127.0.0.1:" + std::to_string(refusing.port()) + "/u/";
    page = refusedPage;
    ASSERT_EQ(run(progress, install), WebUpdateResult::kPageFailed);

    const auto errors = op.texts("error");
    ASSERT_EQ(errors.size(), 3u);
    EXPECT_EQ(errors[0], "Error Connecting " + server.url("/dl/update.htm") +
                             "\nError ->2\nNo such file or directory\n");
    EXPECT_TRUE(errors[1].starts_with("Error Connecting " + server.url("/slow/update.htm") +
                                      "\nError ->110\nConnection timed out"))
        << errors[1];
    EXPECT_TRUE(errors[2].starts_with("Error Connecting " + refusedPage +
                                      "\nError ->111\nConnection refused"))
        << errors[2];
    EXPECT_FALSE(std::filesystem::exists(install + "/Pivvet"));
}

TEST_F(WebUpdateTest, MissingUpdaterFileIsACopyErrorAndNothingRuns) {
    server.route("/dl/update.htm", Reply::ok("<a href=\"gone/Pivvet\">Pivvet</a>"));
    writeFile(install + "/Pivvet", updaterScript, true);
    RecordingProgress progress;
    ASSERT_EQ(run(progress, install), WebUpdateResult::kDownloadFailed);
    EXPECT_EQ(op.texts("error"),
              std::vector<std::string>{"Copy " + server.url("/dl/gone/Pivvet") +
                                       "\nERROR  ->2\nNo such file or directory\n"});
    EXPECT_EQ(readFile(install + "/Pivvet"), updaterScript);
}

TEST_F(WebUpdateTest, UpdaterThatCannotStartIsReported) {
    server.route("/dl/update.htm", Reply::ok("nothing"));
    RecordingProgress progress;
    ASSERT_EQ(run(progress, install), WebUpdateResult::kRunFailed);
    EXPECT_EQ(op.texts("error"),
              std::vector<std::string>{"Error to run:\n" + install + "/Pivvet " +
                                       tarvo::UpdaterCommandLine(page, install) + "\n"});
}

TEST_F(WebUpdateTest, FolderWithoutTheProgramIsAskedForAndRemembered) {
    servePageLinkingUpdater();
    RecordingProgress progress;
    // Cancelled: nothing is fetched, nothing shown.
    EXPECT_EQ(run(progress, ""), WebUpdateResult::kNoFolder);
    ASSERT_EQ(requests.size(), 1u);
    EXPECT_EQ(requests[0].title, "tarvo Application folder not found\nPlease Select");
    EXPECT_EQ(requests[0].requiredFile, "tarvo");
    EXPECT_TRUE(server.requests().empty());
    EXPECT_TRUE(op.entries().empty());

    // A stored folder that no longer holds the program is asked for again.
    chooserAnswer = install + "/";
    ASSERT_EQ(run(progress, (root.path() / "old").string()), WebUpdateResult::kStarted);
    EXPECT_EQ(saved, std::vector<std::string>{install + "/"});
    const auto starts = tarvo::test::waitForStarts(logs, 1);
    ASSERT_EQ(starts.size(), 1u);
    EXPECT_EQ(starts[0].back(), install);
}

TEST_F(WebUpdateTest, OperatorChooserAnswerMustHoldTheProgram) {
    servePageLinkingUpdater();
    RecordingProgress progress;
    tarvo::WebUpdateContext context{op, progress, page, "", {}, {}, {}};
    op.queuePath(root.path().string());  // a folder without the program
    EXPECT_EQ(tarvo::WebUpdate(context), WebUpdateResult::kNoFolder);
    op.queuePath(install);
    EXPECT_EQ(tarvo::WebUpdate(context), WebUpdateResult::kStarted);
    EXPECT_EQ(tarvo::test::waitForStarts(logs, 1).size(), 1u);
}

}  // namespace
