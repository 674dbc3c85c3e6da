#include "shell/ui/GuiOperator.h"

#include <QApplication>
#include <QFileDialog>
#include <QMessageBox>
#include <QStringList>

#include "shell/ui/CFolderDialog.h"

namespace tarvo {

GuiOperator::GuiOperator(QWidget* owner) : owner_(owner) {}

namespace {

QString qs(const std::string& text) {
    return QString::fromLocal8Bit(text.data(), static_cast<qsizetype>(text.size()));
}

int box(QWidget* owner, QMessageBox::Icon icon, const std::string& text,
        QMessageBox::StandardButtons buttons) {
    QMessageBox message(icon, QStringLiteral("Nimbra DAQ"), qs(text), buttons, owner);
    message.setObjectName(QStringLiteral("operatorMessage"));
    return message.exec();
}

}  // namespace

void GuiOperator::error(const std::string& text) {
    box(owner_, QMessageBox::Critical, text, QMessageBox::Ok);
}

void GuiOperator::warning(const std::string& text) {
    box(owner_, QMessageBox::Warning, text, QMessageBox::Ok);
}

bool GuiOperator::askYesNo(const std::string& text) {
    return box(owner_, QMessageBox::Question, text, QMessageBox::Yes | QMessageBox::No) ==
           QMessageBox::Yes;
}

bool GuiOperator::askOkCancel(const std::string& text) {
    return box(owner_, QMessageBox::Question, text, QMessageBox::Ok | QMessageBox::Cancel) ==
           QMessageBox::Ok;
}

bool GuiOperator::askRetryCancel(const std::string& text) {
    return box(owner_, QMessageBox::Warning, text, QMessageBox::Retry | QMessageBox::Cancel) ==
           QMessageBox::Retry;
}

QString GuiOperator::qtFilter(const std::string& filter) {
    QStringList parts = qs(filter).split(QLatin1Char('|'), Qt::SkipEmptyParts);
    QStringList out;
    for (int i = 0; i + 1 < parts.size(); i += 2) {
        // "*.*" would only match names with a dot.
        out << parts[i].replace(QStringLiteral("(*.*)"), QStringLiteral("(*)"));
    }
    return out.join(QStringLiteral(";;"));
}

namespace {

std::optional<std::string> runFileDialog(QWidget* owner, QFileDialog::AcceptMode mode,
                                         const std::string& preset,
                                         const std::string& defaultExtension,
                                         const std::string& filter) {
    QFileDialog dialog(owner);
    dialog.setOption(QFileDialog::DontUseNativeDialog);
    dialog.setAcceptMode(mode);
    dialog.setFileMode(mode == QFileDialog::AcceptOpen ? QFileDialog::ExistingFile
                                                       : QFileDialog::AnyFile);
    dialog.setNameFilter(GuiOperator::qtFilter(filter));
    QString suffix = qs(defaultExtension);
    if (suffix.startsWith(QLatin1Char('.'))) {
        suffix.remove(0, 1);
    }
    dialog.setDefaultSuffix(suffix);
    if (!preset.empty()) {
        dialog.selectFile(qs(preset));
    }
    if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty()) {
        return std::nullopt;
    }
    return dialog.selectedFiles().front().toLocal8Bit().toStdString();
}

}  // namespace

std::optional<std::string> GuiOperator::chooseOpenFile(const std::string& preset,
                                                       const std::string& defaultExtension,
                                                       const std::string& filter) {
    return runFileDialog(owner_, QFileDialog::AcceptOpen, preset, defaultExtension, filter);
}

std::optional<std::string> GuiOperator::chooseSaveFile(const std::string& preset,
                                                       const std::string& defaultExtension,
                                                       const std::string& filter) {
    return runFileDialog(owner_, QFileDialog::AcceptSave, preset, defaultExtension, filter);
}

std::optional<std::string> GuiOperator::chooseFolder(const std::string& title,
                                                     const std::string& preset) {
    CFolderDialog dialog(qs(title), qs(preset), owner_);
    std::optional<QString> folder = dialog.DoModal();
    if (!folder) {
        return std::nullopt;
    }
    return folder->toLocal8Bit().toStdString();
}

}  // namespace tarvo
