// orvo_viewer: the desktop scanning utility of the QXS-7100 (QV710) cheque
// scanner.
#include <unistd.h>

#include <QApplication>
#include <QDBusConnection>
#include <QFileInfo>
#include <QTimer>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>

#include "automation.h"
#include "main_dialog.h"
#include "orvo/scanrun/exported_driver.h"
#include "utility_font.h"

namespace {

constexpr char kUsage[] =
    "Usage: orvo_viewer [-Automation | -Embedding] [Qt options]\n"
    "\n"
    "The desktop scanning utility of the OrvoData QXS-7100 (QV710) cheque scanner:\n"
    "SAVE chooses where the pages go and in which format, SCAN scans a batch into\n"
    "numbered page files and micr.txt and shows the pages as they arrive.\n"
    "\n"
    "  -Automation, -Embedding   (also /Automation, /Embedding) started by an\n"
    "                            automation client over the D-Bus session bus\n"
    "  -h, --help                this text\n"
    "\n"
    "Environment: ORVOSCAN_ASPI=sim uses the virtual scanner; ORVOSCAN_SYSTEM_DIR\n"
    "names the directory of OrvoScan.ini and the code tables (default: the\n"
    "driver's own, /usr/lib/x86_64-linux-gnu/orvoscan when installed). Without a\n"
    "display, QT_QPA_PLATFORM=offscreen runs the window off screen. See\n"
    "orvo_viewer(1).\n";

bool IsAutomationSwitch(const char* arg) {
    if (arg[0] != '-' && arg[0] != '/') return false;
    return strcasecmp(arg + 1, "Automation") == 0 || strcasecmp(arg + 1, "Embedding") == 0;
}

// Whether the platform Qt will use can have windows: an X or Wayland display
// for the desktop platforms; the others (offscreen, ...) are left to Qt.
bool DisplayPossible(int argc, char** argv) {
    std::string platform;
    if (const char* env = std::getenv("QT_QPA_PLATFORM")) platform = env;
    for (int i = 1; i + 1 < argc; ++i) {
        if (std::strcmp(argv[i], "-platform") == 0) platform = argv[i + 1];
    }
    const bool desktop =
        platform.empty() || platform.rfind("xcb", 0) == 0 || platform.rfind("wayland", 0) == 0;
    if (!desktop) return true;
    const char* x = std::getenv("DISPLAY");
    const char* wayland = std::getenv("WAYLAND_DISPLAY");
    return (x && *x) || (wayland && *wayland);
}

// Qt ends the process when its window system cannot start; say why and end
// with a failure code instead of aborting.
void StartupMessageHandler(QtMsgType type, const QMessageLogContext&, const QString& text) {
    if (type == QtFatalMsg) {
        std::fprintf(stderr, "orvo_viewer: cannot start the window system: %s\n",
                     text.toLocal8Bit().constData());
        std::fflush(stderr);
        _exit(1);
    }
    std::fprintf(stderr, "%s\n", text.toLocal8Bit().constData());
}

}  // namespace

int main(int argc, char** argv) {
    bool automation = false;
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "-h") == 0 || std::strcmp(argv[i], "--help") == 0) {
            std::fputs(kUsage, stdout);
            return 0;
        }
        if (IsAutomationSwitch(argv[i])) automation = true;
    }
    // A page or record write past a file size limit fails and is reported.
    std::signal(SIGXFSZ, SIG_IGN);

    if (!DisplayPossible(argc, argv)) {
        std::fputs(
            "orvo_viewer: no display (neither DISPLAY nor WAYLAND_DISPLAY is set); "
            "run it in a desktop session, or with QT_QPA_PLATFORM=offscreen\n",
            stderr);
        return 1;
    }
    QtMessageHandler previous = qInstallMessageHandler(StartupMessageHandler);
    QApplication app(argc, argv);
    qInstallMessageHandler(previous);

    const QStringList args = QApplication::arguments();
    for (int i = 1; i < args.size(); ++i) {
        if (IsAutomationSwitch(args[i].toLocal8Bit().constData())) continue;
        std::fprintf(stderr, "orvo_viewer: unknown argument '%s'\n%s",
                     args[i].toLocal8Bit().constData(), kUsage);
        return 2;
    }

    QApplication::setApplicationName(QStringLiteral("orvo_viewer"));
    QApplication::setQuitOnLastWindowClosed(false);
    QApplication::setFont(orvo::viewer::UtilityFont(QApplication::font()));

    orvo::scanrun::ExportedDriver driver;
    orvo::viewer::MainDialog dialog(driver);

    std::unique_ptr<orvo::viewer::Automation> automationObject;
    if (automation) {
        automationObject =
            std::make_unique<orvo::viewer::Automation>(QDBusConnection::sessionBus());
        QString error;
        if (automationObject->Register(&error)) {
            QObject::connect(automationObject.get(), &orvo::viewer::Automation::holdChanged,
                             &dialog, &orvo::viewer::MainDialog::SetAutomationHold);
            // Started by the bus, the program ends with it (a bus that ends
            // leaves no client to serve).
            auto* busWatch = new QTimer(&app);
            QObject::connect(busWatch, &QTimer::timeout, &app, [] {
                if (QDBusConnection::sessionBus().isConnected()) return;
                std::fprintf(stderr, "orvo_viewer: the session bus has ended; ending too\n");
                QApplication::exit(0);
            });
            busWatch->start(1000);
        } else {
            std::fprintf(stderr, "orvo_viewer: running without automation: %s\n",
                         error.toLocal8Bit().constData());
            automationObject.reset();
        }
    } else {
        // Run from the build's own directory, the program tells the session
        // bus where it is; installed, the package's activation file does.
        const QString program = QApplication::applicationFilePath();
        const QString buildDir =
            QFileInfo(QStringLiteral(ORVO_VIEWER_BUILD_DIR)).canonicalFilePath();
        QString error;
        if (buildDir.isEmpty() || QFileInfo(program).canonicalPath() != buildDir) {
            orvo::viewer::RemoveActivationFile(program);
        } else if (!orvo::viewer::InstallActivationFile(program, &error)) {
            std::fprintf(stderr, "orvo_viewer: automation activation not installed: %s\n",
                         error.toLocal8Bit().constData());
        }
    }

    dialog.InitDialog();
    QObject::connect(&dialog, &QDialog::finished, &app, [] { QApplication::exit(0); });
    dialog.show();
    return QApplication::exec();
}
