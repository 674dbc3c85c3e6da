#include "shell/ui/CBaseLineDlg.h"

#include <QDialogButtonBox>
#include <QFormLayout>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <QVBoxLayout>

#include "shell/FieldValidation.h"

namespace tarvo {

CBaseLineDlg::CBaseLineDlg(QWidget* parent) : QDialog(parent) {
    setWindowTitle(QStringLiteral("Base Lines"));
    auto* form = new QFormLayout;
    for (int i = 0; i < 8; ++i) {
        QString label = QStringLiteral("Base Line %1").arg(i);
        edits_[i] = new QLineEdit(this);
        edits_[i]->setAccessibleName(label);
        edits_[i]->setMaximumWidth(90);
        form->addRow(label, edits_[i]);
    }
    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, this);
    buttons->button(QDialogButtonBox::Ok)->setAccessibleName(QStringLiteral("OK"));
    buttons->button(QDialogButtonBox::Cancel)->setAccessibleName(QStringLiteral("Cancel"));
    connect(buttons, &QDialogButtonBox::accepted, this, &CBaseLineDlg::accept);
    connect(buttons, &QDialogButtonBox::rejected, this, &CBaseLineDlg::reject);
    auto* layout = new QVBoxLayout(this);
    layout->addLayout(form);
    layout->addWidget(buttons);
}

void CBaseLineDlg::prepare() {
    for (int i = 0; i < 8; ++i) {
        edits_[i]->setText(QString::number(baseLine[i]));
    }
}

int CBaseLineDlg::exec() {
    prepare();
    return QDialog::exec();
}

void CBaseLineDlg::accept() {
    std::array<uint32_t, 8> values{};
    for (int i = 0; i < 8; ++i) {
        auto r = readIntegerField(edits_[i]->text().toStdString(),
                                  QStringLiteral("Base Line %1").arg(i).toStdString(), 0, 4095);
        if (auto* message = std::get_if<std::string>(&r)) {
            QMessageBox::critical(this, windowTitle(), QString::fromStdString(*message));
            edits_[i]->setFocus();
            edits_[i]->selectAll();
            return;  // the dialog stays open, the fields keep their values
        }
        values[i] = static_cast<uint32_t>(std::get<int64_t>(r));
    }
    baseLine = values;
    QDialog::accept();
}

}  // namespace tarvo
