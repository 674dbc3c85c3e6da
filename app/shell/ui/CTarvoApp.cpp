#include "shell/ui/CTarvoApp.h"

#include <QApplication>
#include <QMessageBox>
#include <QPushButton>
#include <QTimer>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "acquisition/ui/CTarvoDlg.h"
#include "shell/PersistedSettings.h"
#include "shell/SettingsStore.h"
#include "shell/ShellUtilities.h"
#include "shell/ui/Screenshots.h"

namespace tarvo {

int CTarvoApp::run(int argc, char** argv) {
    std::string screenshots;
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--version") == 0) {
            const ProgramVersion v = GetOwnVersion();
            std::printf("Nimbra DAQ, Version %d.%d.%d.%d\n", v.major, v.minor, v.build, v.revision);
            return 0;
        }
        if (std::strcmp(argv[i], "--help") == 0) {
            std::printf("usage: tarvo [--version] [--screenshots DIR]\n");
            return 0;
        }
        if (std::strcmp(argv[i], "--screenshots") == 0 && i + 1 < argc) {
            screenshots = argv[++i];
        }
    }
    if (!screenshots.empty()) {
        // The pictures need no display.
        setenv("QT_QPA_PLATFORM", "offscreen", 1);
    }
    QApplication app(argc, argv);
    QApplication::setOrganizationName(QStringLiteral("Ulmora"));
    QApplication::setApplicationName(QStringLiteral("Tarvo"));

    SettingsStore store;
    store.load();
    int status = 0;
    QTimer answerer;
    if (!screenshots.empty()) {
        // Nobody sits at an offscreen window: boxes are answered Yes/OK and told on stderr.
        QObject::connect(&answerer, &QTimer::timeout, [] {
            auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
            if (box == nullptr) {
                return;
            }
            std::fprintf(stderr, "message: %s\n", qPrintable(box->text()));
            QAbstractButton* yes = box->button(QMessageBox::Yes);
            QAbstractButton* ok = box->button(QMessageBox::Ok);
            if (yes != nullptr || ok != nullptr) {
                (yes != nullptr ? yes : ok)->click();
            } else {
                box->accept();
            }
        });
        answerer.start(50);
    }
    {
        CTarvoDlg window(store);
        window.loadSettings(readStartupSettings(store));
        window.initialize();
        if (!screenshots.empty()) {
            status =
                renderScreenshots(window, QString::fromLocal8Bit(screenshots.c_str())) == 0 ? 0 : 1;
            window.close();
        } else {
            window.exec();
        }
        writeExitSettings(store, window.persistedSettings());
    }
    return status;
}

}  // namespace tarvo
