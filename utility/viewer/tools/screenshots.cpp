// Renders the utility's window to PNG files without a display: the window
// after start-up, after a two-sided bilevel batch and after a gray batch on
// the virtual scanner, the message box of a jam (alone, and over the window
// whose batch it ended), a page zoomed into its MICR line next to a turned
// rear page, the question before a page file is deleted, a batch with image
// defects, and the driver's settings and QA dialogs opened with SETTING and
// QA. Run on Qt's offscreen platform by scripts/screenshots.sh.
//
//   orvo_viewer_screenshots OUTPUT_DIR
//
// Message boxes are saved as message-N.png (or the name asked for) and
// answered with OK (or the answer asked for).
#include <unistd.h>

#include <QApplication>
#include <QDialog>
#include <QDir>
#include <QEventLoop>
#include <QFile>
#include <QKeyEvent>
#include <QLineEdit>
#include <QMessageBox>
#include <QMouseEvent>
#include <QPainter>
#include <QPixmap>
#include <QTableWidget>
#include <QTemporaryDir>
#include <QTimer>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "controls.h"
#include "main_dialog.h"
#include "message_seam.h"
#include "orvo/scanrun/exported_driver.h"
#include "orvo/sim/scanner.h"
#include "orvo/sim/scenario.h"
#include "orvo/widgets/image_view.h"
#include "orvo/widgets/page_list.h"
#include "utility_font.h"

namespace {

using namespace orvo::viewer;

QString g_outDir;
QStringList g_written;
int g_boxes = 0;
QString g_nextBoxName;     // the next box's file name instead of message-N.png
QString g_nextOverWindow;  // also the next box over its window, under this name
Answer g_nextAnswer = Answer::Ok;

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
    const QMessageBox::Icon icon = message.icon == MessageIcon::Stop       ? QMessageBox::Critical
                                   : message.icon == MessageIcon::Question ? QMessageBox::Question
                                   : message.icon == MessageIcon::Information
                                       ? QMessageBox::Information
                                       : QMessageBox::Warning;
    QMessageBox box(icon, message.caption, message.text,
                    message.buttons == MessageButtons::OkCancel
                        ? QMessageBox::Ok | QMessageBox::Cancel
                        : QMessageBox::Ok,
                    parent);
    box.setTextFormat(Qt::PlainText);
    box.show();
    QApplication::processEvents();
    ++g_boxes;
    Save(&box,
         g_nextBoxName.isEmpty() ? QStringLiteral("message-%1.png").arg(g_boxes) : g_nextBoxName);
    if (!g_nextOverWindow.isEmpty() && parent) {
        // The box centred over the window, as the operator sees it.
        QPixmap screen = parent->window()->grab();
        const QPixmap shownBox = box.grab();
        QPainter painter(&screen);
        painter.drawPixmap((screen.width() - shownBox.width()) / 2,
                           (screen.height() - shownBox.height()) / 2, shownBox);
        painter.end();
        const QString path = g_outDir + QLatin1Char('/') + g_nextOverWindow;
        if (screen.save(path)) {
            g_written << path;
        } else {
            std::fprintf(stderr, "screenshots: cannot write %s\n", qPrintable(path));
        }
        g_nextOverWindow.clear();
    }
    std::fprintf(stderr, "screenshots: message box: %s\n",
                 qPrintable(QString(message.text).replace(QLatin1Char('\n'), QLatin1Char(' '))));
    g_nextBoxName.clear();
    const Answer answer = g_nextAnswer;
    g_nextAnswer = Answer::Ok;
    return answer;
}

// The operator's mouse on a view, in view coordinates.
void Mouse(orvo::widgets::ImageView* view, QEvent::Type type, QPoint at, Qt::MouseButtons held) {
    QWidget* viewport = view->viewport();
    QMouseEvent event(type, at, viewport->mapToGlobal(at), Qt::LeftButton, held, Qt::NoModifier);
    QApplication::sendEvent(viewport, &event);
}

void Click(orvo::widgets::ImageView* view, QPoint at) {
    Mouse(view, QEvent::MouseButtonPress, at, Qt::LeftButton);
    Mouse(view, QEvent::MouseButtonRelease, at, Qt::NoButton);
}

