// Renders the utility's window to PNG files without a display: the window
// after start-up, after a two-sided bilevel batch and after a gray batch on
// the virtual scanner, and the message box of a jam. Run on Qt's offscreen
// platform by scripts/screenshots.sh.
//
//   orvo_viewer_screenshots OUTPUT_DIR
//
// Message boxes are saved as message-N.png and answered with OK.
#include <unistd.h>

#include <QApplication>
#include <QDir>
#include <QFile>
#include <QLineEdit>
#include <QMessageBox>
#include <QTemporaryDir>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "controls.h"
#include "driver_calls.h"
#include "main_dialog.h"
#include "message_seam.h"
#include "orvo/scanrun/exported_driver.h"
#include "orvo/sim/scanner.h"
#include "orvo/sim/scenario.h"

namespace {

using namespace orvo::viewer;

QString g_outDir;
QStringList g_written;
int g_boxes = 0;

bool Save(QWidget* widget, const QString& name) {
    const QString path = g_outDir + QLatin1Char('/') + name;
    if (!widget->grab().save(path)) {
        std::fprintf(stderr, "screenshots: cannot write %s\n", qPrintable(path));
        return false;
    }
    g_written << path;
    return true;
}

// Message boxes are drawn off screen and saved, then answered with OK.
Answer RenderBox(QWidget* parent, const Message& message) {
    QMessageBox box(
        message.icon == MessageIcon::Stop ? QMessageBox::Critical : QMessageBox::Warning,
        message.caption, message.text,
        message.buttons == MessageButtons::OkCancel ? QMessageBox::Ok | QMessageBox::Cancel
                                                    : QMessageBox::Ok,
        parent);
    box.setTextFormat(Qt::PlainText);
    box.show();
    QApplication::processEvents();
    Save(&box, QStringLiteral("message-%1.png").arg(++g_boxes));
    std::fprintf(stderr, "screenshots: message box: %s\n",
                 qPrintable(QString(message.text).replace(QLatin1Char('\n'), QLatin1Char(' '))));
    return Answer::Ok;
}

std::string Copy(const std::string& from, const std::string& to) {
    QFile::remove(QString::fromStdString(to));
    QFile::copy(QString::fromStdString(from), QString::fromStdString(to));
    return to;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fputs("usage: orvo_viewer_screenshots OUTPUT_DIR\n", stderr);
        return 2;
    }
    setenv("ORVOSCAN_ASPI", "sim", 1);
    // A private system directory: the build's driver, code tables and
    // settings, with a gray profile added.
    QTemporaryDir system;
    const std::string buildDir = ORVO_BUILD_SYSTEM_DIR "/";
    const std::string sysDir = system.path().toStdString() + "/";
    for (const char* file : {"libK4TR.so", "huffmanw.dat", "huffmanb.dat", "huffmang.dat"}) {
        if (symlink((buildDir + file).c_str(), (sysDir + file).c_str()) != 0) {
            std::fprintf(stderr, "screenshots: cannot link %s\n", file);
            return 1;
        }
    }
    Copy(buildDir + "OrvoScan.ini", sysDir + "OrvoScan.ini");
    {
        QFile ini(QString::fromStdString(sysDir + "OrvoScan.ini"));
        ini.open(QIODevice::Append);
        ini.write(
            "\n[Gray]\nSide=1\nScanWidth=1728\nResolution=0\nScanMode1=4\nCompressMode=0\n"
            "ScanLines1=800\n");
    }
    setenv("ORVOSCAN_SYSTEM_DIR", sysDir.c_str(), 1);
    setenv("ORVOSCAN_TRACE_DIR", sysDir.c_str(), 1);

    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("orvo_viewer"));
    QFont font = QApplication::font();
    font.setFamilies({QStringLiteral("NanumGothic"), font.family()});
    QApplication::setFont(font);
    g_outDir = QDir(QString::fromLocal8Bit(argv[1])).absolutePath();
    const QString pages = g_outDir + QStringLiteral("/pages");
    QDir().mkpath(pages);
    for (const QString& old : QDir(pages).entryList(QDir::Files)) QDir(pages).remove(old);

    SetMessageHandler(&RenderBox);
    SetSavePathHandler([&pages](QWidget*, const SaveRequest&) { return pages + "/A.tif"; });
    const std::string scenarios = ORVO_SCENARIO_DIR "/";

    orvo::scanrun::ExportedDriver scanDriver;
    MainDialog dialog(LinkedDriverCalls(), scanDriver);
    orvo::sim::TheScanner().SetScenario(orvo::sim::LoadScenarioFile(scenarios + "fast.json"));
    dialog.InitDialog();
    dialog.resize(1100, 780);
    dialog.show();
    QApplication::processEvents();
    bool ok = Save(&dialog, QStringLiteral("01-start.png"));

    dialog.OnSave();
    dialog.values().profileText = QStringLiteral("Check");
    dialog.RefreshDialog();
    dialog.OnScan();
    QApplication::processEvents();
    ok = Save(&dialog, QStringLiteral("02-batch.png")) && ok;

    orvo::sim::Scenario gray = orvo::sim::LoadScenarioFile(scenarios + "two_sided_gray.json");
    gray.latency = orvo::sim::Latency{};
    gray.latency.commandMs = 0;
    gray.latency.blockMs = 0;
    gray.latency.documentIntervalMs = 0;
    orvo::sim::TheScanner().SetScenario(gray);
    dialog.values().profileText = QStringLiteral("Gray");
    dialog.RefreshDialog();
    dialog.OnScan();
    QApplication::processEvents();
    ok = Save(&dialog, QStringLiteral("03-gray-batch.png")) && ok;

    orvo::sim::TheScanner().SetScenario(
        orvo::sim::LoadScenarioFile(scenarios + "jam_at_document_3.json"));
    dialog.values().profileText = QStringLiteral("Check");
    dialog.RefreshDialog();
    dialog.OnScan();
    QApplication::processEvents();
    ok = Save(&dialog, QStringLiteral("04-after-jam.png")) && ok;

    // The message of a number field without an integer (Korean text).
    if (auto* interval = qobject_cast<QLineEdit*>(FindControl(&dialog, id::kSlideInterval))) {
        interval->clear();
        dialog.ReadDialog();
    }

    for (const QString& path : g_written) std::printf("%s\n", qPrintable(path));
    return ok ? 0 : 1;
}
