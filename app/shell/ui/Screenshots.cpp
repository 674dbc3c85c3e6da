#include "shell/ui/Screenshots.h"

#include <QApplication>
#include <QDialog>
#include <QDir>
#include <QElapsedTimer>
#include <QPixmap>
#include <QTemporaryDir>
#include <QThread>
#include <cstdio>

#include "acquisition/ui/CTarvoDlg.h"
#include "board/ui/CHoldConfig.h"
#include "board/ui/CTAConfig.h"
#include "shell/ui/CAboutDlg.h"
#include "shell/ui/CBaseLineDlg.h"
#include "shell/ui/CProgressDlg.h"

namespace tarvo {
namespace {

void settle(int ms = 100) {
    QElapsedTimer t;
    t.start();
    while (t.elapsed() < ms) {
        QApplication::processEvents(QEventLoop::AllEvents, 20);
        QThread::msleep(5);
    }
}

bool save(QWidget& widget, const QString& folder, const QString& name) {
    settle();
    QString path = QDir(folder).filePath(name);
    bool ok = widget.grab().save(path, "PNG");
    std::fprintf(stderr, "%s %s\n", ok ? "wrote" : "could not write", qPrintable(path));
    return ok;
}

bool dialogShot(QDialog& dialog, const QString& folder, const QString& name) {
    dialog.show();
    bool ok = save(dialog, folder, name);
    dialog.hide();
    return ok;
}

}  // namespace

int renderScreenshots(CTarvoDlg& window, const QString& folder) {
    QDir().mkpath(folder);
    int failed = 0;
    window.resize(1180, 760);
    window.show();
    failed += !save(window, folder, QStringLiteral("main-idle.png"));

    // A run like the bench's: FIFO layout, all eight sections, into a folder of its own.
    const PersistedSettings kept = window.persistedSettings();
    QTemporaryDir data;
    RunState& state = window.state();
    state.settings.adcRev1 = true;
    state.settings.acquisitionType = 0;
    state.settings.cycleCount = 2000;
    state.settings.taDaqEnable.fill(true);
    state.settings.filenameClr =
        QDir(data.path()).filePath(QStringLiteral("daqclr.bin")).toStdString();
    window.writeFields();
    window.onStart();
    if (window.running()) {
        // Wait for half the run, then draw the picture the display timer would draw next.
        QElapsedTimer t;
        t.start();
        while (window.running() && state.progress.cyclesDone.load() < 1000 && t.elapsed() < 60000) {
            QApplication::processEvents(QEventLoop::AllEvents, 20);
        }
        while (window.running() && !state.events.DisplayReadyEvent.isSet() && t.elapsed() < 60000) {
            QApplication::processEvents(QEventLoop::AllEvents, 20);
        }
        window.onDisplayTimer();
        window.onRunTimer();
        failed += !save(window, folder, QStringLiteral("main-run.png"));
        while (window.running() && t.elapsed() < 120000) {
            QApplication::processEvents(QEventLoop::AllEvents, 50);
        }
        failed += !save(window, folder, QStringLiteral("main-run-done.png"));
    } else {
        std::fprintf(stderr, "no run: is a crate reachable through KOVRAVME_SIM_DIR?\n");
        ++failed;
    }

    // The eight TA dialogs share one layout.
    window.taDialog(0).prepare();
    failed += !dialogShot(window.taDialog(0), folder, QStringLiteral("ta-setting.png"));
    window.holdDialog().prepare();
    failed += !dialogShot(window.holdDialog(), folder, QStringLiteral("hold.png"));
    window.baseLineDialog().prepare();
    failed += !dialogShot(window.baseLineDialog(), folder, QStringLiteral("baselines.png"));
    CAboutDlg about(&window);
    failed += !dialogShot(about, folder, QStringLiteral("about.png"));
    {
        // The web update's progress window as a download shows it half-way.
        auto* progress = new CProgressDlg(&window);
        progress->setRange(0, 1000);
        progress->setPosition(500);
        progress->setText("Updating /opt/nimbra/Pivvet");
        progress->show();
        failed += !save(*progress, folder, QStringLiteral("progress.png"));
        progress->close();
    }

    // The operator's own fields come back before the window closes and writes them.
    state.settings.adcRev1 = kept.revision != 0;
    state.settings.cycleCount = kept.cycle;
    for (int i = 0; i < 8; ++i) {
        state.settings.taDaqEnable[i] = kept.enTa[i] != 0;
    }
    state.settings.filenameClr = kept.fileNameClr;
    state.settings.acquisitionType = 0;
    window.writeFields();
    return failed;
}

}  // namespace tarvo
