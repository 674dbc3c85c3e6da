// The I2C window and the temperature graph, offscreen, against vmecrate-sim --i2c as a separate
// process. Controls are found by their accessible names.
#include <gtest/gtest.h>
#include <stdlib.h>

#include <qcustomplot.h>
#include <QApplication>
#include <QCheckBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QSlider>
#include <QTest>
#include <QTimer>
#include <fstream>
#include <future>
#include <sstream>

#include "CAdcDacDlg.h"
#include "CTemperatureGraphDlg.h"
#include "ThermometerWidget.h"
#include "shell/Operator.h"
#include "support/SimProcess.h"

namespace {

using namespace tarvo;
using nimbra::test::SimProcess;

template <class W>
W* named(QWidget* root, const QString& name, int index = 0) {
    for (W* w : root->findChildren<W*>()) {
        if (w->accessibleName() == name && index-- == 0) {
            return w;
        }
    }
    ADD_FAILURE() << "no control named " << name.toStdString();
    return nullptr;
}

std::vector<std::string> i2cLines(const SimProcess& sim) {
    std::vector<std::string> lines;
    for (const auto& line : sim.traceLines()) {
        if (line.rfind("I2C ", 0) == 0) {
            lines.push_back(line);
        }
    }
    return lines;
}

std::string readFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

class AdcDacDlgTest : public ::testing::Test {
  protected:
    void SetUp() override { setenv("TARVO_I2C_ADAPTER", "sim", 1); }
    void TearDown() override { unsetenv("TARVO_I2C_ADAPTER"); }

    // Runs one reading cycle through the window's own timer.
    void tick(CAdcDacDlg& dlg) {
        uint32_t before = dlg.controls().history().size();
        QTimer* timer = dlg.findChild<QTimer*>();
        ASSERT_NE(timer, nullptr);
        timer->start(0);
        ASSERT_TRUE(QTest::qWaitFor([&] { return dlg.controls().history().size() > before; }));
    }

