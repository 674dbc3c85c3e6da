#include "acquisition/ui/CTarvoDlg.h"

#include <QAction>
#include <QCheckBox>
#include <QCloseEvent>
#include <QComboBox>
#include <QDesktopServices>
#include <QFormLayout>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QMenuBar>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QStandardItemModel>
#include <QTimer>
#include <QUrl>
#include <QVBoxLayout>
#include <cinttypes>
#include <cstdio>
#include <filesystem>
#include <optional>

#include "KOVRAVMElib.h"
#include "acquisition/AcquisitionController.h"
#include "acquisition/AcquisitionRun.h"
#include "acquisition/MainDialogRules.h"
#include "acquisition/ui/LiveGraph.h"
#include "board/TaConfiguration.h"
#include "board/TaSettingFile.h"
#include "board/ui/CHoldConfig.h"
#include "board/ui/CTAConfig.h"
#include "histogram/HistogramJob.h"
#include "i2c/ui/CAdcDacDlg.h"
#include "sequence/SequenceDisplay.h"
#include "sequence/SequenceTestSetup.h"
#include "sequence/SequenceTestWorkers.h"
#include "shell/FieldValidation.h"
#include "shell/OwnerThreadOperator.h"
#include "shell/ParseHex.h"
#include "shell/SettingsStore.h"
#include "shell/ShellUtilities.h"
#include "shell/ui/BusyGuard.h"
#include "shell/ui/CAboutDlg.h"
#include "shell/ui/CBaseLineDlg.h"
#include "shell/ui/CProgressDlg.h"
#include "shell/ui/GuiOperator.h"
#include "shell/ui/QtExecutor.h"
#include "shell/ui/WebUpdateLauncher.h"
#include "spreadsheet/WorkbookCellSink.h"

namespace tarvo {
namespace {

// Items of the acquisition-type list, in index order.
const char* const kTypeNames[kAcquisitionTypeCount] = {
    "Normal Read-out",
    "Test Mode Set-Up",
    "Monitor Mode Set-up",
    "Read-out with Shift-in",
    "Monitor Mode Set-up find Peak",
    "Sequence Test",
    "Sequence Test Auto",
};

const char* const kDaqFileFilter = "DAQ File (*.bin)|*.bin|All File (*.*)|*.*||";
const char* const kCommandFileFilter = "Command File (*.txt)|*.txt|All File (*.*)|*.*||";
const char* const kWorkbookFilter = "Excel File (*.xls)|*.xls|All File (*.*)|*.*||";

QString qs(const std::string& text) {
    return QString::fromLocal8Bit(text.data(), static_cast<qsizetype>(text.size()));
}

std::string local(const QString& text) {
    return text.toLocal8Bit().toStdString();
}

template <class W>
W* named(W* widget, const QString& name) {
    widget->setAccessibleName(name);
    widget->setObjectName(name);
    return widget;
}

QPushButton* button(const QString& label, QWidget* parent) {
    return named(new QPushButton(label, parent), label);
}

QLineEdit* field(const QString& name, QWidget* parent, int width = 0) {
    auto* edit = named(new QLineEdit(parent), name);
    if (width > 0) {
        edit->setMaximumWidth(width);
    }
    return edit;
}

bool isSequenceTest(int32_t type) {
    return type == kTypeSequenceTest || type == kTypeSequenceTestAuto;
}

// The worker's cells, carried to the window's thread and written there. A cell still queued when
// the window goes is dropped with it.
class QueuedCellSink : public CellSink {
  public:
    QueuedCellSink(QObject* owner, WorkbookCellSink& workbook)
        : owner_(owner), workbook_(workbook) {}
    void postCell(int row, int column, CellValue value) override {
        QMetaObject::invokeMethod(
            owner_,
            [&workbook = workbook_, row, column, value = std::move(value)]() mutable {
                workbook.postCell(row, column, std::move(value));
            },
            Qt::QueuedConnection);
    }

