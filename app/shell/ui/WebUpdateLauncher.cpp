#include "shell/ui/WebUpdateLauncher.h"

#include <QCoreApplication>
#include <QWidget>

#include "shell/WebUpdate.h"
#include "shell/ui/CFolderDialog.h"
#include "shell/ui/CProgressDlg.h"

using namespace tarvo;

WebUpdateLauncher::WebUpdateLauncher(QWidget* mainWindow, Operator& op, Settings settings,
                                     QObject* parent)
    : QObject(parent), mainWindow_(mainWindow), op_(op), settings_(std::move(settings)) {}

WebUpdateLauncher::~WebUpdateLauncher() {
    for (auto& run : runs_) {
        if (run->window) {
            run->window->abortEvent().set();
        }
    }
    // The workers may be waiting for this thread (a message, a window update): keep answering.
    while (running() > 0) {
        QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
    }
    for (auto& run : runs_) {
        run->worker.join();
    }
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
}

int WebUpdateLauncher::running() const {
    int count = 0;
    for (const auto& run : runs_) {
        count += run->finished.load() ? 0 : 1;
    }
    return count;
}

void WebUpdateLauncher::joinFinished() {
    for (auto it = runs_.begin(); it != runs_.end();) {
        if ((*it)->finished.load()) {
            (*it)->worker.join();
            it = runs_.erase(it);
        } else {
            ++it;
        }
    }
}

void WebUpdateLauncher::start() {
    joinFinished();
    const std::string page = settings_.read ? settings_.read(kUpdatePageSetting, kDefaultUpdatePage)
                                            : kDefaultUpdatePage;
    const std::string folder = settings_.read ? settings_.read(kInstallDirSetting, "") : "";

    auto* window = new CProgressDlg(mainWindow_);
    window->show();
    latest_ = window;
    auto run = std::make_unique<Run>();
    run->window = window;
    Run* self = run.get();
    runs_.push_back(std::move(run));

    self->worker = std::thread([this, self, window, page, folder, timeouts = timeouts_] {
        WebUpdateContext context{op_, *window, page, folder, {}, {}, timeouts};
        context.saveInstallDir = [this](const std::string& chosen) {
            QMetaObject::invokeMethod(
                this,
                [this, chosen] {
                    if (settings_.write) {
                        settings_.write(kInstallDirSetting, chosen);
                    }
                },
                Qt::BlockingQueuedConnection);
        };
        context.chooseFolder = [this](const FolderRequest& request) {
            std::optional<std::string> chosen;
            QMetaObject::invokeMethod(
                this,
                [this, &request, &chosen] {
                    CFolderDialog dialog(QString::fromStdString(request.title),
                                         QString::fromStdString(request.initialFolder),
                                         mainWindow_);
                    dialog.options |= CFolderDialog::kNoNewFolderButton;
                    dialog.requiredFile = QString::fromStdString(request.requiredFile);
                    if (auto folderChosen = dialog.DoModal()) {
                        chosen = folderChosen->toStdString();
                    }
                },
                Qt::BlockingQueuedConnection);
            return chosen;
        };
        WebUpdate(context);
        window->requestClose();
        self->finished.store(true);
    });
}
