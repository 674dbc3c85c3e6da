#include <gtest/gtest.h>

#include <QApplication>
#include <QDir>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QPointer>
#include <QProgressBar>
#include <QPushButton>
#include <QTest>
#include <QTimer>
#include <atomic>
#include <cstdlib>
#include <filesystem>
#include <map>
#include <thread>

#include "LocalHttpServer.h"
#include "UpdateTestSupport.h"
#include "shell/Operator.h"
#include "shell/WebUpdate.h"
#include "shell/ui/CFolderDialog.h"
#include "shell/ui/CProgressDlg.h"
#include "shell/ui/WebUpdateLauncher.h"
#include "support/TempDir.h"

namespace {

using Reply = tarvo::test::LocalHttpServer::Reply;

QApplication& app() {
    static int argc = 1;
    static char name[] = "shell-windows-tests";
    static char* argv[] = {name, nullptr};
    static QApplication* instance = [] {
        qputenv("QT_QPA_PLATFORM", "offscreen");
        return new QApplication(argc, argv);
    }();
    return *instance;
}

template <class T>
T* byName(QWidget* parent, const QString& name) {
    for (T* w : parent->findChildren<T*>()) {
        if (w->accessibleName() == name) {
            return w;
        }
    }
    return nullptr;
}

// Runs `work` on a thread of its own while this thread keeps answering the window's calls.
void onWorker(const std::function<void()>& work) {
    std::atomic<bool> done{false};
    std::thread worker([&] {
        work();
        done.store(true);
    });
    while (!done.load()) {
        QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
    }
    worker.join();
}

void deleteClosedWindows() {
    QCoreApplication::processEvents();
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
}

class ShellWindows : public ::testing::Test {
  protected:
    void SetUp() override { app(); }
};

TEST_F(ShellWindows, ProgressWindowOnlyAbortsAndOnlyItsWorkerClosesIt) {
    QPointer<CProgressDlg> window = new CProgressDlg;
    window->show();
    EXPECT_EQ(window->windowTitle(), "Copy");
    EXPECT_FALSE(window->windowFlags() & Qt::WindowCloseButtonHint);
    EXPECT_FALSE(window->windowFlags() & Qt::WindowSystemMenuHint);

    QTest::keyClick(window, Qt::Key_Escape);
    QTest::keyClick(window, Qt::Key_Return);
    window->close();
    deleteClosedWindows();
    ASSERT_TRUE(window);
    EXPECT_TRUE(window->isVisible());
    EXPECT_FALSE(window->abortEvent().isSet());

    auto* abort = byName<QPushButton>(window, "Abort");
    ASSERT_NE(abort, nullptr);
    QTest::mouseClick(abort, Qt::LeftButton);
    QTest::mouseClick(abort, Qt::LeftButton);
    EXPECT_TRUE(window->abortEvent().isSet());
    EXPECT_TRUE(window->isVisible());

    onWorker([&] { window->requestClose(); });
    deleteClosedWindows();
    EXPECT_FALSE(window);
}

TEST_F(ShellWindows, ProgressRoutineDrivesTheWindowFromTheWorker) {
    QPointer<CProgressDlg> window = new CProgressDlg;
    window->show();
    std::vector<std::uint32_t> answers;
    onWorker([&] {
        answers.push_back(
            tarvo::ProgressRoutine(10000, 0, tarvo::kStreamStart, "/opt/tarvo/Pivvet", *window));
        answers.push_back(tarvo::ProgressRoutine(10000, 4096, tarvo::kChunkFinished, "", *window));
    });
    auto* bar = byName<QProgressBar>(window, "Progress");
    ASSERT_NE(bar, nullptr);
    EXPECT_EQ(bar->minimum(), 0);
    EXPECT_EQ(bar->maximum(), 10000);
    EXPECT_EQ(bar->value(), 4096);
    EXPECT_EQ(byName<QLabel>(window, "Text")->text(), "Updating /opt/tarvo/Pivvet");

    QTest::mouseClick(byName<QPushButton>(window, "Abort"), Qt::LeftButton);
    onWorker([&] {
        answers.push_back(tarvo::ProgressRoutine(10000, 8192, tarvo::kChunkFinished, "", *window));
        // Sizes beyond the bar's ints still fill it in proportion.
        window->setRange(0, 0xFFFFFFFFu);
        window->setPosition(0x80000000u);
    });
    EXPECT_EQ(answers, (std::vector<std::uint32_t>{0, 0, 1}));
    EXPECT_NEAR(double(bar->value()) / bar->maximum(), 0.5, 0.001);
    window->requestClose();
    deleteClosedWindows();
}

class FolderChooser : public ShellWindows {
  protected:
    void SetUp() override {
        ShellWindows::SetUp();
        with = QString::fromStdString((dir.path() / "with").string());
        without = QString::fromStdString((dir.path() / "without").string());
        std::filesystem::create_directories(with.toStdString());
        std::filesystem::create_directories(without.toStdString());
        tarvo::test::writeFile(with.toStdString() + "/tarvo", "program");
    }