  private:
    QObject* owner_;
    WorkbookCellSink& workbook_;
};

}  // namespace

CTarvoDlg::CTarvoDlg(SettingsStore& store, QWidget* parent)
    : QDialog(parent),
      store_(store),
      dialogs_(std::make_unique<GuiOperator>(this)),
      executor_(std::make_unique<QtExecutor>()),
      operator_(std::make_unique<OwnerThreadOperator>(*dialogs_, *executor_)),
      controller_(std::make_unique<AcquisitionController>(state_)),
      histogramJob_(std::make_unique<HistogramJob>(state_)) {
    webUpdate_ = std::make_unique<WebUpdateLauncher>(
        this, *operator_,
        WebUpdateLauncher::Settings{[this](const std::string& name, const std::string& fallback) {
                                        return store_.readString(name, fallback);
                                    },
                                    [this](const std::string& name, const std::string& value) {
                                        store_.writeString(name,
                                                           value);  // "InstallDir", kept at once
                                        store_.save();
                                    }});
    setWindowTitle(QStringLiteral("Nimbra DAQ"));
    setWindowFlags(windowFlags() | Qt::WindowMinimizeButtonHint);
    state_.op = operator_.get();
    registerSequenceTestWorkers();
    sequenceSetup_ = std::make_unique<SequenceTestSetup>();
    workbook_ = std::make_unique<WorkbookCellSink>(*operator_);
    queuedCells_ = std::make_unique<QueuedCellSink>(this, *workbook_);
    sequenceSetup_->cells = queuedCells_.get();
    attachSequenceTestSetup(state_, sequenceSetup_.get());

    for (int ta = 0; ta < 8; ++ta) {
        taDialogs_[ta] = new CTAConfig(ta, this);
    }
    holdDialog_ = new CHoldConfig(store_, this);
    baseLineDialog_ = new CBaseLineDlg(this);

    buildControls();
    buildMenu();

    runTimer_ = new QTimer(this);
    runTimer_->setInterval(500);
    connect(runTimer_, &QTimer::timeout, this, &CTarvoDlg::onRunTimer);
    histogramTimer_ = new QTimer(this);
    histogramTimer_->setInterval(500);
    connect(histogramTimer_, &QTimer::timeout, this, &CTarvoDlg::onHistogramTimer);
    displayTimer_ = new QTimer(this);
    connect(displayTimer_, &QTimer::timeout, this, &CTarvoDlg::onDisplayTimer);
}

CTarvoDlg::~CTarvoDlg() {
    // Nothing may wait on this window any more: the controllers stop what still runs, release
    // a worker's pending question, join, and end the bridge.
    operator_->shutDown();
    histogramJob_.reset();
    controller_.reset();  // before the I2C window: a sequence worker may set its thresholds
    attachSequenceTestSetup(state_, nullptr);
    closeSequenceWorkbook();
    webUpdate_.reset();
    delete i2c_;
    i2c_ = nullptr;
}

void CTarvoDlg::buildControls() {
    // Bridge and board.
    auto* board = new QGroupBox(QStringLiteral("VME"), this);
    vmeReset_ = button(QStringLiteral("VME Reset"), board);
    baseAddress_ = field(QStringLiteral("Base Address (hex)"), board, 110);
    adcRev1_ = named(new QCheckBox(QStringLiteral("ADC Rev1"), board), QStringLiteral("ADC Rev1"));
    lastError_ = field(QStringLiteral("Last Error"), board, 70);
    lastError_->setReadOnly(true);
    clearError_ = button(QStringLiteral("Clear Error"), board);
    offsetAdc_ = field(QStringLiteral("Offset ADC"), board, 90);
    auto* boardForm = new QGridLayout(board);
    boardForm->addWidget(vmeReset_, 0, 0);
    boardForm->addWidget(adcRev1_, 0, 1);
    boardForm->addWidget(new QLabel(QStringLiteral("Base Address (hex)"), board), 1, 0);
    boardForm->addWidget(baseAddress_, 1, 1);
    boardForm->addWidget(new QLabel(QStringLiteral("Offset ADC"), board), 2, 0);
    boardForm->addWidget(offsetAdc_, 2, 1);
    boardForm->addWidget(new QLabel(QStringLiteral("Last Error"), board), 3, 0);
    auto* errorRow = new QHBoxLayout;
    errorRow->addWidget(lastError_);
    errorRow->addWidget(clearError_);
    boardForm->addLayout(errorRow, 3, 1);

    // Acquisition.
    auto* run = new QGroupBox(QStringLiteral("Acquisition"), this);
    type_ = named(new QComboBox(run), QStringLiteral("Acquisition Type"));
    auto* model = new QStandardItemModel(type_);
    for (int i = 0; i < kAcquisitionTypeCount; ++i) {
        model->appendRow(new QStandardItem(QString::fromLatin1(kTypeNames[i])));
    }
    type_->setModel(model);
    channel_ = field(QStringLiteral("Channel"), run, 50);
    cycle_ = field(QStringLiteral("Cycle"), run, 90);
    cyclesDone_ = named(new QLabel(QStringLiteral("0"), run), QStringLiteral("Cycles Done"));
    cyclesDone_->setMinimumWidth(60);
    busErrors_ =
        named(new QLabel(QStringLiteral("BusError Count="), run), QStringLiteral("BusError Count"));
    eventsLost_ =
        named(new QLabel(QStringLiteral("Events Lose="), run), QStringLiteral("Events Lose"));
    softTrigger_ = button(QStringLiteral("Soft Trigger"), run);
    start_ = button(QStringLiteral("START Acquire"), run);
    stop_ = button(QStringLiteral("Stop Acquire"), run);
    QFont bold = start_->font();
    bold.setBold(true);
    start_->setFont(bold);
    acquisitionProgress_ = named(new QProgressBar(run), QStringLiteral("Acquisition Progress"));
    auto* taRow = new QHBoxLayout;
    for (int i = 0; i < 8; ++i) {
        taDaqEnable_[i] = named(new QCheckBox(QString::number(i + 1), run),
                                QStringLiteral("TA DAQ Enable %1").arg(i + 1));
        taRow->addWidget(taDaqEnable_[i]);
    }
    filenameLabel_ = new QLabel(QStringLiteral("Filename"), run);
    filename_ = field(QStringLiteral("Filename"), run);
    filenameClrLabel_ = new QLabel(QStringLiteral("Filename clr"), run);
    filenameClr_ = field(QStringLiteral("Filename clr"), run);
    browseFilenameClr_ =
        named(new QPushButton(QStringLiteral("..."), run), QStringLiteral("Browse Filename clr"));
    browseFilenameClr_->setFixedWidth(32);
    auto* runGrid = new QGridLayout(run);
    runGrid->addWidget(type_, 0, 0, 1, 2);
    runGrid->addWidget(new QLabel(QStringLiteral("Channel"), run), 0, 2);
    runGrid->addWidget(channel_, 0, 3);
    runGrid->addWidget(new QLabel(QStringLiteral("Cycle"), run), 1, 0);
    runGrid->addWidget(cycle_, 1, 1);
    runGrid->addWidget(cyclesDone_, 1, 2, 1, 2);
    runGrid->addWidget(new QLabel(QStringLiteral("TA DAQ Enable"), run), 2, 0);
    runGrid->addLayout(taRow, 2, 1, 1, 3);
    runGrid->addWidget(filenameLabel_, 3, 0);
    runGrid->addWidget(filename_, 3, 1, 1, 3);
    runGrid->addWidget(filenameClrLabel_, 4, 0);
    auto* clrRow = new QHBoxLayout;
    clrRow->addWidget(filenameClr_);
    clrRow->addWidget(browseFilenameClr_);
    runGrid->addLayout(clrRow, 4, 1, 1, 3);
    auto* buttons = new QHBoxLayout;
    buttons->addWidget(start_);
    buttons->addWidget(stop_);
    buttons->addWidget(softTrigger_);
    runGrid->addLayout(buttons, 5, 0, 1, 4);
    runGrid->addWidget(acquisitionProgress_, 6, 0, 1, 4);
    runGrid->addWidget(busErrors_, 7, 0, 1, 2);
    runGrid->addWidget(eventsLost_, 7, 2, 1, 2);

    // Histograms.
    auto* histograms = new QGroupBox(QStringLiteral("Histograms"), this);
    mode_ = named(new QComboBox(histograms), QStringLiteral("Mode"));
    mode_->addItems({QStringLiteral("None"), QStringLiteral("Merge"), QStringLiteral("Swap"),
                     QStringLiteral("Ch0Base")});
    samplesFrom_ = field(QStringLiteral("Samples from"), histograms, 50);
    samplesTo_ = field(QStringLiteral("Samples to"), histograms, 50);
    histogramsOnly_ = named(new QCheckBox(QStringLiteral("Generate Histograms only"), histograms),
                            QStringLiteral("Generate Histograms only"));
    genChannels_ = button(QStringLiteral("Gen Channels"), histograms);
    histogramProgress_ = named(new QProgressBar(histograms), QStringLiteral("Histogram Progress"));
    auto* histGrid = new QGridLayout(histograms);
    histGrid->addWidget(new QLabel(QStringLiteral("Mode"), histograms), 0, 0);
    histGrid->addWidget(mode_, 0, 1);
    histGrid->addWidget(new QLabel(QStringLiteral("Samples from to"), histograms), 1, 0);
    auto* samplesRow = new QHBoxLayout;
    samplesRow->addWidget(samplesFrom_);
    samplesRow->addWidget(samplesTo_);
    samplesRow->addStretch();
    histGrid->addLayout(samplesRow, 1, 1);
    histGrid->addWidget(histogramsOnly_, 2, 0, 1, 2);
    histGrid->addWidget(genChannels_, 3, 0);
    histGrid->addWidget(histogramProgress_, 3, 1);

    // Instrument group of "Sequence Test Auto".
    instrumentGroup_ = new QGroupBox(QStringLiteral("Instrument"), this);
    visaResource_ = named(new QComboBox(instrumentGroup_), QStringLiteral("Visa Resource"));
    refresh_ = button(QStringLiteral("Refr."), instrumentGroup_);
    commandFile_ = field(QStringLiteral("Command File"), instrumentGroup_);
    browseCommandFile_ = named(new QPushButton(QStringLiteral("..."), instrumentGroup_),
                               QStringLiteral("Browse Command File"));
    browseCommandFile_->setFixedWidth(32);
    edit_ = button(QStringLiteral("Edit"), instrumentGroup_);
    name_ = field(QStringLiteral("Name"), instrumentGroup_);
    auto* instGrid = new QGridLayout(instrumentGroup_);
    instGrid->addWidget(new QLabel(QStringLiteral("Visa Resource"), instrumentGroup_), 0, 0);
    instGrid->addWidget(visaResource_, 0, 1);
    instGrid->addWidget(refresh_, 0, 2);
    instGrid->addWidget(new QLabel(QStringLiteral("Command File"), instrumentGroup_), 1, 0);
    instGrid->addWidget(commandFile_, 1, 1);
    auto* cmdButtons = new QHBoxLayout;
    cmdButtons->addWidget(browseCommandFile_);
    cmdButtons->addWidget(edit_);
    instGrid->addLayout(cmdButtons, 1, 2);
    instGrid->addWidget(new QLabel(QStringLiteral("Name"), instrumentGroup_), 2, 0);
    instGrid->addWidget(name_, 2, 1);

    // Graph and what goes with it.
    graph_ = new LiveGraph(this);
    spyFifo_ = named(new QComboBox(this), QStringLiteral("Select Spy FIFO"));
    for (int i = 1; i <= 8; ++i) {
        spyFifo_->addItem(QStringLiteral("FIFO %1").arg(i));
    }
    holdMinMaxBox_ =
        named(new QCheckBox(QStringLiteral("hold min max"), this), QStringLiteral("hold min max"));
    peakText_ = named(new QPlainTextEdit(this), QStringLiteral("FIFO Peaks"));
    peakText_->setReadOnly(true);
    peakText_->setMaximumHeight(120);
    QFont mono(QStringLiteral("DejaVu Sans Mono"));
    mono.setStyleHint(QFont::Monospace);
    peakText_->setFont(mono);
    status_ = named(new QLabel(this), QStringLiteral("Status"));
    status_->setWordWrap(true);
    auto* graphBar = new QHBoxLayout;
    graphBar->addWidget(new QLabel(QStringLiteral("Select Spy FIFO"), this));
    graphBar->addWidget(spyFifo_);
    graphBar->addWidget(holdMinMaxBox_);
    graphBar->addStretch();

    auto* left = new QVBoxLayout;
    left->addWidget(board);
    left->addWidget(run);
    left->addWidget(histograms);
    left->addWidget(instrumentGroup_);
    left->addStretch();
    auto* right = new QVBoxLayout;
    right->addLayout(graphBar);
    right->addWidget(graph_, 1);
    right->addWidget(peakText_);
    right->addWidget(status_);
    auto* columns = new QHBoxLayout;
    columns->addLayout(left);
    columns->addLayout(right, 1);
    auto* layout = new QVBoxLayout(this);
    layout->addLayout(columns);

    connect(vmeReset_, &QPushButton::clicked, this, &CTarvoDlg::onVmeReset);
    connect(start_, &QPushButton::clicked, this, &CTarvoDlg::onStart);
    connect(stop_, &QPushButton::clicked, this, &CTarvoDlg::onStop);
    connect(softTrigger_, &QPushButton::clicked, this, &CTarvoDlg::onSoftTrigger);
    connect(genChannels_, &QPushButton::clicked, this, &CTarvoDlg::onGenChannels);
    connect(clearError_, &QPushButton::clicked, this, &CTarvoDlg::onClearError);
    connect(adcRev1_, &QCheckBox::clicked, this, &CTarvoDlg::onAdcRev1Clicked);
    connect(type_, &QComboBox::activated, this, &CTarvoDlg::onTypeChanged);
    connect(browseFilenameClr_, &QPushButton::clicked, this, &CTarvoDlg::onBrowseFilenameClr);
    connect(browseCommandFile_, &QPushButton::clicked, this, &CTarvoDlg::onBrowseCommandFile);
    connect(edit_, &QPushButton::clicked, this, &CTarvoDlg::onEditCommandFile);
    connect(refresh_, &QPushButton::clicked, this, &CTarvoDlg::onRefreshResources);
    connect(holdMinMaxBox_, &QCheckBox::clicked, this, &CTarvoDlg::onHoldMinMaxClicked);
    for (QPushButton* b : findChildren<QPushButton*>()) {
        b->setAutoDefault(false);  // Enter in a field starts nothing
    }
}

void CTarvoDlg::buildMenu() {
    menuBar_ = new QMenuBar(this);
    layout()->setMenuBar(menuBar_);
    QMenu* config = menuBar_->addMenu(QStringLiteral("&Config"));
    config->setToolTipsVisible(true);
    for (int ta = 0; ta < 8; ++ta) {
        taActions_[ta] = config->addAction(QStringLiteral("TA %1 Setting").arg(ta + 1), this,
                                           [this, ta] { onTaSetting(ta); });
    }
    config->addSeparator();
    config->addAction(QStringLiteral("Hold Setting"), this, &CTarvoDlg::onHoldSetting);
    config->addAction(QStringLiteral("Base Lines"), this, &CTarvoDlg::onBaseLines);
    config->addSeparator();
    config->addAction(QStringLiteral("LoadSetting"), this, &CTarvoDlg::onLoadSetting);
    config->addAction(QStringLiteral("SaveSetting"), this, &CTarvoDlg::onSaveSetting);
    config->addAction(QStringLiteral("InitSetting"), this, &CTarvoDlg::onInitSetting);

    QMenu* i2c = menuBar_->addMenu(QStringLiteral("&I2C Controls"));
    i2c->setToolTipsVisible(true);
    i2cShowHide_ = i2c->addAction(QStringLiteral("Show/Hide"));
    i2cShowHide_->setEnabled(false);  // until the window exists

    QMenu* help = menuBar_->addMenu(QStringLiteral("&Help"));
    help->setToolTipsVisible(true);
    help->addAction(QStringLiteral("Web Update"), this, [this] { webUpdate_->start(); });
    help->addSeparator();
    help->addAction(QStringLiteral("About"), this, &CTarvoDlg::onAbout);
}

void CTarvoDlg::loadSettings(const PersistedSettings& s) {
    state_.settings.filename = s.fileName;
    state_.settings.filenameClr = s.fileNameClr;
    baseAddrText_ = qs(s.baseAddrText);
    state_.settings.baseAddress = s.baseAddress;
    visaResource_->clear();
    if (!s.visaResource.empty()) {
        visaResource_->addItem(qs(s.visaResource));
    }
    state_.settings.adcRev1 = s.revision != 0;
    for (int i = 0; i < 8; ++i) {
        state_.settings.taDaqEnable[i] = s.enTa[i] != 0;
    }
    state_.settings.samplesFrom = s.sample0;
    state_.settings.samplesTo = s.sample1;
    state_.settings.cycleCount = s.cycle;
    baseLineDialog_->baseLine = s.baseLine;
    state_.settings.baseLine = s.baseLine;
    commandFile_->setText(qs(s.visaFile));
    state_.settings.offsetAdc = s.offsetAdc;
}

PersistedSettings CTarvoDlg::persistedSettings() const {
    PersistedSettings s;
    s.fileName = state_.settings.filename;
    s.fileNameClr = state_.settings.filenameClr;
    s.baseAddrText = local(baseAddress_->text());
    s.baseAddress = ParseHex(s.baseAddrText);
    s.visaResource = local(visaResource_->currentText());
    s.revision = state_.settings.adcRev1 ? 1 : 0;
    for (int i = 0; i < 8; ++i) {
        s.enTa[i] = state_.settings.taDaqEnable[i] ? 1 : 0;
    }
    s.sample0 = state_.settings.samplesFrom;
    s.sample1 = state_.settings.samplesTo;
    s.cycle = state_.settings.cycleCount;
    s.baseLine = baseLineDialog_->baseLine;
    s.visaFile = local(commandFile_->text());
    s.offsetAdc = state_.settings.offsetAdc;
    return s;
}

void CTarvoDlg::initialize() {
    // Open the bridge as every program of the bench does; without one the window still opens,
    // and START says what to do.
    int32_t result = runOffGuiThread(this, [this] { return controller_->openBridge(); });
    const int32_t handle = state_.vmeHandle;
    state_.progress.lastError = result;
    refreshResourceList(visaResource_->currentText());
    spyFifo_->setCurrentIndex(0);
    holdMinMaxBox_->setChecked(holdMinMax_);
    start_->setFocus();
    baseAddress_->setText(baseAddrText_);
    // The I2C window opens its adapter now (it may ask which one) and stays hidden.
    i2c_ = new CAdcDacDlg(this, *operator_);
    connect(i2cShowHide_, &QAction::triggered, i2c_, &CAdcDacDlg::toggleShown);
    i2cShowHide_->setEnabled(true);
    sequenceSetup_->thresholds = i2c_;
    writeFields();
    showStatus(bridgeOpen() ? QStringLiteral("Bridge open (handle %1).").arg(handle)
                            : QStringLiteral("No bridge reachable: press VME Reset once the "
                                             "crate is on."));
}

bool CTarvoDlg::readFields() {
    // All fields are checked before any is taken, so a refused value leaves the record as it was.
    struct Numeric {
        QLineEdit* edit;
        const char* name;
        int64_t lo;
        int64_t hi;
        int64_t value = 0;
    };
    Numeric numbers[] = {
        {channel_, "Channel", 0, 31},
        {cycle_, "Cycle", INT32_MIN, INT32_MAX},
        {offsetAdc_, "Offset ADC", 0, UINT32_MAX},
        {samplesFrom_, "Samples from", INT32_MIN, INT32_MAX},
        {samplesTo_, "Samples to", INT32_MIN, INT32_MAX},
    };
    for (Numeric& n : numbers) {
        auto r = readIntegerField(local(n.edit->text()), n.name, n.lo, n.hi);
        if (auto* message = std::get_if<std::string>(&r)) {
            operator_->error(*message);
            n.edit->setFocus();
            n.edit->selectAll();
            return false;
        }
        n.value = std::get<int64_t>(r);
    }
    state_.settings.channel = static_cast<uint32_t>(numbers[0].value);
    state_.settings.cycleCount = static_cast<int32_t>(numbers[1].value);
    state_.settings.offsetAdc = static_cast<uint32_t>(numbers[2].value);
    state_.settings.samplesFrom = static_cast<int32_t>(numbers[3].value);
    state_.settings.samplesTo = static_cast<int32_t>(numbers[4].value);
    state_.settings.baseAddress = ParseHex(local(baseAddress_->text()));
    state_.settings.adcRev1 = adcRev1_->isChecked();
    for (int i = 0; i < 8; ++i) {
        state_.settings.taDaqEnable[i] = taDaqEnable_[i]->isChecked();
    }
    state_.settings.acquisitionType = type_->currentIndex();
    state_.settings.filename = local(filename_->text());
    state_.settings.filenameClr = local(filenameClr_->text());
    state_.settings.histogramMode = mode_->currentIndex();
    state_.settings.histogramsOnly = histogramsOnly_->isChecked();
    state_.settings.baseLine = baseLineDialog_->baseLine;
    return true;
}

void CTarvoDlg::writeFields() {
    baseAddress_->setText(QString::asprintf("%08X", state_.settings.baseAddress));
    adcRev1_->setChecked(state_.settings.adcRev1);
    offsetAdc_->setText(QString::number(state_.settings.offsetAdc));
    cycle_->setText(QString::number(state_.settings.cycleCount));
    for (int i = 0; i < 8; ++i) {
        taDaqEnable_[i]->setChecked(state_.settings.taDaqEnable[i]);
    }
    type_->setCurrentIndex(state_.settings.acquisitionType);
    channel_->setText(QString::number(state_.settings.channel));
    filename_->setText(qs(state_.settings.filename));
    filenameClr_->setText(qs(state_.settings.filenameClr));
    mode_->setCurrentIndex(state_.settings.histogramMode);
    samplesFrom_->setText(QString::number(state_.settings.samplesFrom));
    samplesTo_->setText(QString::number(state_.settings.samplesTo));
    histogramsOnly_->setChecked(state_.settings.histogramsOnly);
    writeRunOutputs();

    const ControlEnabling e =
        enablingFor({state_.progress.acquisitionIdle.load(), state_.progress.histogramIdle.load(),
                     state_.settings.adcRev1, state_.settings.acquisitionType});
    for (QWidget* w :
         std::initializer_list<QWidget*>{start_, vmeReset_, adcRev1_, baseAddress_, cycle_}) {
        w->setEnabled(e.start);
    }
    filename_->setEnabled(e.filename);
    filename_->setVisible(e.filenameVisible);
    filenameLabel_->setVisible(e.filenameVisible);
    filenameClr_->setEnabled(e.filenameClr);
    browseFilenameClr_->setEnabled(e.filenameClr);
    filenameClrLabel_->setText(QString::fromLatin1(e.filenameClrLabel));
    genChannels_->setEnabled(e.genChannels);
    samplesFrom_->setEnabled(e.genChannels);
    samplesTo_->setEnabled(e.genChannels);
    for (QCheckBox* box : taDaqEnable_) {
        box->setEnabled(e.taDaqEnable);
    }
    spyFifo_->setEnabled(e.spyFifo);
    type_->setEnabled(e.typeCombo);
    channel_->setEnabled(e.channel);
    softTrigger_->setEnabled(e.softTrigger);
    instrumentGroup_->setVisible(e.instrumentGroupVisible);
    commandFile_->setEnabled(e.instrumentControls);
    browseCommandFile_->setEnabled(e.instrumentControls);
    edit_->setEnabled(e.instrumentControls);
    visaResource_->setEnabled(e.instrumentControls);
    refresh_->setEnabled(e.instrumentControls);
    name_->setEnabled(e.name);
    for (QAction* a : taActions_) {
        a->setEnabled(e.taMenuItems);
    }
    graph_->setXRange(xRangeFor(state_.settings.adcRev1, state_.settings.acquisitionType,
                                state_.display.wordsPerFifo.load()));
}

void CTarvoDlg::writeRunOutputs() {
    lastError_->setText(QString::number(state_.progress.lastError.load()));
    cyclesDone_->setText(QString::number(state_.progress.cyclesDone.load()));
    peakText_->setPlainText(qs(state_.display.peakText()));
}

QString CTarvoDlg::statusMessage() const {
    return status_->text();
}

void CTarvoDlg::showStatus(const QString& text) {
    status_->setText(text);
}

void CTarvoDlg::onVmeReset() {
    if (!readFields()) {
        return;
    }
    struct Outcome {
        int32_t openResult = 0;
        int32_t resetResult = 0;
    };
    const bool needsOpen = !bridgeOpen();
    Outcome outcome = runOffGuiThread(this, [this, needsOpen] {
        Outcome o;
        if (needsOpen && (o.openResult = controller_->openBridge()) != Success) {
            return o;
        }
        o.resetResult = KOVRAVME_SystemReset(state_.vmeHandle);
        return o;
    });
    if (outcome.openResult != Success) {
        operator_->error("Fatal: Initialization FAIL");
        state_.progress.lastError = outcome.openResult;
    } else {
        state_.progress.lastError = outcome.resetResult;
        showStatus(QStringLiteral("VME bus reset (handle %1).").arg(state_.vmeHandle));
    }
    writeFields();
}

void CTarvoDlg::onStart() {
    if (!state_.progress.acquisitionIdle.load() || controller_->running()) {
        return;
    }
    if (!bridgeOpen()) {
        operator_->error("Fatal: Initialization FAIL\nPress VME Reset to initilize");
        state_.progress.lastError = -2;
        writeFields();
        return;
    }
    if (!readFields()) {
        return;
    }
    acquisitionProgress_->setRange(0, std::max(state_.settings.cycleCount, 0));
    acquisitionProgress_->setValue(0);
    display_ = LiveDisplay();
    graph_->setAverages({});
    if (isSequenceTest(state_.settings.acquisitionType)) {
        prepareSequenceTest();
    }
    controller_->start();
    writeFields();
    runTimer_->start(500);
    displayTimer_->start(displayTimerInterval(state_.settings.acquisitionType));
    showStatus(QStringLiteral("Acquisition running: %1 cycles.").arg(state_.settings.cycleCount));
}

void CTarvoDlg::onStop() {
    controller_->stop();
}

void CTarvoDlg::onSoftTrigger() {
    int32_t result = SoftTrigger(state_);
    if (result != 0) {
        writeFields();
    }
}

void CTarvoDlg::onGenChannels() {
    if (!readFields()) {
        return;
    }
    if (histogramJob_->GenerateChannels()) {
        histogramProgress_->setRange(0, 0);
        histogramTimer_->start(500);
        showStatus(QStringLiteral("Generating histograms."));
    }
    writeFields();
}

void CTarvoDlg::onClearError() {
    state_.progress.lastError = 0;
    writeFields();
}

void CTarvoDlg::onAdcRev1Clicked() {
    if (readFields()) {
        writeFields();
    } else {
        adcRev1_->setChecked(state_.settings.adcRev1);
    }
}

void CTarvoDlg::onTypeChanged() {
    if (readFields()) {
        writeFields();
    } else {
        type_->setCurrentIndex(state_.settings.acquisitionType);
    }
}

void CTarvoDlg::onBrowseFilenameClr() {
    if (!readFields()) {
        return;
    }
    if (auto path =
            operator_->chooseSaveFile(state_.settings.filenameClr, ".bin", kDaqFileFilter)) {
        state_.settings.filenameClr = *path;
        writeFields();
    }
}

void CTarvoDlg::onBrowseCommandFile() {
    if (!readFields()) {
        return;
    }
    if (auto path =
            operator_->chooseOpenFile(local(commandFile_->text()), ".txt", kCommandFileFilter)) {
        commandFile_->setText(qs(*path));
        writeFields();
    }
}

void CTarvoDlg::onEditCommandFile() {
    // The desktop's editor for the file; no waiting and no error box, as with any opened file.
    OpenInNotepad(local(commandFile_->text()));
}

void CTarvoDlg::onRefreshResources() {
    if (readFields()) {
        refreshResourceList(QString());
    }
}

void CTarvoDlg::refreshResourceList(const QString& preferred) {
    const int previous = visaResource_->currentIndex();
    std::string error;
    const std::vector<std::string> items = listVisaResources(error);
    visaResource_->clear();
    for (const std::string& item : items) {
        visaResource_->addItem(qs(item));
    }
    visaResource_->setCurrentIndex(visaResourceSelection(items, local(preferred), previous));
    if (items.empty() && !error.empty()) {
        showStatus(QStringLiteral("No instrument list: %1").arg(qs(error)));
    }
}

void CTarvoDlg::prepareSequenceTest() {
    SequenceTestSetup& setup = *sequenceSetup_;
    setup.commandFile = local(commandFile_->text());
    setup.resource = local(visaResource_->currentText());
    setup.name = local(name_->text());
    setup.setStatusText("");
    state_.excelOpen = false;
    if (state_.settings.acquisitionType != kTypeSequenceTestAuto) {
        return;
    }
    std::optional<std::string> path = sequenceWorkbookPath(state_.settings.filenameClr, setup.name);
    std::error_code ec;
    if (!std::filesystem::exists(*path, ec)) {
        operator_->error("Excel file " + *path + " not found");
        path = operator_->chooseOpenFile(*path, ".xls", kWorkbookFilter);
    }
    // Without a workbook the test still runs; its cells are then dropped.
    if (path) {
        workbook_->open(*path);
    }
    state_.excelOpen = workbook_->isOpen();
}

void CTarvoDlg::closeSequenceWorkbook() {
    if (workbook_ && workbook_->isOpen()) {
        workbook_->close();
    }
    state_.excelOpen = false;
}

void CTarvoDlg::onHoldMinMaxClicked() {
    holdMinMax_ = holdMinMaxBox_->isChecked();
}

void CTarvoDlg::onHoldSetting() {
    if (!readFields()) {
        return;
    }
    holdDialog_->state = &state_;
    holdDialog_->exec();
    writeFields();
}

void CTarvoDlg::onTaSetting(int ta) {
    if (!readFields()) {
        return;
    }
    CTAConfig& dialog = *taDialogs_[ta];
    dialog.state = &state_;
    dialog.taIndex = ta;
    dialog.mode = state_.settings.acquisitionType;
    dialog.exec();
    writeFields();
}

void CTarvoDlg::onBaseLines() {
    if (baseLineDialog_->exec() == QDialog::Accepted) {
        state_.settings.baseLine = baseLineDialog_->baseLine;
        writeBaseLines(store_, baseLineDialog_->baseLine);
    }
}

// The eight sections and the hold codes as the dialogs hold them: what a setting file saves, and
// what a short file leaves in place when it is loaded.
TaSetting CTarvoDlg::currentTaSetting() const {
    TaSetting setting;
    setting.holdCodes = holdDialog_->holdCode;
    for (int ta = 0; ta < 8; ++ta) {
        setting.sections[ta] = taDialogs_[ta]->config.registers();
    }
    return setting;
}

void CTarvoDlg::onLoadSetting() {
    auto path = operator_->chooseOpenFile("", ".ta", kTaSettingFilter);
    if (!path) {
        return;
    }
    TaSetting setting = currentTaSetting();
    TaFileResult r = LoadSetting(*path, setting);
    if (!r.ok) {
        showStatus(
            QStringLiteral("Setting file %1 could not be opened: %2").arg(qs(r.path), qs(r.error)));
        return;
    }
    holdDialog_->holdCode = setting.holdCodes;
    for (int ta = 0; ta < 8; ++ta) {
        taDialogs_[ta]->config.setRegisters(setting.sections[ta]);
    }
    if (r.bytes < TaSetting::kFileSize) {
        showStatus(QStringLiteral("Setting file %1 is short: %2 of %3 bytes loaded, the rest "
                                  "kept as it was.")
                       .arg(qs(r.path))
                       .arg(r.bytes)
                       .arg(TaSetting::kFileSize));
    } else {
        showStatus(QStringLiteral("Setting file %1 loaded.").arg(qs(r.path)));
    }
}

void CTarvoDlg::onSaveSetting() {
    auto path = operator_->chooseSaveFile("", ".ta", kTaSettingFilter);
    if (!path) {
        return;
    }
    TaSetting setting = currentTaSetting();
    TaFileResult r = SaveSetting(*path, setting);
    showStatus(r.ok ? QStringLiteral("Setting file %1 saved.").arg(qs(r.path))
                    : QStringLiteral("Setting file %1 could not be written: %2")
                          .arg(qs(r.path), qs(r.error)));
}

void CTarvoDlg::onInitSetting() {
    if (!readFields()) {
        return;
    }
    std::array<TaRegisterValues, 8> sections{};
    for (int ta = 0; ta < 8; ++ta) {
        sections[ta] = taDialogs_[ta]->config.registers();
    }
    HoldCodeArray hold = holdDialog_->holdCode;
    int mode = state_.settings.acquisitionType;
    int failures = runOffGuiThread(this, [&] { return InitSetting(state_, sections, hold, mode); });
    showStatus(failures == 0 ? QStringLiteral("All eight TA sections and the hold delays written.")
                             : QStringLiteral("InitSetting: %1 step(s) failed.").arg(failures));
    writeFields();
}

void CTarvoDlg::onAbout() {
    CAboutDlg about(this);
    about.exec();
}

void CTarvoDlg::onRunTimer() {
    RunTimerTick tick = controller_->tick();
    busErrors_->setText(qs(tick.busErrorText));
    eventsLost_->setText(qs(tick.eventsLostText));
    acquisitionProgress_->setRange(0, std::max(tick.cycleCount, 0));
    acquisitionProgress_->setValue(std::clamp(tick.cyclesDone, 0, std::max(tick.cycleCount, 0)));
    const bool sequence = isSequenceTest(state_.settings.acquisitionType);
    if (tick.finished) {
        runTimer_->stop();
        displayTimer_->stop();
        if (sequence) {
            closeSequenceWorkbook();
            const std::string last = sequenceSetup_->statusText();
            showStatus(last.empty() ? QStringLiteral("Sequence test ended.")
                                    : QStringLiteral("Sequence test ended: %1").arg(qs(last)));
        } else {
            showStatus(QStringLiteral("Acquisition ended: %1 of %2 cycles.")
                           .arg(tick.cyclesDone)
                           .arg(tick.cycleCount));
        }
        writeFields();
        if (closePending_) {
            close();
        }
        return;
    }
    if (sequence) {
        if (std::string text = sequenceSetup_->statusText(); !text.empty()) {
            showStatus(qs(text));
        }
    }
    writeRunOutputs();
}

void CTarvoDlg::onHistogramTimer() {
    HistogramTick tick = histogramJob_->tick();
    busErrors_->setText(
        QStringLiteral("BusError Count=%1").arg(state_.progress.busErrorCount.load()));
    eventsLost_->setText(QStringLiteral("Events Lose=%1").arg(state_.progress.eventsLost.load()));
    // The bar counts kilobytes so that files beyond 2 GB still fit its range.
    histogramProgress_->setRange(0, static_cast<int>(tick.total / 1024));
    histogramProgress_->setValue(static_cast<int>(tick.bytesProcessed / 1024));
    if (tick.finished) {
        histogramTimer_->stop();
        histogramProgress_->setRange(0, 1);
        histogramProgress_->setValue(1);
        showStatus(histogramJob_->succeeded() ? QStringLiteral("Histograms written.")
                                              : QStringLiteral("Histogram generation failed."));
        writeFields();
        if (closePending_) {
            close();
        }
        return;
    }
    writeRunOutputs();
}

void CTarvoDlg::onDisplayTimer() {
    busErrors_->setText(
        QStringLiteral("BusError Count=%1").arg(state_.progress.busErrorCount.load()));
    eventsLost_->setText(QStringLiteral("Events Lose=%1").arg(state_.progress.eventsLost.load()));
    auto frame = display_.step(state_, spyFifo_->currentIndex(), holdMinMax_, graph_->yRange(),
                               state_.display.wordsPerFifo.load());
    if (frame) {
        if (frame->yRange) {
            graph_->setYRange(*frame->yRange);
        }
        graph_->setAverages(frame->averages);
        graph_->setData(frame->data);
    }
    writeRunOutputs();
}

void CTarvoDlg::reject() {
    close();
}

void CTarvoDlg::closeEvent(QCloseEvent* event) {
    if (running() || histogramRunning()) {
        // Ending now would pull the record from under the workers: ask the run to stop and close
        // once both have ended.
        closePending_ = true;
        controller_->stop();
        histogramJob_->stop();
        showStatus(QStringLiteral("Closing once the running work has ended."));
        event->ignore();
        return;
    }
    readFields();
    closeSequenceWorkbook();
    event->accept();
    QDialog::done(QDialog::Accepted);
}

}  // namespace tarvo
