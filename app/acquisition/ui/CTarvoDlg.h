#pragma once

#include <QDialog>
#include <QString>
#include <array>
#include <memory>

#include "acquisition/LiveDisplay.h"
#include "acquisition/RunState.h"
#include "board/TaSettingFile.h"
#include "shell/PersistedSettings.h"

class QAction;
class QCheckBox;
class QComboBox;
class QLabel;
class QLineEdit;
class QMenuBar;
class QPlainTextEdit;
class QProgressBar;
class QPushButton;
class QTimer;
class QWidget;
class WebUpdateLauncher;

namespace tarvo {

class CBaseLineDlg;
class CHoldConfig;
class CTAConfig;
class AcquisitionController;
class CAdcDacDlg;
class CellSink;
class GuiOperator;
class HistogramJob;
class OwnerThreadOperator;
class QtExecutor;
class LiveGraph;
class SequenceTestSetup;
class SettingsStore;
class WorkbookCellSink;

// "Nimbra DAQ", the operator's main window: a thin view over the run-state record. Every command
// copies the controls into the record (readFields), acts through the core, and copies the record
// back (writeFields), which also applies the enabling rules.
class CTarvoDlg : public QDialog {
    Q_OBJECT
  public:
    explicit CTarvoDlg(SettingsStore& store, QWidget* parent = nullptr);
    ~CTarvoDlg() override;

    // The stored settings into the fields; before initialize().
    void loadSettings(const PersistedSettings& settings);
    // The fields as they go back to the store at an orderly exit.
    PersistedSettings persistedSettings() const;
    // What opening the window does: opens the bridge (no message when there is none), fills the
    // resource list, shows the fields.
    void initialize();

    RunState& state() { return state_; }
    bool running() const { return !state_.progress.acquisitionIdle.load(); }
    bool histogramRunning() const { return !state_.progress.histogramIdle.load(); }
    CTAConfig& taDialog(int ta) { return *taDialogs_[ta]; }
    CHoldConfig& holdDialog() { return *holdDialog_; }
    CBaseLineDlg& baseLineDialog() { return *baseLineDialog_; }
    LiveGraph& graph() { return *graph_; }
    QString statusMessage() const;

    bool readFields();
    void writeFields();

  public slots:
    void onVmeReset();
    void onStart();
    void onStop();
    void onSoftTrigger();
    void onGenChannels();
    void onClearError();
    void onAdcRev1Clicked();
    void onTypeChanged();
    void onBrowseFilenameClr();
    void onBrowseCommandFile();
    void onEditCommandFile();
    void onRefreshResources();
    void onHoldMinMaxClicked();
    void onHoldSetting();
    void onTaSetting(int ta);
    void onBaseLines();
    void onLoadSetting();
    void onSaveSetting();
    void onInitSetting();
    void onAbout();

    void onRunTimer();
    void onHistogramTimer();
    void onDisplayTimer();

  protected:
    void closeEvent(QCloseEvent* event) override;
    void reject() override;

  private:
    TaSetting currentTaSetting() const;
    void buildControls();
    void buildMenu();
    void refreshResourceList(const QString& preferred);
    void prepareSequenceTest();
    void closeSequenceWorkbook();
    void writeRunOutputs();  // the counters and progress a timer tick refreshes
    void showStatus(const QString& text);
    bool bridgeOpen() const { return state_.vmeHandle != -1; }

    SettingsStore& store_;
    RunState state_;
    // Workers ask through operator_, which carries the question to the GUI thread's boxes; the
    // controllers come after it so that they are gone before it is.
    std::unique_ptr<GuiOperator> dialogs_;
    std::unique_ptr<QtExecutor> executor_;
    std::unique_ptr<OwnerThreadOperator> operator_;
    std::unique_ptr<AcquisitionController> controller_;
    std::unique_ptr<HistogramJob> histogramJob_;
    std::unique_ptr<::WebUpdateLauncher> webUpdate_;
    // The sequence tests' texts and sinks, attached to state_ for the window's life; the workbook
    // is written only on this thread, the worker's cells reach it through queuedCells_.
    std::unique_ptr<SequenceTestSetup> sequenceSetup_;
    std::unique_ptr<WorkbookCellSink> workbook_;
    std::unique_ptr<CellSink> queuedCells_;
    CAdcDacDlg* i2c_ = nullptr;  // the "I2C Controls" window, made when the window opens
    LiveDisplay display_;
    bool holdMinMax_ = true;
    bool closePending_ = false;
    QString baseAddrText_;

    std::array<CTAConfig*, 8> taDialogs_{};
    CHoldConfig* holdDialog_ = nullptr;
    CBaseLineDlg* baseLineDialog_ = nullptr;

    QMenuBar* menuBar_ = nullptr;
    std::array<QAction*, 8> taActions_{};
    QAction* i2cShowHide_ = nullptr;

    QPushButton* vmeReset_ = nullptr;
    QLineEdit* baseAddress_ = nullptr;
    QCheckBox* adcRev1_ = nullptr;
    QLineEdit* lastError_ = nullptr;
    QPushButton* clearError_ = nullptr;
    QLineEdit* offsetAdc_ = nullptr;
    QLineEdit* cycle_ = nullptr;
    QLabel* cyclesDone_ = nullptr;
    QLabel* busErrors_ = nullptr;
    QLabel* eventsLost_ = nullptr;
    std::array<QCheckBox*, 8> taDaqEnable_{};
    QComboBox* type_ = nullptr;
    QLineEdit* channel_ = nullptr;
    QPushButton* softTrigger_ = nullptr;
    QPushButton* start_ = nullptr;
    QPushButton* stop_ = nullptr;
    QProgressBar* acquisitionProgress_ = nullptr;
    QLabel* filenameLabel_ = nullptr;
    QLineEdit* filename_ = nullptr;
    QLabel* filenameClrLabel_ = nullptr;
    QLineEdit* filenameClr_ = nullptr;
    QPushButton* browseFilenameClr_ = nullptr;
    QComboBox* mode_ = nullptr;
    QLineEdit* samplesFrom_ = nullptr;
    QLineEdit* samplesTo_ = nullptr;
    QCheckBox* histogramsOnly_ = nullptr;
    QPushButton* genChannels_ = nullptr;
    QProgressBar* histogramProgress_ = nullptr;
    QComboBox* spyFifo_ = nullptr;
    QCheckBox* holdMinMaxBox_ = nullptr;
    QPlainTextEdit* peakText_ = nullptr;
    QWidget* instrumentGroup_ = nullptr;
    QComboBox* visaResource_ = nullptr;
    QPushButton* refresh_ = nullptr;
    QLineEdit* commandFile_ = nullptr;
    QPushButton* browseCommandFile_ = nullptr;
    QPushButton* edit_ = nullptr;
    QLineEdit* name_ = nullptr;
    QLabel* status_ = nullptr;
    LiveGraph* graph_ = nullptr;

    QTimer* runTimer_ = nullptr;        // timer 1
    QTimer* histogramTimer_ = nullptr;  // timer 2
    QTimer* displayTimer_ = nullptr;    // timer 3
};

}  // namespace tarvo
