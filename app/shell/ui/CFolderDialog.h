#pragma once

#include <QDialog>
#include <optional>

class QFileSystemModel;
class QLabel;
class QLineEdit;
class QPushButton;
class QTreeView;

// The folder chooser: a tree of the file system's folders with a status line showing the chosen
// path and an edit box for typing one. With requiredFile set, OK is enabled only on a folder
// holding an entry of that name (checked for the folder it opens on too). It opens on
// initialFolder, or on the current directory when that is empty.
class CFolderDialog : public QDialog {
    Q_OBJECT

  public:
    // Option bits of the chooser, as callers combine them.
    enum Option : unsigned {
        kReturnOnlyFileSystemDirs = 0x1,
        kStatusText = 0x4,
        kEditBox = 0x10,
        kNewDialogStyle = 0x40,
        kNoNewFolderButton = 0x200,
    };
    static constexpr unsigned kDefaultOptions = 0x55;

    explicit CFolderDialog(const QString& title, const QString& initialFolder = {},
                           QWidget* owner = nullptr);
    ~CFolderDialog() override;

    unsigned options = kDefaultOptions;  // may be changed until the chooser runs
    QString initialFolder;
    QString requiredFile;

    // Runs the chooser modally: the chosen folder, or nothing when cancelled or when the choice
    // is not a folder of the file system.
    std::optional<QString> DoModal();

    // The folder selected now (empty when none).
    QString selectedFolder() const { return selected_; }
    // Selects `folder` as a click in the tree would.
    void selectFolder(const QString& folder);

  protected:
    void showEvent(QShowEvent* event) override;

  private:
    void initialise();
    void onSelectionChanged(const QString& path);
    void updateOk(const QString& path);
    void makeNewFolder();

    QLabel* title_ = nullptr;
    QTreeView* tree_ = nullptr;
    QFileSystemModel* model_ = nullptr;
    QLabel* status_ = nullptr;
    QLineEdit* edit_ = nullptr;
    QPushButton* newFolder_ = nullptr;
    QPushButton* ok_ = nullptr;
    QPushButton* cancel_ = nullptr;
    QString selected_;
    bool initialised_ = false;
};
