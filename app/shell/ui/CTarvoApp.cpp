#include "shell/ui/CTarvoApp.h"

#include <QApplication>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "acquisition/ui/CTarvoDlg.h"
#include "shell/PersistedSettings.h"
#include "shell/ProgramVersion.h"
#include "shell/SettingsStore.h"
#include "shell/ui/Screenshots.h"

namespace tarvo {

int CTarvoApp::run(int argc, char** argv) {
    std::string screenshots;
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--version") == 0) {
            std::printf("%s\n", programVersionText().c_str());
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