// Saves the driver's dialog ("Scanner Setup - ...", "Scanner QA") once it is
// open over the window, then closes it as Escape does (Cancel: nothing new is
// stored or sent). Any other modal window in the way is closed and named.
void SaveDriverDialog(const QString& name, bool* ok, int tries = 0) {
    QTimer::singleShot(tries == 0 ? 0 : 10, [name, ok, tries] {
        auto* dialog = qobject_cast<QDialog*>(QApplication::activeModalWidget());
        if (dialog && dialog->windowTitle().startsWith(QLatin1String("Scanner "))) {
            *ok = Save(dialog, name) && *ok;
            dialog->reject();
            return;
        }
        if (dialog) {
            std::fprintf(stderr, "screenshots: closing \"%s\" before %s\n",
                         qPrintable(dialog->windowTitle()), qPrintable(name));
            dialog->reject();
        }
        if (tries > 500) {
            std::fprintf(stderr, "screenshots: no driver dialog for %s\n", qPrintable(name));
            *ok = false;
            return;
        }
        SaveDriverDialog(name, ok, tries + 1);
    });
}

// SCAN, and the event loop until the batch has ended (the driver's calls run
// on a thread of their own).
void Scan(MainDialog* dialog) {
    QEventLoop loop;
    QObject::connect(dialog, &MainDialog::batchEnded, &loop, &QEventLoop::quit);
    dialog->OnScan();
    if (dialog->scanning()) loop.exec();
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
    // settings, with a gray profile and one scanned to each cheque's own
    // length added.
    QTemporaryDir system;
    const std::string buildDir = ORVO_BUILD_SYSTEM_DIR "/";
    const std::string sysDir = system.path().toStdString() + "/";
    for (const char* file : {"libK4TR.so", "libK4TRRsrc.so", "libK4TRQa.so", "huffmanw.dat",
                             "huffmanb.dat", "huffmang.dat"}) {
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
            "ScanLines1=800\n[Auto]\nSide=1\nScanWidth=1728\nResolution=0\nScanMode1=0\n"
            "CompressMode=0\nBWSlice1=128\nScanLines1=0\n");
    }
    setenv("ORVOSCAN_SYSTEM_DIR", sysDir.c_str(), 1);
    setenv("ORVOSCAN_TRACE_DIR", sysDir.c_str(), 1);

    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("orvo_viewer"));
    QApplication::setFont(UtilityFont(QApplication::font()));
    g_outDir = QDir(QString::fromLocal8Bit(argv[1])).absolutePath();
    const QString pages = g_outDir + QStringLiteral("/pages");
    QDir().mkpath(pages);
    for (const QString& old : QDir(pages).entryList(QDir::Files)) QDir(pages).remove(old);

    SetMessageHandler(&RenderBox);
    SetSavePathHandler([&pages](QWidget*, const SaveRequest&) { return pages + "/A.tif"; });
    const std::string scenarios = ORVO_SCENARIO_DIR "/";

    orvo::scanrun::ExportedDriver driver;
    MainDialog dialog(driver);
    orvo::sim::TheScanner().SetScenario(orvo::sim::LoadScenarioFile(scenarios + "fast.json"));
    dialog.InitDialog();
    // The window as it opens: its own size, which fits a 1024x768 screen.
    dialog.show();
    QApplication::processEvents();
    bool ok = Save(&dialog, QStringLiteral("01-start.png"));

    dialog.OnSave();
    dialog.values().profileText = QStringLiteral("Check");
    dialog.RefreshDialog();
    Scan(&dialog);
    QApplication::processEvents();
    ok = Save(&dialog, QStringLiteral("02-batch.png")) && ok;

    orvo::sim::Scenario gray = orvo::sim::LoadScenarioFile(scenarios + "two_sided_gray.json");
    gray.latency = orvo::sim::kNoLatency;
    orvo::sim::TheScanner().SetScenario(gray);
    dialog.values().profileText = QStringLiteral("Gray");
    dialog.RefreshDialog();
    Scan(&dialog);
    QApplication::processEvents();
    ok = Save(&dialog, QStringLiteral("03-gray-batch.png")) && ok;

    orvo::sim::TheScanner().SetScenario(
        orvo::sim::LoadScenarioFile(scenarios + "jam_at_document_3.json"));
    dialog.values().profileText = QStringLiteral("Check");
    dialog.RefreshDialog();
    g_nextOverWindow = QStringLiteral("04-jam-over-batch.png");
    Scan(&dialog);
    QApplication::processEvents();
    ok = Save(&dialog, QStringLiteral("04-after-jam.png")) && ok;

    // A page zoomed into its MICR line (an area marked with drag scrolling
    // OFF, then Window zoom), and the rear page turned right.
    auto* list = qobject_cast<orvo::widgets::PageList*>(FindControl(&dialog, id::kPageList));
    auto* front = qobject_cast<orvo::widgets::ImageView*>(FindControl(&dialog, id::kFrontView));
    auto* rear = qobject_cast<orvo::widgets::ImageView*>(FindControl(&dialog, id::kRearView));
    if (list && front && rear && list->rows() >= 2) {
        list->setCol(0);
        list->setRow(0);
        dialog.OnShowRowFile();
        list->setRow(1);
        dialog.OnShowRowFile();
        dialog.OnToggleDragScroll();
        const int h = front->imageHeight();
        const QPoint from = front->imageToView(QPointF(170, h - 170));
        const QPoint to = front->imageToView(QPointF(470, h - 60));
        Mouse(front, QEvent::MouseButtonPress, from, Qt::LeftButton);
        Mouse(front, QEvent::MouseMove, to, Qt::LeftButton);
        Mouse(front, QEvent::MouseButtonRelease, to, Qt::NoButton);
        dialog.OnWindowZoom();
        Click(rear, rear->viewport()->rect().center());
        dialog.OnRotateRight();
        QApplication::processEvents();
        ok = Save(&dialog, QStringLiteral("05-zoom-rotate.png")) && ok;

        // The question before one row's page file is deleted (answered
        // Cancel: nothing is removed).
        dialog.OnToggleDeleteAll();
        list->setRow(1);
        g_nextBoxName = QStringLiteral("06-delete-question.png");
        g_nextAnswer = Answer::Cancel;
        QKeyEvent key(QEvent::KeyPress, Qt::Key_D, Qt::NoModifier, QStringLiteral("d"));
        QApplication::sendEvent(list->table(), &key);
    } else {
        std::fputs("screenshots: no pages listed after the jam\n", stderr);
        ok = false;
    }

    // A batch with image defects (one cheque per defect, each cheque to its
    // own length): the flagged pages marked in the list, the skewed front
    // shown with its defects, the count under the MICR statistics.
    orvo::sim::TheScanner().SetScenario(
        orvo::sim::LoadScenarioFile(scenarios + "image_defects.json"));
    dialog.values().profileText = QStringLiteral("Auto");
    dialog.RefreshDialog();
    Scan(&dialog);
    if (list && list->rows() >= 10) {
        dialog.values().bestFit = 1;  // the Best fit box checked
        dialog.RefreshDialog();
        dialog.OnFit(0);
        list->setCol(0);
        list->setRow(9);  // the skewed cheque's rear, then its front
        dialog.OnShowRowFile();
        list->setRow(8);
        dialog.OnShowRowFile();
        list->setTopRow(6);
    }
    QApplication::processEvents();
    ok = Save(&dialog, QStringLiteral("09-quality-batch.png")) && ok;

    // SETTING and QA: the driver's dialogs over the window.
    dialog.values().profileText = QStringLiteral("Check");
    dialog.RefreshDialog();
    SaveDriverDialog(QStringLiteral("07-setting.png"), &ok);
    dialog.OnSetting();
    SaveDriverDialog(QStringLiteral("08-qa.png"), &ok);
    dialog.OnQa();

    // The message of a number field without an integer (Korean text).
    if (auto* interval = qobject_cast<QLineEdit*>(FindControl(&dialog, id::kSlideInterval))) {
        interval->clear();
        dialog.ReadDialog();
    }

    for (const QString& path : g_written) std::printf("%s\n", qPrintable(path));
    return ok ? 0 : 1;
}
