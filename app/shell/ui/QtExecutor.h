#pragma once

#include <QCoreApplication>
#include <QMetaObject>
#include <functional>

#include "shell/Executor.h"

namespace tarvo {

// Runs posted work on the GUI thread, in order, from its event loop.
class QtExecutor : public Executor {
  public:
    void post(std::function<void()> work) override {
        QMetaObject::invokeMethod(QCoreApplication::instance(), std::move(work),
                                  Qt::QueuedConnection);
    }
};

}  // namespace tarvo