    SimProcess sim{{{"--i2c", "--temp", "31.5,31.5,31.5,31.5,31.5,31.5,31.5,45"}}};
    ScriptedOperator op;
};

TEST_F(AdcDacDlgTest, OpensHiddenWritesTheThresholdsAndStartsReading) {
    CAdcDacDlg dlg(nullptr, op);
    EXPECT_FALSE(dlg.isVisible());
    EXPECT_TRUE(op.entries().empty());
    EXPECT_EQ(named<QLabel>(&dlg, "Status")->text(), "Virtual crate I2C");
    EXPECT_EQ(i2cLines(sim),
              (std::vector<std::string>{"I2C W 9a168000", "I2C W 9a148000", "I2C W 9a128000",
                                        "I2C W 9a108000", "I2C W 98168000", "I2C W 98148000",
                                        "I2C W 98128000", "I2C W 98108000"}));
    EXPECT_TRUE(dlg.readingTimerActive());
    EXPECT_TRUE(named<QCheckBox>(&dlg, "Enable Read Temperature")->isChecked());
    EXPECT_TRUE(named<QCheckBox>(&dlg, "En", 7)->isEnabled());
    EXPECT_EQ(named<QLineEdit>(&dlg, "Temperature Threshold")->text(), "50.0");

    dlg.toggleShown();
    EXPECT_TRUE(dlg.isVisible());
    dlg.close();  // the close box only hides
    EXPECT_FALSE(dlg.isVisible());
    dlg.toggleShown();
    QTest::keyClick(&dlg, Qt::Key_Escape);
    EXPECT_TRUE(dlg.isVisible());
    dlg.toggleShown();
    EXPECT_FALSE(dlg.isVisible());
}

TEST_F(AdcDacDlgTest, ReadingCycleFillsThermometersVadcAndGraph) {
    CAdcDacDlg dlg(nullptr, op);
    named<QLineEdit>(&dlg, "Temperature Threshold")->setText("40");
    emit named<QLineEdit>(&dlg, "Temperature Threshold")->editingFinished();
    named<QCheckBox>(&dlg, "En", 7)->setChecked(true);
    sim.clearTrace();
    tick(dlg);
    EXPECT_EQ(i2cLines(sim).size(), 16u);
    for (int ch = 0; ch < 7; ++ch) {
        auto* t = named<ThermometerWidget>(&dlg, QString("VATA%1").arg(ch));
        EXPECT_NEAR(t->value(), 31.5, 0.15) << ch;
        EXPECT_EQ(t->pointerColor(), QColor(0, 255, 0)) << ch;
    }
    auto* hot = named<ThermometerWidget>(&dlg, "VATA7");
    EXPECT_NEAR(hot->value(), 45.0, 0.15);
    EXPECT_EQ(hot->pointerColor(), QColor(255, 0, 0));
    EXPECT_EQ(op.texts("warning"), std::vector<std::string>{"Hight Temperature CH=7"});
    EXPECT_EQ(named<QLabel>(&dlg, "VADC")->text().toUInt(), dlg.controls().vadc);
    EXPECT_TRUE(dlg.readingTimerActive());
    EXPECT_EQ(dlg.graph().plot()->graphCount(), 8);
    EXPECT_EQ(dlg.graph().axisMaximum(), 2.0);

    // Alt. Sens. changes channel 1's formula from the next cycle on.
    named<QCheckBox>(&dlg, "Alt. Sens.")->setChecked(true);
    tick(dlg);
    EXPECT_LT(named<ThermometerWidget>(&dlg, "VATA1")->value(), 0.0);

    // Clearing "Enable Read Temperature" lets the pending tick be the last.
    named<QCheckBox>(&dlg, "Enable Read Temperature")->setChecked(false);
    EXPECT_FALSE(named<QCheckBox>(&dlg, "En", 0)->isEnabled());
    tick(dlg);
    EXPECT_FALSE(dlg.readingTimerActive());
}

TEST_F(AdcDacDlgTest, SliderEditAndRequestsWriteTheDac) {
    CAdcDacDlg dlg(nullptr, op);
    sim.clearTrace();
    named<QSlider>(&dlg, "Thr5")->setValue(10000);  // 1.0 V
    EXPECT_EQ(named<QLineEdit>(&dlg, "Thr5 volts")->text(), "1.0000");
    EXPECT_EQ(i2cLines(sim), std::vector<std::string>{"I2C W 9814b333"});

    sim.clearTrace();
    auto* edit = named<QLineEdit>(&dlg, "Thr0 volts");
    edit->setText("2.6");
    emit edit->editingFinished();
    EXPECT_EQ(op.texts("error"),
              std::vector<std::string>{"Please enter a number between -2.5 and 2.5."});
    EXPECT_EQ(edit->text(), "0.0000");
    EXPECT_TRUE(i2cLines(sim).empty());
    edit->setText("2.5");
    emit edit->editingFinished();
    EXPECT_EQ(i2cLines(sim), std::vector<std::string>{"I2C W 9a16ffff"});

    // A request from another thread returns once its DAC write is in the crate's trace.
    sim.clearTrace();
    auto done = std::async(std::launch::async, [&] { return dlg.setThreshold(6, 2.499); });
    ASSERT_TRUE(QTest::qWaitFor(
        [&] { return done.wait_for(std::chrono::seconds(0)) == std::future_status::ready; }));
    EXPECT_TRUE(done.get());
    EXPECT_EQ(i2cLines(sim), std::vector<std::string>{"I2C W 9812fff2"});
    EXPECT_EQ(named<QSlider>(&dlg, "Thr6")->value(), 24990);
    // The same value again is written again; bad requests never reach the bus.
    EXPECT_TRUE(dlg.setThreshold(6, 2.499));
    EXPECT_FALSE(dlg.setThreshold(8, 0.0));
    EXPECT_FALSE(dlg.setThreshold(0, -2.6));
    EXPECT_EQ(i2cLines(sim).size(), 2u);
}

TEST_F(AdcDacDlgTest, NoAdapter) {
    setenv("TARVO_I2C_ADAPTER", "no such adapter", 1);
    CAdcDacDlg dlg(nullptr, op);
    EXPECT_EQ(op.texts("error"), std::vector<std::string>{"USB<->I2C Bus not Found"});
    EXPECT_FALSE(named<QCheckBox>(&dlg, "Enable Read Temperature")->isChecked());
    EXPECT_FALSE(named<QCheckBox>(&dlg, "En", 0)->isEnabled());
    EXPECT_FALSE(dlg.readingTimerActive());
    EXPECT_TRUE(i2cLines(sim).empty());
    EXPECT_FALSE(dlg.setThreshold(0, 1.0));
}

TEST_F(AdcDacDlgTest, GraphWindowCursorAndFile) {
    CAdcDacDlg dlg(nullptr, op);
    auto* graphBox = named<QCheckBox>(&dlg, "Graph");
    graphBox->setChecked(true);
    EXPECT_TRUE(dlg.graph().isVisible());
    dlg.graph().close();  // hides without clearing the box
    EXPECT_FALSE(dlg.graph().isVisible());
    EXPECT_TRUE(graphBox->isChecked());
    graphBox->setChecked(false);
    graphBox->setChecked(true);
    EXPECT_TRUE(dlg.graph().isVisible());

    tick(dlg);
    tick(dlg);
    tick(dlg);
    EXPECT_EQ(dlg.graph().axisMaximum(), 6.0);
    CTemperatureGraphDlg& graph = dlg.graph();
    graph.moveCursor(100, 20);
    named<QCheckBox>(&graph, "Cursor")->setChecked(true);
    EXPECT_EQ(graph.cursorX(), 3.0);  // beyond the axis: moved to half of it
    EXPECT_EQ(named<QLabel>(&graph, "Readout")->text(), "X=3 Y=20.0");
    graph.moveCursor(1.4, 31.46);
    EXPECT_EQ(named<QLabel>(&graph, "Readout")->text(), "X=1 Y=31.5");
    named<QCheckBox>(&graph, "Cursor")->setChecked(false);
    EXPECT_TRUE(named<QLabel>(&graph, "Readout")->text().isEmpty());

    nimbra::test::TempDir dir;
    op.queuePath(dir.file("graph.txt"));
    named<QPushButton>(&dlg, "Save Graph")->click();
    std::string text = readFile(dir.file("graph.txt"));
    EXPECT_EQ(text.rfind("VATA1\tVATA2\tVATA3\tVATA4\tVATA5\tVATA6\tVATA7\tVATA8\r\n", 0), 0u);
    EXPECT_EQ(std::count(text.begin(), text.end(), '\n'), 4);
    op.queuePath(dir.file("missing/graph.txt"));
    named<QPushButton>(&dlg, "Save Graph")->click();
    EXPECT_EQ(op.texts("error"),
              std::vector<std::string>{"Open file " + dir.file("missing/graph.txt") + " ERROR"});
    op.queuePath(std::nullopt);  // cancelled: nothing written, nothing shown
    named<QPushButton>(&dlg, "Save Graph")->click();
    EXPECT_EQ(op.texts("error").size(), 1u);

    // Pictures of both windows for the README when asked for.
    if (const char* shots = std::getenv("NIMBRA_SCREENSHOTS")) {
        auto* limit = named<QLineEdit>(&dlg, "Temperature Threshold");
        limit->setText("40");
        emit limit->editingFinished();
        named<QCheckBox>(&dlg, "En", 7)->setChecked(true);
        tick(dlg);
        named<QCheckBox>(&graph, "Cursor")->setChecked(true);
        graph.moveCursor(1, 31.5);
        dlg.show();
        dlg.resize(dlg.sizeHint());
        graph.resize(720, 420);
        QApplication::processEvents();
        EXPECT_TRUE(dlg.grab().save(QString(shots) + "/i2c-controls.png"));
        EXPECT_TRUE(graph.grab().save(QString(shots) + "/temperature-graph.png"));
    }
}

}  // namespace

int main(int argc, char** argv) {
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) {
        qputenv("QT_QPA_PLATFORM", "offscreen");
    }
    QApplication app(argc, argv);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
