#include <gtest/gtest.h>
#include <signal.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>

#include "CliProcess.h"
#include "LocalHttpServer.h"
#include "UpdateTestSupport.h"
#include "support/TempDir.h"

namespace {

using tarvo::test::CliProcess;
using tarvo::test::LocalHttpServer;
using Reply = tarvo::test::LocalHttpServer::Reply;
using tarvo::test::readFile;
using tarvo::test::writeFile;

class UpdateCommandTest : public ::testing::Test {
  protected:
    void SetUp() override {
        setenv("no_proxy", "127.0.0.1,localhost", 1);
        setenv("NO_PROXY", "127.0.0.1,localhost", 1);
        install = (root.path() / "inst").string();
        logs = (root.path() / "logs").string();
        out = (root.path() / "out").string();
        for (const auto& d : {install, logs, out}) {
            std::filesystem::create_directories(d);
        }
        writeFile(install + "/tarvo", "the program", true);
        script = tarvo::test::standInUpdater(logs);
        server.route("/u/index.html", Reply::ok("<a href=\"Pivvet\">Pivvet</a>"));
    }

    nimbra::test::TempDir root;
    LocalHttpServer server;
    std::string install;
    std::string logs;
    std::string out;
    std::string script;
};

TEST_F(UpdateCommandTest, UpdatesAndStartsTheUpdater) {
    server.route("/u/Pivvet", Reply::ok(script));
    CliProcess cli({"update", "--page", server.url("/u/index.html"), "--install-dir", install},
                   out);
    ASSERT_EQ(cli.wait(), 0) << cli.err();
    EXPECT_NE(cli.err().find("Updating " + install + "/Pivvet"), std::string::npos) << cli.err();
    const auto starts = tarvo::test::waitForStarts(logs, 1);
    ASSERT_EQ(starts.size(), 1u);
    EXPECT_EQ(starts[0].back(), install);
}

TEST_F(UpdateCommandTest, ErrorsExitWithOne) {
    CliProcess missing({"update", "--page", server.url("/nothing/"), "--install-dir", install},
                       out);
    EXPECT_EQ(missing.wait(), 1);
    EXPECT_NE(missing.err().find("Error Connecting " + server.url("/nothing/")), std::string::npos)
        << missing.err();

    CliProcess noProgram({"update", "--page", server.url("/u/index.html"), "--install-dir", logs},
                         out);
    EXPECT_EQ(noProgram.wait(), 1);
    EXPECT_TRUE(server.requests().size() == 1u);
}

TEST_F(UpdateCommandTest, CtrlCAbortsTheDownload) {
    server.route("/u/Pivvet", Reply::ok(std::string(100000, 'x')).stallingAfter(20000));
    writeFile(install + "/Pivvet", script, true);
    CliProcess cli({"update", "--page", server.url("/u/index.html"), "--install-dir", install},
                   out);
    for (int i = 0; i < 1500 && cli.err().find("20000 of 100000") == std::string::npos; ++i) {
        usleep(20000);
    }
    cli.signal(SIGINT);
    EXPECT_EQ(cli.wait(), 1);
    EXPECT_NE(cli.err().find("ERROR  ->995"), std::string::npos) << cli.err();
    EXPECT_EQ(readFile(install + "/Pivvet"), script);
    EXPECT_EQ(tarvo::test::folderEntries(install), (std::vector<std::string>{"Pivvet", "tarvo"}));
    usleep(200000);
    EXPECT_TRUE(tarvo::test::recordedStarts(logs).empty());
}

}  // namespace
