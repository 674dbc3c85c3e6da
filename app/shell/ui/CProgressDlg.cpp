#include "shell/ui/CProgressDlg.h"

#include <QCloseEvent>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QProgressBar>
#include <QPushButton>
#include <QThread>
#include <QVBoxLayout>
#include <climits>

CProgressDlg::CProgressDlg(QWidget* mainWindow)
    : QDialog(nullptr, Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint) {
    setWindowTitle("Copy");
    setAttribute(Qt::WA_DeleteOnClose);
    setModal(false);

    text_ = new QLabel(this);
    text_->setAccessibleName("Text");
    text_->setTextFormat(Qt::PlainText);
    text_->setWordWrap(true);
    bar_ = new QProgressBar(this);
    bar_->setAccessibleName("Progress");
    bar_->setRange(0, 0);
    bar_->setValue(0);
    abort_ = new QPushButton("Abort", this);
    abort_->setAccessibleName("Abort");
    // Enter must not press it: only a deliberate click or Space aborts.
    abort_->setAutoDefault(false);
    abort_->setDefault(false);
    connect(abort_, &QPushButton::clicked, this, [this] { abortEvent().set(); });

    auto* buttons = new QHBoxLayout;
    buttons->addStretch();
    buttons->addWidget(abort_);
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(text_);
    layout->addWidget(bar_);
    layout->addLayout(buttons);
    setMinimumWidth(320);
    adjustSize();

    if (mainWindow != nullptr) {
        const QRect main = mainWindow->frameGeometry();
        const QRect own = frameGeometry();
        move(main.left() + (main.width() - own.width()) / 2,
             main.top() + (main.height() - own.height()) / 2);
    }
}

CProgressDlg::~CProgressDlg() = default;

template <class F>
void CProgressDlg::onWindowThread(F&& f) {
    if (QThread::currentThread() == thread()) {
        f();
    } else {
        QMetaObject::invokeMethod(this, std::forward<F>(f), Qt::BlockingQueuedConnection);
    }
}

void CProgressDlg::setRange(std::uint32_t low, std::uint32_t high) {
    onWindowThread([this, low, high] {
        shift_ = 0;
        while ((high >> shift_) > static_cast<std::uint32_t>(INT_MAX)) {
            ++shift_;
        }
        bar_->setRange(static_cast<int>(low >> shift_), static_cast<int>(high >> shift_));
    });
}

void CProgressDlg::setPosition(std::uint32_t position) {
    onWindowThread([this, position] { bar_->setValue(static_cast<int>(position >> shift_)); });
}

void CProgressDlg::setText(const std::string& text) {
    onWindowThread([this, shown = QString::fromStdString(text)] {
        text_->setText(shown);
        text_->repaint();
    });
}

void CProgressDlg::requestClose() {
    QMetaObject::invokeMethod(
        this,
        [this] {
            closeRequested_ = true;
            close();
        },
        Qt::QueuedConnection);
}

QString CProgressDlg::text() const {
    return text_->text();
}

void CProgressDlg::keyPressEvent(QKeyEvent* event) {
    switch (event->key()) {
        case Qt::Key_Return:
        case Qt::Key_Enter:
        case Qt::Key_Escape:
            event->accept();
            return;
        default:
            QDialog::keyPressEvent(event);
    }
}

void CProgressDlg::closeEvent(QCloseEvent* event) {
    // The window belongs to its worker: only the worker's request closes it.
    // (QDialog's own handling would ask reject(), which does nothing here.)
    if (closeRequested_) {
        event->accept();
    } else {
        event->ignore();
    }
}
