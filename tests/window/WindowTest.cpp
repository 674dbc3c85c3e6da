// The operator's window driven as an operator drives it, by the controls' accessible names, on
// the offscreen platform; the crate is vmecrate-sim in a process of its own.
#include <QAction>
#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QFileDialog>
#include <QLabel>
#include <QLineEdit>
#include <QMenuBar>
#include <QMessageBox>
#include <QProgressBar>
#include <QPushButton>
#include <QStandardItemModel>
#include <QTimer>
#include <QtTest>
#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <memory>
#include <sstream>

#include "KOVRAVMElib.h"
#include "acquisition/ui/CTarvoDlg.h"
#include "acquisition/ui/LiveGraph.h"
#include "board/BoardRegisters.h"
#include "board/ui/CHoldConfig.h"
#include "board/ui/CTAConfig.h"
#include "shell/PersistedSettings.h"
#include "shell/SettingsStore.h"
#include "shell/ui/CBaseLineDlg.h"
#include "support/SimProcess.h"
#include "support/TempDir.h"

using namespace tarvo;
using nimbra::test::SimProcess;
using nimbra::test::TempDir;
namespace fs = std::filesystem;

namespace {

template <class W>
W* byName(QWidget* root, const QString& name) {
    for (W* w : root->findChildren<W*>()) {
        if (w->accessibleName() == name) {
            return w;
        }
    }
    return nullptr;
}

QAction* menuAction(QWidget* window, const QString& text) {
    for (QAction* a : window->findChildren<QAction*>()) {
        if (a->text() == text) {
            return a;
        }
    }
    return nullptr;
}

void click(QWidget* root, const QString& name) {
    auto* b = byName<QPushButton>(root, name);
    QVERIFY2(b != nullptr, qPrintable(name));
    QVERIFY2(b->isEnabled(), qPrintable(name + " is disabled"));
    QTest::mouseClick(b, Qt::LeftButton);
}

void type(QWidget* root, const QString& name, const QString& text) {
    auto* e = byName<QLineEdit>(root, name);
    QVERIFY2(e != nullptr, qPrintable(name));
    e->setText(text);
}

void check(QWidget* root, const QString& name, bool on) {
    auto* b = byName<QCheckBox>(root, name);
    QVERIFY2(b != nullptr, qPrintable(name));
    if (b->isChecked() != on) {
        QTest::mouseClick(b, Qt::LeftButton, {}, QPoint(5, b->height() / 2));
    }
    QCOMPARE(b->isChecked(), on);
}

// Message boxes the window shows, answered with OK as they come and remembered.
class MessageWatcher : public QObject {
  public:
    MessageWatcher() {
        timer_.setInterval(20);
        connect(&timer_, &QTimer::timeout, this, [this] {
            if (auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget())) {
                texts << box->text();
                box->accept();
            }
        });
        timer_.start();
    }
    QStringList texts;

  private:
    QTimer timer_;
};

