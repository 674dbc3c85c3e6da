#include "board/ui/CHoldConfig.h"

#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <QVBoxLayout>

#include "acquisition/RunState.h"
#include "board/ui/WriteReadCloseButtons.h"
#include "shell/FieldValidation.h"
#include "shell/PersistedSettings.h"
#include "shell/ui/BusyGuard.h"

namespace tarvo {

CHoldConfig::CHoldConfig(SettingsStore& store, QWidget* parent) : QDialog(parent), store_(store) {
    setWindowTitle(QStringLiteral("hold"));
    auto* grid = new QGridLayout;
    for (int i = 0; i < 8; ++i) {
        QString name = QStringLiteral("CH%1").arg(i);
        edits_[i] = new QLineEdit(this);
        edits_[i]->setAccessibleName(name);
        edits_[i]->setFixedWidth(70);
        edits_[i]->setAlignment(Qt::AlignRight);
        grid->addWidget(new QLabel(name, this), i, 0);
        grid->addWidget(edits_[i], i, 1);
        grid->addWidget(new QLabel(QStringLiteral("ns"), this), i, 2);
    }
    const WriteReadCloseButtons buttonSet(this);
    QPushButton* write = buttonSet.write;
    QPushButton* read = buttonSet.read;
    QPushButton* close = buttonSet.close;
    connect(write, &QPushButton::clicked, this, &CHoldConfig::onWrite);
    connect(read, &QPushButton::clicked, this, &CHoldConfig::onRead);
    connect(close, &QPushButton::clicked, this, &CHoldConfig::accept);
    auto* buttons = new QVBoxLayout;
    buttons->addWidget(write);
    buttons->addWidget(read);
    buttons->addStretch();
    buttons->addWidget(close);
    auto* layout = new QHBoxLayout(this);
    layout->addLayout(grid);
    layout->addLayout(buttons);
    layout->setSizeConstraint(QLayout::SetFixedSize);
}

void CHoldConfig::prepare() {
    // The stored codes win over what a setting file may have loaded.
    holdCode = readHoldCodes(store_);
    showControls();
}

int CHoldConfig::exec() {
    prepare();
    return QDialog::exec();
}

void CHoldConfig::showControls() {
    for (int i = 0; i < 8; ++i) {
        edits_[i]->setText(QString::number(holdNs(holdCode[i])));
    }
}

bool CHoldConfig::takeControls() {
    HoldCodeArray codes{};
    for (int i = 0; i < 8; ++i) {
        std::string field = "CH" + std::to_string(i);
        auto r = readIntegerField(edits_[i]->text().toStdString(), field, 0, kMaxHoldNs);
        if (auto* message = std::get_if<std::string>(&r)) {
            QMessageBox::critical(this, windowTitle(), QString::fromStdString(*message));
            edits_[i]->setFocus();
            edits_[i]->selectAll();
            return false;
        }
        codes[i] = *holdCodeFromNs(std::get<int64_t>(r));
    }
    holdCode = codes;
    return true;
}

void CHoldConfig::accept() {
    if (!takeControls()) {
        return;
    }
    writeHoldCodes(store_, holdCode);
    QDialog::accept();
}

void CHoldConfig::onWrite() {
    if (!takeControls()) {
        return;
    }
    if (state != nullptr) {
        HoldCodeArray codes = holdCode;
        runOffGuiThread(this, [&] { return writeHoldRegisters(state->boardContext(), codes); });
    }
    showControls();
}

void CHoldConfig::onRead() {
    if (state != nullptr) {
        HoldCodeArray codes = holdCode;
        runOffGuiThread(this, [&] { return readHoldRegisters(state->boardContext(), codes); });
        holdCode = codes;
    }
    showControls();
}

}  // namespace tarvo
