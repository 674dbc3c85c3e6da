#pragma once

#include <QObject>
#include <QPointer>
#include <atomic>
#include <functional>
#include <list>
#include <memory>
#include <string>
#include <thread>

#include "shell/HttpDownloader.h"
#include "shell/Operator.h"

class CProgressDlg;
class QWidget;

// The window side of "Web Update": each start() opens a progress window and runs the web update
// on a worker of its own, so the main window stays usable; the worker closes its window when it
// ends. Settings are read and written on the window thread through the two functions given.
//
// Destroy it before the Operator and the application object: its destructor aborts the updates
// still running and waits for them, answering their window calls meanwhile.
class WebUpdateLauncher : public QObject {
    Q_OBJECT

  public:
    struct Settings {
        std::function<std::string(const std::string& name, const std::string& defaultValue)> read;
        std::function<void(const std::string& name, const std::string& value)> write;
    };

    WebUpdateLauncher(QWidget* mainWindow, tarvo::Operator& op, Settings settings,
                      QObject* parent = nullptr);
    ~WebUpdateLauncher() override;

    // The "Web Update" command of the Help menu; returns at once.
    void start();

    // Updates started and not yet ended.
    int running() const;
    // The progress window of the latest update while it is open.
    CProgressDlg* latestWindow() const { return latest_; }

    void setTimeouts(tarvo::HttpTimeouts timeouts) { timeouts_ = timeouts; }

  private:
    struct Run {
        std::thread worker;
        QPointer<CProgressDlg> window;
        std::atomic<bool> finished{false};
    };
    void joinFinished();

    QWidget* mainWindow_;
    tarvo::Operator& op_;
    Settings settings_;
    tarvo::HttpTimeouts timeouts_;
    std::list<std::unique_ptr<Run>> runs_;
    QPointer<CProgressDlg> latest_;
};
