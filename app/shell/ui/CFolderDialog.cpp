#include "shell/ui/CFolderDialog.h"

#include <QDir>
#include <QFileInfo>
#include <QFileSystemModel>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTreeView>
#include <QVBoxLayout>

CFolderDialog::CFolderDialog(const QString& title, const QString& initial, QWidget* owner)
    : QDialog(owner), initialFolder(initial) {
    setWindowTitle("Browse for Folder");

    title_ = new QLabel(title, this);
    title_->setAccessibleName("Title");
    title_->setTextFormat(Qt::PlainText);

    model_ = new QFileSystemModel(this);
    model_->setFilter(QDir::AllDirs | QDir::NoDotAndDotDot | QDir::Drives);
    model_->setRootPath(QDir::rootPath());
    tree_ = new QTreeView(this);
    tree_->setAccessibleName("Folders");
    tree_->setModel(model_);
    for (int column = 1; column < model_->columnCount(); ++column) {
        tree_->hideColumn(column);
    }
    tree_->header()->hide();
    connect(tree_->selectionModel(), &QItemSelectionModel::currentChanged, this,
            [this](const QModelIndex& current) { onSelectionChanged(model_->filePath(current)); });

    status_ = new QLabel(this);
    status_->setAccessibleName("Status");
    status_->setTextFormat(Qt::PlainText);
    edit_ = new QLineEdit(this);
    edit_->setAccessibleName("Folder");
    // A typed folder that exists is selected as if clicked.
    connect(edit_, &QLineEdit::textEdited, this, [this](const QString& text) {
        if (QFileInfo(text).isDir()) {
            selectFolder(text);
        }
    });

    newFolder_ = new QPushButton("Make New Folder", this);
    newFolder_->setAccessibleName("Make New Folder");
    connect(newFolder_, &QPushButton::clicked, this, &CFolderDialog::makeNewFolder);
    ok_ = new QPushButton("OK", this);
    ok_->setAccessibleName("OK");
    ok_->setDefault(true);
    connect(ok_, &QPushButton::clicked, this, &QDialog::accept);
    cancel_ = new QPushButton("Cancel", this);
    cancel_->setAccessibleName("Cancel");
    connect(cancel_, &QPushButton::clicked, this, &QDialog::reject);

    auto* buttons = new QHBoxLayout;
    buttons->addWidget(newFolder_);
    buttons->addStretch();
    buttons->addWidget(ok_);
    buttons->addWidget(cancel_);
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(title_);
    layout->addWidget(status_);
    layout->addWidget(tree_, 1);
    layout->addWidget(edit_);
    layout->addLayout(buttons);
    resize(420, 480);
}

CFolderDialog::~CFolderDialog() = default;

std::optional<QString> CFolderDialog::DoModal() {
    if (exec() != QDialog::Accepted || selected_.isEmpty()) {
        return std::nullopt;
    }
    return selected_;
}

void CFolderDialog::showEvent(QShowEvent* event) {
    if (!initialised_) {
        initialise();
    }
    QDialog::showEvent(event);
}

void CFolderDialog::initialise() {
    initialised_ = true;
    status_->setVisible((options & kStatusText) != 0);
    edit_->setVisible((options & kEditBox) != 0);
    newFolder_->setVisible((options & kNoNewFolderButton) == 0);
    const QString start = initialFolder.isEmpty() ? QDir::currentPath() : initialFolder;
    selectFolder(start);
    // The check holds for the folder asked for even when the tree could not select it.
    updateOk(start);
}

void CFolderDialog::selectFolder(const QString& folder) {
    const QModelIndex index = model_->index(QDir::cleanPath(folder));
    if (!index.isValid()) {
        return;
    }
    tree_->setCurrentIndex(index);
    tree_->scrollTo(index);
    // Selecting the current item again does not signal, but must still count as a selection.
    if (selected_ != model_->filePath(index)) {
        onSelectionChanged(model_->filePath(index));
    }
}

void CFolderDialog::onSelectionChanged(const QString& path) {
    if (path.isEmpty()) {
        return;  // not a folder of the file system
    }
    selected_ = path;
    status_->setText(path);
    if (edit_->text() != path) {
        edit_->setText(path);
    }
    updateOk(path);
}

void CFolderDialog::updateOk(const QString& path) {
    if (requiredFile.isEmpty()) {
        return;
    }
    ok_->setEnabled(QFileInfo::exists(QDir(path).filePath(requiredFile)));
}

void CFolderDialog::makeNewFolder() {
    const QModelIndex parent = model_->index(selected_.isEmpty() ? QDir::currentPath() : selected_);
    QString name = "New Folder";
    for (int n = 2; QFileInfo::exists(QDir(model_->filePath(parent)).filePath(name)); ++n) {
        name = QString("New Folder (%1)").arg(n);
    }
    model_->setReadOnly(false);
    const QModelIndex created = model_->mkdir(parent, name);
    model_->setReadOnly(true);
    if (created.isValid()) {
        selectFolder(model_->filePath(created));
    }
}
