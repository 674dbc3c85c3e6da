#include "shell/ui/BusyGuard.h"

#include <QApplication>
#include <QEvent>

namespace tarvo {

BusyGuard::BusyGuard(QWidget* window) : window_(window) {
    qApp->installEventFilter(this);
    QApplication::setOverrideCursor(Qt::BusyCursor);
}

BusyGuard::~BusyGuard() {
    QApplication::restoreOverrideCursor();
    qApp->removeEventFilter(this);
}

bool BusyGuard::eventFilter(QObject* watched, QEvent* event) {
    switch (event->type()) {
        case QEvent::MouseButtonPress:
        case QEvent::MouseButtonRelease:
        case QEvent::MouseButtonDblClick:
        case QEvent::KeyPress:
        case QEvent::KeyRelease:
        case QEvent::Close:
        case QEvent::Wheel:
            break;
        default:
            return false;
    }
    auto* widget = qobject_cast<QWidget*>(watched);
    return widget != nullptr && window_ != nullptr && widget->window() == window_;
}

}  // namespace tarvo
