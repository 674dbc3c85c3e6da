#include "board/ui/CTAConfig.h"

#include <QCheckBox>
#include <QComboBox>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <QVBoxLayout>

#include "acquisition/RunState.h"
#include "board/ui/WriteReadCloseButtons.h"
#include "shell/FieldValidation.h"
#include "shell/ui/BusyGuard.h"

namespace tarvo {
namespace {

QLabel* columnLabel(int channel, QWidget* parent) {
    auto* label = new QLabel(QStringLiteral(" %1").arg(channel), parent);
    label->setAlignment(Qt::AlignCenter);
    return label;
}

}  // namespace

CTAConfig::CTAConfig(int index, QWidget* parent) : QDialog(parent), taIndex(index) {
    setWindowTitle(QStringLiteral("TA %1 Setting").arg(index + 1));

    auto* masks = new QGroupBox(QStringLiteral("Channels"), this);
    auto* grid = new QGridLayout(masks);
    grid->setHorizontalSpacing(2);
    grid->addWidget(new QLabel(QStringLiteral("Test Mask"), masks), 1, 0);
    grid->addWidget(new QLabel(QStringLiteral("Disable Mask"), masks), 2, 0);
    for (int c = 0; c < 32; ++c) {
        grid->addWidget(columnLabel(c, masks), 0, c + 1);
        testMask_[c] = new QCheckBox(masks);
        testMask_[c]->setAccessibleName(QStringLiteral("Test Mask %1").arg(c));
        grid->addWidget(testMask_[c], 1, c + 1, Qt::AlignCenter);
        disableMask_[c] = new QCheckBox(masks);
        disableMask_[c]->setAccessibleName(QStringLiteral("Disable Mask %1").arg(c));
        grid->addWidget(disableMask_[c], 2, c + 1, Qt::AlignCenter);
    }

    auto* offsets = new QGroupBox(QStringLiteral("DAC Offset"), this);
    auto* offsetGrid = new QGridLayout(offsets);
    offsetGrid->setHorizontalSpacing(4);
    for (int c = 0; c < 32; ++c) {
        int row = (c / 16) * 2;
        offsetGrid->addWidget(columnLabel(c, offsets), row, c % 16);
        dacOffset_[c] = new QLineEdit(offsets);
        dacOffset_[c]->setAccessibleName(QStringLiteral("DAC Offset %1").arg(c));
        dacOffset_[c]->setMaxLength(3);
        dacOffset_[c]->setFixedWidth(34);
        dacOffset_[c]->setAlignment(Qt::AlignCenter);
        offsetGrid->addWidget(dacOffset_[c], row + 1, c % 16);
    }

    polarity_ = new QComboBox(this);
    polarity_->addItems({QStringLiteral("Positive"), QStringLiteral("Negative")});
    polarity_->setAccessibleName(QStringLiteral("Polarity"));
    gainSign_ = new QComboBox(this);
    gainSign_->addItems({QStringLiteral("Gain +1"), QStringLiteral("Gain -1")});
    gainSign_->setAccessibleName(QStringLiteral("Gain Sign"));
    gain_ = new QComboBox(this);
    gain_->addItems({QStringLiteral("Gain 1x"), QStringLiteral("Gain 3x"),
                     QStringLiteral("Gain 6x"), QStringLiteral("Gain 10x")});
    gain_->setAccessibleName(QStringLiteral("Gain"));
    testMode_ = new QCheckBox(QStringLiteral("Test Mode"), this);
    testMode_->setAccessibleName(QStringLiteral("Test Mode"));

    const WriteReadCloseButtons buttonSet(this);
    QPushButton* write = buttonSet.write;
    QPushButton* read = buttonSet.read;
    QPushButton* close = buttonSet.close;
    connect(write, &QPushButton::clicked, this, &CTAConfig::onWrite);
    connect(read, &QPushButton::clicked, this, &CTAConfig::onRead);
    connect(close, &QPushButton::clicked, this, &CTAConfig::accept);

    auto* options = new QHBoxLayout;
    options->addWidget(polarity_);
    options->addWidget(gainSign_);
    options->addWidget(gain_);
    options->addWidget(testMode_);
    options->addStretch();
    options->addWidget(write);
    options->addWidget(read);
    options->addWidget(close);

    auto* layout = new QVBoxLayout(this);
    layout->addWidget(masks);
    layout->addWidget(offsets);
    layout->addLayout(options);
    layout->setSizeConstraint(QLayout::SetFixedSize);
}

void CTAConfig::prepare() {
    setWindowTitle(QStringLiteral("TA %1 Setting").arg(taIndex + 1));
    showControls();
}

int CTAConfig::exec() {
    prepare();
    return QDialog::exec();
}

void CTAConfig::showControls() {
    for (int c = 0; c < 32; ++c) {
        testMask_[c]->setChecked(config.testMask(c));
        disableMask_[c]->setChecked(config.disableMask(c));
        dacOffset_[c]->setText(QString::number(config.dacOffset(c)));
    }
    polarity_->setCurrentIndex(config.polarity());
    gainSign_->setCurrentIndex(config.gainSign());
    gain_->setCurrentIndex(config.gain());
    testMode_->setChecked(config.testMode());
}

bool CTAConfig::takeControls() {
    TaConfiguration edited = config;
    for (int c = 0; c < 32; ++c) {
        edited.setTestMask(c, testMask_[c]->isChecked());
        edited.setDisableMask(c, disableMask_[c]->isChecked());
        auto r =
            readIntegerField(dacOffset_[c]->text().toStdString(), "DAC Offset " + std::to_string(c),
                             0, TaConfiguration::kMaxDacOffset);
        if (auto* message = std::get_if<std::string>(&r)) {
            QMessageBox::critical(this, windowTitle(), QString::fromStdString(*message));
            dacOffset_[c]->setFocus();
            dacOffset_[c]->selectAll();
            return false;
        }
        edited.setDacOffset(c, static_cast<uint32_t>(std::get<int64_t>(r)));
    }
    edited.setPolarity(polarity_->currentIndex());
    edited.setGainSign(gainSign_->currentIndex());
    edited.setGain(gain_->currentIndex());
    edited.setTestMode(testMode_->isChecked());
    config = edited;
    return true;
}

void CTAConfig::accept() {
    if (takeControls()) {
        QDialog::accept();
    }
}

void CTAConfig::onWrite() {
    if (!takeControls() || state == nullptr) {
        return;
    }
    TaRegisterValues values = config.registers();
    int32_t result =
        runOffGuiThread(this, [&] { return LoadTaConfiguration(*state, taIndex, values, mode); });
    if (result != 0) {
        showControls();
    }
}

void CTAConfig::onRead() {
    if (state == nullptr) {
        return;
    }
    TaRegisterValues values = config.registers();
    runOffGuiThread(this, [&] { return readTaSection(state->boardContext(), taIndex, values); });
    config.setRegisters(values);
    showControls();
}

}  // namespace tarvo
