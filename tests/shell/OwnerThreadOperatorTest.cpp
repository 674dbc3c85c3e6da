#include <gtest/gtest.h>

#include <future>
#include <thread>

#include "shell/OwnerThreadOperator.h"
#include "support/QueueExecutor.h"

namespace tarvo {
namespace {

using test::QueueExecutor;

// Answers on whatever thread calls it and remembers which threads those were.
class RecordingOperator : public ScriptedOperator {
  public:
    bool askYesNo(const std::string& text) override {
        threads.push_back(std::this_thread::get_id());
        return ScriptedOperator::askYesNo(text);
    }
    void error(const std::string& text) override {
        threads.push_back(std::this_thread::get_id());
        ScriptedOperator::error(text);
    }
    std::vector<std::thread::id> threads;  // touched on the owner thread only
};

TEST(OwnerThreadOperatorTest, WorkerQuestionsAreAnsweredOnTheOwnerThreadInOrder) {
    RecordingOperator target;
    target.queueAnswer(false);
    target.queuePath(std::string("/data/run.bin"));
    QueueExecutor owner;
    OwnerThreadOperator op(target, owner);

    auto worker = std::async(std::launch::async, [&op] {
        op.error("FATAL: Read Control1 FAIL");
        bool answer = op.askYesNo("Overwrite?");
        auto path = op.chooseSaveFile("", "bin", "*.bin");
        return std::make_pair(answer, path);
    });
    // Each call waits until the owner has run it, so three rounds answer the worker.
    for (int i = 0; i < 3; ++i) {
        EXPECT_EQ(owner.runPending(true), 1);
    }
    auto [answer, path] = worker.get();
    EXPECT_FALSE(answer);
    EXPECT_EQ(path, std::optional<std::string>("/data/run.bin"));
    ASSERT_EQ(target.entries().size(), 3u);
    EXPECT_EQ(target.entries()[0].kind, "error");
    EXPECT_EQ(target.entries()[1].kind, "yesno");
    EXPECT_EQ(target.entries()[2].kind, "save");
    ASSERT_EQ(target.threads.size(), 2u);
    for (auto id : target.threads) {
        EXPECT_EQ(id, std::this_thread::get_id());
    }
}

TEST(OwnerThreadOperatorTest, OwnerCallsGoStraightToTheTarget) {
    RecordingOperator target;
    target.queueAnswer(true);
    QueueExecutor owner;
    OwnerThreadOperator op(target, owner);
    EXPECT_TRUE(op.askYesNo("Sure?"));
    EXPECT_EQ(owner.runPending(), 0);
}

TEST(OwnerThreadOperatorTest, ShutDownReleasesAWaitingWorkerAndLaterQuestions) {
    RecordingOperator target;
    target.queueAnswer(true);
    QueueExecutor owner;
    auto op = std::make_unique<OwnerThreadOperator>(target, owner);

    std::thread worker([&] {
        // Nobody answers this one: the owner is about to join the worker.
        EXPECT_FALSE(op->askYesNo("Overwrite?"));
        EXPECT_FALSE(op->askRetryCancel("Retry?"));
        EXPECT_EQ(op->chooseFolder("Folder", "/tmp"), std::nullopt);
        op->error("dropped");
    });
    owner.waitForWork();
    op->shutDown();
    worker.join();
    EXPECT_TRUE(op->isShutDown());

    // The question left in the owner's queue runs after the operator is gone and does nothing.
    op.reset();
    EXPECT_EQ(owner.runPending(), 1);
    EXPECT_TRUE(target.entries().empty());
}

}  // namespace
}  // namespace tarvo