    nimbra::test::TempDir dir;
    QString with;
    QString without;
};

TEST_F(FolderChooser, OkOnlyOnFoldersHoldingTheRequiredFile) {
    CFolderDialog chooser("tarvo Application folder not found\nPlease Select", without);
    chooser.requiredFile = "tarvo";
    chooser.show();
    auto* ok = byName<QPushButton>(&chooser, "OK");
    ASSERT_NE(ok, nullptr);
    EXPECT_EQ(chooser.selectedFolder(), without);
    EXPECT_FALSE(ok->isEnabled());
    EXPECT_EQ(byName<QLabel>(&chooser, "Status")->text(), without);

    chooser.selectFolder(with);
    EXPECT_TRUE(ok->isEnabled());
    EXPECT_EQ(byName<QLabel>(&chooser, "Status")->text(), with);
    chooser.selectFolder(without);
    EXPECT_FALSE(ok->isEnabled());

    // Typing a folder into the edit box selects it.
    auto* edit = byName<QLineEdit>(&chooser, "Folder");
    edit->selectAll();
    QTest::keyClicks(edit, with);
    EXPECT_EQ(chooser.selectedFolder(), with);
    EXPECT_TRUE(ok->isEnabled());
}

TEST_F(FolderChooser, OpensOnAFolderHoldingTheFileWithOkEnabled) {
    CFolderDialog chooser("t", with);
    chooser.requiredFile = "tarvo";
    chooser.options |= CFolderDialog::kNoNewFolderButton;
    chooser.show();
    EXPECT_TRUE(byName<QPushButton>(&chooser, "OK")->isEnabled());
    EXPECT_FALSE(byName<QPushButton>(&chooser, "Make New Folder")->isVisible());
}

TEST_F(FolderChooser, OpensOnTheCurrentDirectoryWithoutAnInitialFolder) {
    const QString previous = QDir::currentPath();
    QDir::setCurrent(with);
    CFolderDialog chooser("t");
    chooser.requiredFile = "tarvo";
    chooser.show();
    const QString selected = chooser.selectedFolder();
    const bool okEnabled = byName<QPushButton>(&chooser, "OK")->isEnabled();
    QDir::setCurrent(previous);
    EXPECT_EQ(selected, with);
    EXPECT_TRUE(okEnabled);
    EXPECT_TRUE(byName<QPushButton>(&chooser, "Make New Folder")->isVisible());
}

TEST_F(FolderChooser, RunsModallyAndReturnsTheChoice) {
    CFolderDialog chooser("t", without);
    QTimer::singleShot(0, [&] {
        chooser.selectFolder(with);
        QTest::mouseClick(byName<QPushButton>(&chooser, "OK"), Qt::LeftButton);
    });
    EXPECT_EQ(chooser.DoModal(), std::optional<QString>(with));

    CFolderDialog cancelled("t", without);
    QTimer::singleShot(
        0, [&] { QTest::mouseClick(byName<QPushButton>(&cancelled, "Cancel"), Qt::LeftButton); });
    EXPECT_EQ(cancelled.DoModal(), std::nullopt);
}

// The "Web Update" command end to end: progress window, worker, folder chooser, settings.
class WebUpdateWindow : public FolderChooser {
  protected:
    void SetUp() override {
        FolderChooser::SetUp();
        setenv("no_proxy", "127.0.0.1,localhost", 1);
        setenv("NO_PROXY", "127.0.0.1,localhost", 1);
        logs = (dir.path() / "logs").string();
        std::filesystem::create_directories(logs);
        server.route("/u/update.htm", Reply::ok("<a href=\"bin/Pivvet\">Pivvet</a>"));
        server.route("/u/bin/Pivvet", Reply::ok(tarvo::test::standInUpdater(logs)));
        settings["HTML_UpdatePage"] = server.url("/u/update.htm");
    }

