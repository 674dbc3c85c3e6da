#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>

#include "LocalHttpServer.h"
#include "UpdateTestSupport.h"
#include "shell/HttpDownloader.h"
#include "shell/SystemError.h"
#include "shell/UpdateProgress.h"
#include "support/TempDir.h"

namespace {

using tarvo::HttpDownloader;
using tarvo::HttpTimeouts;
using tarvo::test::LocalHttpServer;
using Reply = tarvo::test::LocalHttpServer::Reply;
using tarvo::test::readFile;
using tarvo::test::writeFile;

// A body of `size` bytes that shows where each byte came from.
std::string pattern(size_t size) {
    std::string body(size, '\0');
    for (size_t i = 0; i < size; ++i) {
        body[i] = static_cast<char>('a' + (i * 7 + i / 4096) % 26);
    }
    return body;
}

struct ProgressCall {
    std::uint64_t total;
    std::uint64_t transferred;
    std::uint32_t reason;
};

class HttpDownloaderTest : public ::testing::Test {
  protected:
    void SetUp() override {
        // The loopback server must be reached directly whatever proxy the machine has.
        setenv("no_proxy", "127.0.0.1,localhost", 1);
        setenv("NO_PROXY", "127.0.0.1,localhost", 1);
        tarvo::SetLastSystemError(0);
    }

    HttpTimeouts fast() const {
        HttpTimeouts t;
        t.connect = std::chrono::milliseconds(2000);
        t.stall = std::chrono::milliseconds(1000);
        return t;
    }

    // A downloader that records its progress calls and answers `answer` from the chunk whose
    // transferred count reaches `answerFrom`.
    void recordProgress(HttpDownloader& d, std::uint64_t answerFrom = UINT64_MAX,
                        std::uint32_t answer = tarvo::kProgressContinue) {
        d.setProgress([this, answerFrom, answer](std::uint64_t total, std::uint64_t transferred,
                                                 std::uint32_t reason) {
            calls.push_back({total, transferred, reason});
            return reason == tarvo::kChunkFinished && transferred >= answerFrom
                       ? answer
                       : static_cast<std::uint32_t>(tarvo::kProgressContinue);
        });
    }

