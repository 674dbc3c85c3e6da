#pragma once

#include <QPushButton>
#include <QWidget>

namespace tarvo {

// The "Write", "Read" and "Close" buttons the board dialogs share: named for screen readers and
// tests, and only "Close" answers Enter.
struct WriteReadCloseButtons {
    QPushButton* write;
    QPushButton* read;
    QPushButton* close;

    explicit WriteReadCloseButtons(QWidget* parent)
        : write(new QPushButton(QStringLiteral("Write"), parent)),
          read(new QPushButton(QStringLiteral("Read"), parent)),
          close(new QPushButton(QStringLiteral("Close"), parent)) {
        for (QPushButton* b : {write, read, close}) {
            b->setAccessibleName(b->text());
            b->setAutoDefault(false);
        }
        close->setDefault(true);
    }
};

}  // namespace tarvo