    WebUpdateLauncher::Settings store() {
        return {[this](const std::string& name, const std::string& value) {
                    auto it = settings.find(name);
                    return it == settings.end() ? value : it->second;
                },
                [this](const std::string& name, const std::string& value) {
                    settings[name] = value;
                    writes.push_back(name + "=" + value);
                }};
    }

    void waitForEnd(WebUpdateLauncher& launcher) {
        EXPECT_TRUE(QTest::qWaitFor([&] { return launcher.running() == 0; }, 30000));
        deleteClosedWindows();
    }

    tarvo::test::LocalHttpServer server;
    tarvo::ScriptedOperator op;
    std::string logs;
    std::map<std::string, std::string> settings;
    std::vector<std::string> writes;
};

TEST_F(WebUpdateWindow, DownloadsAndStartsTheUpdaterThenClosesItsWindow) {
    settings["InstallDir"] = with.toStdString() + "/";
    QWidget main;
    main.resize(600, 400);
    main.show();
    WebUpdateLauncher launcher(&main, op, store());
    launcher.start();
    QPointer<CProgressDlg> window = launcher.latestWindow();
    ASSERT_TRUE(window);
    EXPECT_TRUE(window->isVisible());
    waitForEnd(launcher);
    EXPECT_EQ(launcher.running(), 0);
    EXPECT_FALSE(window);
    EXPECT_TRUE(op.entries().empty());
    EXPECT_TRUE(writes.empty());
    const auto starts = tarvo::test::waitForStarts(logs, 1);
    ASSERT_EQ(starts.size(), 1u);
    EXPECT_EQ(starts[0].back(), with.toStdString());
}

TEST_F(WebUpdateWindow, AsksForTheFolderAndStoresTheChoice) {
    QWidget main;
    WebUpdateLauncher launcher(&main, op, store());
    QString title;
    bool okOnWithout = true;
    QTimer answer;
    QObject::connect(&answer, &QTimer::timeout, [&] {
        auto* chooser = qobject_cast<CFolderDialog*>(QApplication::activeModalWidget());
        if (chooser == nullptr) {
            return;
        }
        answer.stop();
        title = byName<QLabel>(chooser, "Title")->text();
        chooser->selectFolder(without);
        okOnWithout = byName<QPushButton>(chooser, "OK")->isEnabled();
        chooser->selectFolder(with);
        QTest::mouseClick(byName<QPushButton>(chooser, "OK"), Qt::LeftButton);
    });
    answer.start(20);
    launcher.start();
    waitForEnd(launcher);
    EXPECT_EQ(title, "tarvo Application folder not found\nPlease Select");
    EXPECT_FALSE(okOnWithout);
    EXPECT_EQ(writes, std::vector<std::string>{"InstallDir=" + with.toStdString()});
    EXPECT_EQ(tarvo::test::waitForStarts(logs, 1).size(), 1u);
    EXPECT_TRUE(op.entries().empty());
}

}  // namespace