    LocalHttpServer server;
    nimbra::test::TempDir dir;
    std::vector<ProgressCall> calls;
};

TEST_F(HttpDownloaderTest, PageWithAndWithoutContentLength) {
    server.route("/with", Reply::ok("<html>with</html>"));
    server.route("/without", Reply::ok("<html>without</html>").noLength());
    HttpDownloader d(fast());
    std::string text;
    ASSERT_TRUE(d.ReadPage(server.url("/with"), text));
    EXPECT_EQ(text, "<html>with</html>");
    EXPECT_EQ(d.contentLength(), 17);
    // The same session serves the next request.
    ASSERT_TRUE(d.ReadPage(server.url("/without"), text));
    EXPECT_EQ(text, "<html>without</html>");
    EXPECT_EQ(d.contentLength(), 0);

    // Caches are bypassed and the program names itself.
    const auto requests = server.requests();
    ASSERT_EQ(requests.size(), 2u);
    EXPECT_NE(requests[0].find("GET /with HTTP/1.1"), std::string::npos);
    EXPECT_NE(requests[0].find("Cache-Control: no-cache"), std::string::npos);
    EXPECT_NE(requests[0].find("Pragma: no-cache"), std::string::npos);
    EXPECT_NE(requests[0].find("User-Agent: tarvo"), std::string::npos);
}

TEST_F(HttpDownloaderTest, PageTextEndsAtItsFirstNul) {
    std::string body = "<p>before";
    body += '\0';
    body += "after</p>";
    server.route("/nul", Reply::ok(body));
    HttpDownloader d(fast());
    std::string text;
    ASSERT_TRUE(d.ReadPage(server.url("/nul"), text));
    EXPECT_EQ(text, "<p>before");
}

TEST_F(HttpDownloaderTest, DownloadStreamsChunksAndReportsStartAndTotal) {
    const std::string body = pattern(3 * 4096 + 1000);
    server.route("/Pivvet", Reply::ok(body));
    const std::string path = dir.file("Pivvet");
    HttpDownloader d(fast());
    recordProgress(d);
    ASSERT_TRUE(d.DownloadTo(server.url("/Pivvet"), path, true));
    EXPECT_EQ(readFile(path), body);

    ASSERT_GE(calls.size(), 5u);
    EXPECT_EQ(calls[0].reason, tarvo::kStreamStart);
    EXPECT_EQ(calls[0].transferred, 0u);
    std::uint64_t previous = 0;
    for (size_t i = 0; i < calls.size(); ++i) {
        EXPECT_EQ(calls[i].total, body.size());
        if (i > 0) {
            EXPECT_EQ(calls[i].reason, tarvo::kChunkFinished);
            EXPECT_GT(calls[i].transferred, previous);
            EXPECT_LE(calls[i].transferred - previous, HttpDownloader::kChunkSize);
            previous = calls[i].transferred;
        }
    }
    EXPECT_EQ(calls.back().transferred, body.size());

    // Runnable where readable, and nothing else left in the folder.
    struct stat info;
    ASSERT_EQ(stat(path.c_str(), &info), 0);
    EXPECT_EQ(info.st_mode & 0111, (info.st_mode & 0444) >> 2);
    EXPECT_NE(info.st_mode & 0100, 0u);
    EXPECT_EQ(tarvo::test::folderEntries(dir.path().string()), std::vector<std::string>{"Pivvet"});
}

TEST_F(HttpDownloaderTest, PartsLeftByKilledDownloadsAreRemoved) {
    server.route("/Pivvet", Reply::ok("new"));
    // No process has pid 2^31-1 (beyond any pid_max); ours is alive and keeps its part.
    writeFile(dir.file(".Pivvet.part-2147483647-0"), "orphan");
    const std::string ours = ".Pivvet.part-" + std::to_string(getpid()) + "-99999";
    writeFile(dir.file(ours), "in use");
    writeFile(dir.file(".Other.part-2147483647-0"), "not ours to touch");
    HttpDownloader d(fast());
    ASSERT_TRUE(d.DownloadTo(server.url("/Pivvet"), dir.file("Pivvet"), true));
    EXPECT_EQ(tarvo::test::folderEntries(dir.path().string()),
              (std::vector<std::string>{".Other.part-2147483647-0", ours, "Pivvet"}));
}

TEST_F(HttpDownloaderTest, DownloadWithoutContentLengthIsCompleteWithTotalZero) {
    const std::string body = pattern(10000);
    server.route("/Pivvet", Reply::ok(body).noLength());
    HttpDownloader d(fast());
    recordProgress(d);
    ASSERT_TRUE(d.DownloadTo(server.url("/Pivvet"), dir.file("Pivvet"), false));
    EXPECT_EQ(readFile(dir.file("Pivvet")), body);
    ASSERT_FALSE(calls.empty());
    for (const auto& c : calls) {
        EXPECT_EQ(c.total, 0u);
    }
    EXPECT_EQ(calls.back().transferred, body.size());
}

TEST_F(HttpDownloaderTest, NotFoundIsErrorTwoAndCreatesNoFile) {
    HttpDownloader d(fast());
    std::string text = "unchanged";
    EXPECT_FALSE(d.ReadPage(server.url("/missing"), text));
    EXPECT_EQ(text, "unchanged");
    EXPECT_EQ(tarvo::GetLastSystemError().code, 2);
    std::string message;
    tarvo::AppendSystemError("Copy x\nERROR ", message);
    EXPECT_EQ(message, "Copy x\nERROR  ->2\nNo such file or directory\n");

    writeFile(dir.file("Pivvet"), "old updater");
    recordProgress(d);
    EXPECT_FALSE(d.DownloadTo(server.url("/missing"), dir.file("Pivvet"), true));
    EXPECT_EQ(tarvo::GetLastSystemError().code, 2);
    EXPECT_TRUE(calls.empty());
    EXPECT_EQ(readFile(dir.file("Pivvet")), "old updater");
    EXPECT_EQ(tarvo::test::folderEntries(dir.path().string()), std::vector<std::string>{"Pivvet"});
}

TEST_F(HttpDownloaderTest, OtherStatusesFailWithTheStatusInTheText) {
    server.route("/broken", Reply::withStatus(500, "oops"));
    HttpDownloader d(fast());
    std::string text;
    EXPECT_FALSE(d.ReadPage(server.url("/broken"), text));
    const auto error = tarvo::GetLastSystemError();
    EXPECT_EQ(error.code, EPROTO);
    EXPECT_EQ(error.text, "HTTP status 500");
}

TEST_F(HttpDownloaderTest, RedirectsAreFollowedUpToFive) {
    server.route("/old", Reply::redirect(302, "/hop1"));
    for (int i = 1; i <= 5; ++i) {
        server.route("/hop" + std::to_string(i),
                     Reply::redirect(301, "/hop" + std::to_string(i + 1)));
    }
    server.route("/hop6", Reply::ok("arrived"));
    server.route("/near", Reply::redirect(302, server.url("/hop5")));
    HttpDownloader d(fast());
    std::string text;
    ASSERT_TRUE(d.ReadPage(server.url("/near"), text));
    EXPECT_EQ(text, "arrived");
    // The redirect's own (empty) body and length do not count.
    EXPECT_EQ(d.contentLength(), 7);

    EXPECT_FALSE(d.ReadPage(server.url("/old"), text));  // six redirects
    EXPECT_EQ(tarvo::GetLastSystemError().code, EPROTO);
}

TEST_F(HttpDownloaderTest, StallingServerTimesOut) {
    server.route("/page", Reply::silent());
    server.route("/Pivvet", Reply::ok(pattern(20000)).stallingAfter(5000));
    HttpDownloader d(fast());
    std::string text;
    EXPECT_FALSE(d.ReadPage(server.url("/page"), text));
    EXPECT_EQ(tarvo::GetLastSystemError().code, ETIMEDOUT);

    writeFile(dir.file("Pivvet"), "old updater");
    EXPECT_FALSE(d.DownloadTo(server.url("/Pivvet"), dir.file("Pivvet"), true));
    EXPECT_EQ(tarvo::GetLastSystemError().code, ETIMEDOUT);
    EXPECT_EQ(readFile(dir.file("Pivvet")), "old updater");
    EXPECT_EQ(tarvo::test::folderEntries(dir.path().string()), std::vector<std::string>{"Pivvet"});
}

TEST_F(HttpDownloaderTest, RefusedConnectionAndForeignSchemes) {
    tarvo::test::RefusingPort refusing;
    HttpDownloader d(fast());
    std::string text;
    EXPECT_FALSE(d.ReadPage("http://127.0.0.1:" + std::to_string(refusing.port()) + "/", text));
    const auto error = tarvo::GetLastSystemError();
    EXPECT_EQ(error.code, ECONNREFUSED);
    EXPECT_TRUE(error.text.starts_with("Connection refused")) << error.text;

    EXPECT_FALSE(d.ReadPage("file:///etc/hostname", text));
    EXPECT_EQ(tarvo::GetLastSystemError().code, EPROTONOSUPPORT);
}

TEST_F(HttpDownloaderTest, TruncatedBodyIsAFailureNotAnUpdater) {
    server.route("/Pivvet", Reply::ok(pattern(6000)).declaring(9000));
    writeFile(dir.file("Pivvet"), "old updater");
    HttpDownloader d(fast());
    EXPECT_FALSE(d.DownloadTo(server.url("/Pivvet"), dir.file("Pivvet"), true));
    EXPECT_EQ(tarvo::GetLastSystemError().code, ECONNRESET);
    EXPECT_EQ(readFile(dir.file("Pivvet")), "old updater");
    EXPECT_EQ(tarvo::test::folderEntries(dir.path().string()), std::vector<std::string>{"Pivvet"});
}

TEST_F(HttpDownloaderTest, CancelEndsTheDownloadAndRemovesThePartialFile) {
    server.route("/Pivvet", Reply::ok(pattern(400000)));
    writeFile(dir.file("Pivvet"), "old updater");
    HttpDownloader d(fast());
    recordProgress(d, 8192, tarvo::kProgressCancel);
    EXPECT_FALSE(d.DownloadTo(server.url("/Pivvet"), dir.file("Pivvet"), true));
    EXPECT_EQ(tarvo::GetLastSystemError().code, tarvo::kAborted);
    EXPECT_GE(calls.back().transferred, 8192u);
    EXPECT_LT(calls.back().transferred, 8192u + HttpDownloader::kChunkSize);
    EXPECT_EQ(readFile(dir.file("Pivvet")), "old updater");
    EXPECT_EQ(tarvo::test::folderEntries(dir.path().string()), std::vector<std::string>{"Pivvet"});
    std::string message;
    tarvo::AppendSystemError("p", message);
    EXPECT_EQ(message, "p ->995\nOperation aborted\n");
}

TEST_F(HttpDownloaderTest, StopAnswerEndsTheCallsButNotTheDownload) {
    const std::string body = pattern(30000);
    server.route("/Pivvet", Reply::ok(body));
    HttpDownloader d(fast());
    recordProgress(d, 4096, tarvo::kProgressStop);
    ASSERT_TRUE(d.DownloadTo(server.url("/Pivvet"), dir.file("Pivvet"), true));
    EXPECT_EQ(readFile(dir.file("Pivvet")), body);
    ASSERT_FALSE(calls.empty());
    EXPECT_LE(calls.back().transferred, 8192u);
}

TEST_F(HttpDownloaderTest, CancelReachesADownloadWaitingForData) {
    server.route("/Pivvet", Reply::ok(pattern(20000)).stallingAfter(4096));
    HttpTimeouts slow;
    slow.stall = std::chrono::milliseconds(60000);
    HttpDownloader d(slow);
    bool sawData = false;
    d.setProgress([&](std::uint64_t, std::uint64_t transferred, std::uint32_t) {
        sawData = transferred > 0;
        return static_cast<std::uint32_t>(tarvo::kProgressContinue);
    });
    d.setCancel([&] { return sawData; });
    EXPECT_FALSE(d.DownloadTo(server.url("/Pivvet"), dir.file("Pivvet"), true));
    EXPECT_EQ(tarvo::GetLastSystemError().code, tarvo::kAborted);
    EXPECT_TRUE(tarvo::test::folderEntries(dir.path().string()).empty());
}

TEST_F(HttpDownloaderTest, UnwritableFolderFailsWithTheFilesError) {
    server.route("/Pivvet", Reply::ok("x"));
    HttpDownloader d(fast());
    EXPECT_FALSE(d.DownloadTo(server.url("/Pivvet"), dir.file("no/such/folder/Pivvet"), true));
    const auto error = tarvo::GetLastSystemError();
    EXPECT_EQ(error.code, ENOENT);
    EXPECT_NE(error.text.find("no/such/folder/Pivvet"), std::string::npos);
}

}  // namespace
