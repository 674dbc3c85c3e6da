#pragma once

#include <QEventLoop>
#include <QObject>
#include <QPointer>
#include <QWidget>
#include <thread>
#include <type_traits>
#include <utility>

namespace tarvo {

// While a window's bridge work runs on a thread of its own, the window stays painted and its
// timers and message boxes keep working, but its own controls take no input (so no second
// command starts before the first has ended) and it cannot be closed.
class BusyGuard : public QObject {
    Q_OBJECT
  public:
    explicit BusyGuard(QWidget* window);
    ~BusyGuard() override;

  protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

  private:
    QPointer<QWidget> window_;
};

// Runs `work` on a worker thread and serves this thread's events until it has ended, then
// returns its result. The GUI thread thus never waits on the bridge itself.
template <class Work>
auto runOffGuiThread(QWidget* window, Work&& work) -> std::invoke_result_t<Work> {
    using Result = std::invoke_result_t<Work>;
    BusyGuard guard(window);
    QEventLoop loop;
    auto finish = [&loop] {
        QMetaObject::invokeMethod(&loop, &QEventLoop::quit, Qt::QueuedConnection);
    };
    if constexpr (std::is_void_v<Result>) {
        std::thread worker([&] {
            work();
            finish();
        });
        loop.exec();
        worker.join();  // it has posted its end as its last act
    } else {
        Result result{};
        std::thread worker([&] {
            result = work();
            finish();
        });
        loop.exec();
        worker.join();
        return result;
    }
}

}  // namespace tarvo