std::string readText(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

uint32_t readBoard(int32_t handle, uint32_t offset) {
    uint32_t value = 0xDEADBEEF;
    int32_t r = KOVRAVME_ReadCycle(handle, 0x03030000 + offset, &value, AmA32UserData, D32);
    return r == Success ? value : 0xDEADBEEF;
}

// A failed check inside a helper that returns a value: the test sees the empty value.
#define VERIFY_OR_EMPTY(condition)                                                             \
    do {                                                                                       \
        if (!QTest::qVerify(static_cast<bool>(condition), #condition, "", __FILE__, __LINE__)) \
            return {};                                                                         \
    } while (false)

}  // namespace

class WindowTest : public QObject {
    Q_OBJECT

  private:
    std::unique_ptr<TempDir> dir_;
    std::unique_ptr<SimProcess> crate_;
    std::unique_ptr<SettingsStore> store_;
    std::unique_ptr<CTarvoDlg> window_;
    std::unique_ptr<MessageWatcher> messages_;  // every box is answered and remembered
    QStringList expectedMessages_;

    void openWindow() {
        store_ = std::make_unique<SettingsStore>(dir_->path() / "config" / "Ulmora" / "Tarvo.conf");
        store_->load();
        window_ = std::make_unique<CTarvoDlg>(*store_);
        window_->loadSettings(readStartupSettings(*store_));
        window_->initialize();
        window_->show();
    }
    void closeWindow() {
        window_->close();
        writeExitSettings(*store_, window_->persistedSettings());
        window_.reset();
    }
    QWidget* w() { return window_.get(); }
    bool idle() { return byName<QPushButton>(w(), "START Acquire")->isEnabled(); }
    QString label(const QString& name) { return byName<QLabel>(w(), name)->text(); }

    // FIFO layout, the given sections, files under the test's folder.
    void prepareRun(int cycles, const QString& sections) {
        check(w(), "ADC Rev1", true);
        for (int i = 1; i <= 8; ++i) {
            check(w(), QStringLiteral("TA DAQ Enable %1").arg(i),
                  sections.contains(QString::number(i)));
        }
        type(w(), "Cycle", QString::number(cycles));
        type(w(), "Filename clr", QString::fromStdString(dir_->file("daqclr.bin")));
    }

  private slots:
    void init() {
        dir_ = std::make_unique<TempDir>();
        SimProcess::Options options;
        options.trace = false;
        options.args = {"--board", "--i2c", "--generator"};
        crate_ = std::make_unique<SimProcess>(options);
        messages_ = std::make_unique<MessageWatcher>();
        expectedMessages_.clear();
        openWindow();
    }
    void cleanup() {
        if (window_) {
            closeWindow();
        }
        QCOMPARE(messages_->texts, expectedMessages_);
        messages_.reset();
        crate_.reset();
        store_.reset();
        dir_.reset();
    }

    void startOf500EventsFillsTheCountersAndReturnsToIdle() {
        prepareRun(500, "13");
        click(w(), "START Acquire");
        QVERIFY(!idle());
        QTRY_VERIFY_WITH_TIMEOUT(idle(), 120000);
        QCOMPARE(label("Cycles Done"), QStringLiteral("500"));
        QCOMPARE(label("BusError Count"), QStringLiteral("BusError Count=0"));
        QCOMPARE(label("Events Lose"), QStringLiteral("Events Lose=0"));
        auto* bar = byName<QProgressBar>(w(), "Acquisition Progress");
        QCOMPARE(bar->maximum(), 500);
        QCOMPARE(bar->value(), 500);
        QCOMPARE(byName<QLineEdit>(w(), "Last Error")->text(), QStringLiteral("0"));
        QCOMPARE(fs::file_size(dir_->file("daqclr_0.bin")), 500u * 1024);
        QCOMPARE(fs::file_size(dir_->file("daqclr_2.bin")), 500u * 1024);
        QVERIFY(!fs::exists(dir_->file("daqclr_1.bin")));
        // The graph shows the picture of FIFO 1: 256 points of a normal read-out.
        QVERIFY(window_->graph().dataPoints() == 256 || window_->graph().dataPoints() == 0);
    }

    void stopEndsALongRun() {
        prepareRun(100000000, "1");
        click(w(), "START Acquire");
        QTRY_VERIFY_WITH_TIMEOUT(window_->state().progress.cyclesDone.load() > 20, 60000);
        QElapsedTimer sinceStop;
        sinceStop.start();
        click(w(), "Stop Acquire");
        QTRY_VERIFY_WITH_TIMEOUT(idle(), 60000);
        // Reported, not asserted: how long the run took to end (the timer's tick included).
        qInfo("run ended %lld ms after Stop", static_cast<long long>(sinceStop.elapsed()));
        const int done = window_->state().progress.cyclesDone.load();
        QVERIFY(done < 100000000);
        QCOMPARE(label("Cycles Done"), QString::number(done));
        // Whole events only: the file holds exactly the cycles counted.
        QCOMPARE(fs::file_size(dir_->file("daqclr_0.bin")), static_cast<uintmax_t>(done) * 1024);
    }

    void taWriteLoadsTheSectionIntoTheBoard() {
        check(w(), "ADC Rev1", true);
        QAction* ta3 = menuAction(w(), "TA 3 Setting");
        QVERIFY(ta3 && ta3->isEnabled());
        bool edited = false;
        QTimer::singleShot(0, this, [&] {
            CTAConfig& d = window_->taDialog(2);
            check(&d, "Test Mask 0", true);
            check(&d, "Test Mask 31", true);
            check(&d, "Disable Mask 5", true);
            type(&d, "DAC Offset 10", "5");
            byName<QComboBox>(&d, "Gain")->setCurrentIndex(2);
            byName<QComboBox>(&d, "Gain Sign")->setCurrentIndex(1);
            byName<QComboBox>(&d, "Polarity")->setCurrentIndex(1);
            check(&d, "Test Mode", true);
            click(&d, "Write");
            click(&d, "Close");
            edited = true;
        });
        ta3->trigger();
        QVERIFY(edited);
        const int32_t handle = window_->state().vmeHandle;
        QCOMPARE(readBoard(handle, board::taRegister(2, 1)), 0x80000001u);
        QCOMPARE(readBoard(handle, board::taRegister(2, 2)), 1u << 30);
        QCOMPARE(readBoard(handle, board::taRegister(2, 3)), 1u);
        QCOMPARE(readBoard(handle, board::taRegister(2, 4)), 0u);
        QCOMPARE(readBoard(handle, board::taRegister(2, 5)), 0x20u);
        QCOMPARE(readBoard(handle, board::taRegister(2, 6)), 0x1Bu);
        // The edits stay with the section's dialog for its next opening.
        QCOMPARE(window_->taDialog(2).config.registers()[5], 0x1Bu);
    }

    void initSettingWritesAllEightSectionsAndTheHoldCodes() {
        check(w(), "ADC Rev1", true);
        for (int t = 0; t < 8; ++t) {
            TaRegisterValues regs{};
            for (int r = 0; r < 6; ++r) {
                regs[r] = 0x01000000u * (t + 1) + 0x100u * (r + 1) + 0x0C;
            }
            window_->taDialog(t).config.setRegisters(regs);
        }
        window_->holdDialog().holdCode = {1, 2, 3, 4, 5, 6, 7, 8};
        QAction* init = menuAction(w(), "InitSetting");
        QVERIFY(init);
        init->trigger();
        const int32_t handle = window_->state().vmeHandle;
        for (int t = 0; t < 8; ++t) {
            for (int r = 0; r < 6; ++r) {
                QCOMPARE(readBoard(handle, board::taRegister(t, r + 1)),
                         0x01000000u * (t + 1) + 0x100u * (r + 1) + 0x0C);
            }
        }
        QCOMPARE(readBoard(handle, board::kHold1), 0x04030201u);
        QCOMPARE(readBoard(handle, board::kHold2), 0x08070605u);
        QVERIFY(window_->statusMessage().contains("All eight"));
    }

    void genChannelsWritesTheHistogramFiles() {
        prepareRun(20, "2");
        click(w(), "START Acquire");
        QTRY_VERIFY_WITH_TIMEOUT(idle(), 60000);
        type(w(), "Samples to", "7");  // the FIFO layout has 8 samples
        click(w(), "Gen Channels");
        QTRY_VERIFY_WITH_TIMEOUT(byName<QPushButton>(w(), "Gen Channels")->isEnabled(), 60000);
        int spectra = 0;
        int lists = 0;
        for (const auto& entry : fs::directory_iterator(dir_->path())) {
            std::string name = entry.path().filename().string();
            if (name.rfind("daqclr_1_", 0) == 0) {
                spectra += entry.path().extension() == ".spe";
                lists += entry.path().extension() == ".txt";
            }
        }
        QCOMPARE(spectra, 32);
        QCOMPARE(lists, 32);
        QCOMPARE(window_->statusMessage(), QStringLiteral("Histograms written."));
    }

    void settingsSurviveARestartOfTheWindow() {
        check(w(), "ADC Rev1", true);
        check(w(), "TA DAQ Enable 2", true);
        type(w(), "Cycle", "77");
        type(w(), "Offset ADC", "40000");
        type(w(), "Base Address (hex)", "  1A00");
        type(w(), "Filename clr", "/data/bench/daqclr.bin");
        type(w(), "Samples from", "2");
        type(w(), "Samples to", "6");
        QVERIFY(window_->readFields());
        window_->baseLineDialog().baseLine = {1, 2, 3, 4, 5, 6, 7, 8};
        closeWindow();

        openWindow();
        QCOMPARE(byName<QCheckBox>(w(), "ADC Rev1")->isChecked(), true);
        QCOMPARE(byName<QCheckBox>(w(), "TA DAQ Enable 2")->isChecked(), true);
        QCOMPARE(byName<QCheckBox>(w(), "TA DAQ Enable 1")->isChecked(), false);
        QCOMPARE(byName<QLineEdit>(w(), "Cycle")->text(), QStringLiteral("77"));
        QCOMPARE(byName<QLineEdit>(w(), "Offset ADC")->text(), QStringLiteral("40000"));
        QCOMPARE(byName<QLineEdit>(w(), "Base Address (hex)")->text(), QStringLiteral("00001A00"));
        QCOMPARE(byName<QLineEdit>(w(), "Filename clr")->text(),
                 QStringLiteral("/data/bench/daqclr.bin"));
        QCOMPARE(byName<QLineEdit>(w(), "Samples from")->text(), QStringLiteral("2"));
        QCOMPARE(byName<QLineEdit>(w(), "Samples to")->text(), QStringLiteral("6"));
        QCOMPARE(window_->baseLineDialog().baseLine,
                 (std::array<uint32_t, 8>{1, 2, 3, 4, 5, 6, 7, 8}));
        QCOMPARE(window_->state().settings.baseAddress, 0x1A00u);
    }

    void startWithoutACrateSaysWhatToDo() {
        closeWindow();
        crate_.reset();  // no crate at all: the window still opens
        openWindow();
        QCOMPARE(window_->state().vmeHandle, -1);
        // What the I2C window says of its missing adapter is its own affair.
        messages_->texts.clear();
        click(w(), "START Acquire");
        expectedMessages_ << "Fatal: Initialization FAIL\nPress VME Reset to initilize";
        QCOMPARE(messages_->texts, expectedMessages_);
        QCOMPARE(byName<QLineEdit>(w(), "Last Error")->text(), QStringLiteral("-2"));
        QVERIFY(idle());
    }

    void dialogsRefuseOutOfRangeValuesAndCancelKeepsTheOldOnes() {
        // Base lines: 4096 is refused and the dialog stays; Cancel after typing keeps the old.
        window_->baseLineDialog().baseLine = {7, 7, 7, 7, 7, 7, 7, 7};
        QAction* baseLines = menuAction(w(), "Base Lines");
        bool stayed = false;
        QTimer::singleShot(0, this, [&] {
            CBaseLineDlg& d = window_->baseLineDialog();
            type(&d, "Base Line 0", "4096");
            click(&d, "OK");
            QTRY_VERIFY(!messages_->texts.isEmpty());
            stayed = d.isVisible();
            type(&d, "Base Line 0", "100");
            click(&d, "Cancel");
        });
        baseLines->trigger();
        expectedMessages_ << "Base Line 0: enter an integer between 0 and 4095.";
        QVERIFY(stayed);
        QCOMPARE(window_->baseLineDialog().baseLine[0], 7u);
        // OK stores them at once, before any exit.
        QTimer::singleShot(0, this, [&] {
            type(&window_->baseLineDialog(), "Base Line 3", "4095");
            click(&window_->baseLineDialog(), "OK");
        });
        baseLines->trigger();
        SettingsStore saved(store_->path());
        saved.load();
        QCOMPARE(readStartupSettings(saved).baseLine[3], 4095u);

        // Hold: 5101 ns is refused before anything is written; 45 ns becomes code 2 (40 ns).
        const int32_t handle = window_->state().vmeHandle;
        const uint32_t hold1 = readBoard(handle, board::kHold1);
        QTimer::singleShot(0, this, [&] {
            CHoldConfig& d = window_->holdDialog();
            type(&d, "CH0", "5101");
            click(&d, "Write");
            type(&d, "CH0", "45");
            type(&d, "CH1", "5100");
            click(&d, "Close");
        });
        menuAction(w(), "Hold Setting")->trigger();
        expectedMessages_ << "CH0: enter an integer between 0 and 5100.";
        QCOMPARE(readBoard(handle, board::kHold1), hold1);
        QCOMPARE(readHoldCodes(*store_)[0], 2);
        QCOMPARE(readHoldCodes(*store_)[1], 255);
        // What a setting file loaded gives way to the stored codes when the dialog opens.
        window_->holdDialog().holdCode = {9, 9, 9, 9, 9, 9, 9, 9};
        QString shown;
        QTimer::singleShot(0, this, [&] {
            shown = byName<QLineEdit>(&window_->holdDialog(), "CH0")->text();
            window_->holdDialog().reject();
        });
        menuAction(w(), "Hold Setting")->trigger();
        QCOMPARE(shown, QStringLiteral("40"));

        // TA: a DAC offset of 8 is refused and nothing reaches the board.
        check(w(), "ADC Rev1", true);
        const uint32_t reg2 = readBoard(handle, board::taRegister(0, 2));
        QTimer::singleShot(0, this, [&] {
            CTAConfig& d = window_->taDialog(0);
            type(&d, "DAC Offset 4", "8");
            click(&d, "Write");
            d.reject();
        });
        menuAction(w(), "TA 1 Setting")->trigger();
        expectedMessages_ << "DAC Offset 4: enter an integer between 0 and 7.";
        QCOMPARE(readBoard(handle, board::taRegister(0, 2)), reg2);
        QCOMPARE(window_->taDialog(0).config.dacOffset(4), 0u);
        QCOMPARE(messages_->texts, expectedMessages_);
    }

    // "Sequence Test Auto" with the crate's generator chosen after "Refr.", a two-section command
    // file and the name DUT_; returns the generator's resource name.
    std::string prepareAutoSequence() {
        prepareRun(4, "3");
        auto* kind = byName<QComboBox>(w(), "Acquisition Type");
        auto* items = qobject_cast<QStandardItemModel*>(kind->model());
        VERIFY_OR_EMPTY(items->item(5)->isEnabled());
        VERIFY_OR_EMPTY(items->item(6)->isEnabled());
        kind->setCurrentIndex(6);
        emit kind->activated(6);
        auto* resources = byName<QComboBox>(w(), "Visa Resource");
        VERIFY_OR_EMPTY(resources->isVisible());
        VERIFY_OR_EMPTY(resources->isEnabled());
        click(w(), "Refr.");
        std::string generator = readText(crate_->dir() + "/generator-resource");
        generator.erase(generator.find_last_not_of("\r\n") + 1);
        const int index = resources->findText(QString::fromStdString(generator));
        VERIFY_OR_EMPTY(index >= 0);
        resources->setCurrentIndex(index);
        std::ofstream(dir_->file("seq.txt"))
            << "[Generator]\n*RST\nVOLT 0.5\nOUTP ON\n[Avg]\nMeasure = Average\n";
        type(w(), "Command File", QString::fromStdString(dir_->file("seq.txt")));
        type(w(), "Name", "DUT_");
        return generator;
    }

    void sequenceTestAutoRunsTheCommandFileAndWritesItsTable() {
        const std::string generator = prepareAutoSequence();
        QVERIFY(!generator.empty());
        // The workbook is there but no office is: the run goes on without its cells.
        std::ofstream(dir_->file("DUT_SequenceTest_8.xls")) << "";
        expectedMessages_ << "Server not found";

        // Any waveform file would land in the current folder.
        const fs::path home = fs::current_path();
        fs::current_path(dir_->path());
        click(w(), "START Acquire");
        QTRY_VERIFY_WITH_TIMEOUT(idle(), 240000);
        fs::current_path(home);
        QVERIFY(!window_->state().excelOpen);
        QVERIFY2(window_->statusMessage().startsWith("Sequence test ended"),
                 qPrintable(window_->statusMessage()));
        const std::string table = readText(dir_->file("DUT_SequenceTest_3.txt"));
        QCOMPARE(QString::fromStdString(table.substr(0, 18)),
                 QStringLiteral("CH\tGenerator\tAvg\r\n"));
        QCOMPARE(static_cast<int>(std::count(table.begin(), table.end(), '\n')), 33);
        QVERIFY(!fs::exists(dir_->file("DUT_SequenceTest_1.txt")));
        // The choices survive the window.
        closeWindow();
        openWindow();
        QCOMPARE(byName<QComboBox>(w(), "Visa Resource")->currentText(),
                 QString::fromStdString(generator));
    }

    void sequenceTestAutoWithoutItsWorkbookAsksAndRunsWithoutIt() {
        QVERIFY(!prepareAutoSequence().empty());
        const QString workbook = QString::fromStdString(dir_->file("DUT_SequenceTest_8.xls"));
        expectedMessages_ << "Excel file " + workbook + " not found";
        QStringList seen;
        QTimer chooser;
        chooser.setInterval(20);
        connect(&chooser, &QTimer::timeout, this, [&] {
            if (auto* d = qobject_cast<QFileDialog*>(QApplication::activeModalWidget())) {
                seen << d->selectedFiles() << d->nameFilters() << d->defaultSuffix();
                d->reject();
            }
        });
        chooser.start();
        const fs::path home = fs::current_path();
        fs::current_path(dir_->path());
        click(w(), "START Acquire");
        QTRY_VERIFY_WITH_TIMEOUT(idle(), 240000);
        fs::current_path(home);
        QCOMPARE(seen, (QStringList{workbook, "Excel File (*.xls)", "All File (*)", "xls"}));
        QVERIFY(!window_->state().excelOpen);
        QVERIFY(fs::exists(dir_->file("DUT_SequenceTest_3.txt")));
    }

    void crateDyingMidRunLeavesTheWindowResponsive() {
        prepareRun(100000000, "1");
        click(w(), "START Acquire");
        QTRY_VERIFY_WITH_TIMEOUT(window_->state().progress.cyclesDone.load() > 20, 60000);
        crate_->stop();  // the crate goes away in the middle of the run
        QTRY_VERIFY_WITH_TIMEOUT(byName<QLineEdit>(w(), "Last Error")->text() != "0", 60000);
        QVERIFY(byName<QLineEdit>(w(), "Last Error")->text().toInt() < 0);
        // The window still answers: its timers tick and its own commands go through once any
        // box about the lost crate has been answered.
        QTRY_VERIFY_WITH_TIMEOUT(QApplication::activeModalWidget() == nullptr, 60000);
        bool fired = false;
        QTimer::singleShot(10, this, [&] { fired = true; });
        QTRY_VERIFY_WITH_TIMEOUT(fired, 60000);
        if (!idle()) {
            click(w(), "Stop Acquire");
        }
        QTRY_VERIFY_WITH_TIMEOUT(idle(), 60000);
        qInfo("messages: %s", qPrintable(messages_->texts.join(" | ")));
        expectedMessages_ = messages_->texts;
        click(w(), "Clear Error");
        QCOMPARE(byName<QLineEdit>(w(), "Last Error")->text(), QStringLiteral("0"));
    }
};

int main(int argc, char** argv) {
    setenv("QT_QPA_PLATFORM", "offscreen", 0);
    setenv("TARVO_I2C_ADAPTER", "sim", 1);  // the crate's I2C chips, without asking
    setenv("TARVO_OFFICE_PROGRAM_DIR", "/nonexistent/office/program", 1);  // no office starts
    QApplication app(argc, argv);
    WindowTest test;
    return QTest::qExec(&test, argc, argv);
}

#include "WindowTest.moc"
