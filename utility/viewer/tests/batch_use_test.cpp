// The window under an operator's hands during and after a batch: every
// message box a batch raises is a real QMessageBox that takes a key press or
// a click, after which the window is unlocked and the profile remembered; and
// while the driver waits for the next cheque, the window handles what comes
// to it (a posted event, a close request) before that cheque arrives.
#include <QComboBox>
#include <QMessageBox>
#include <QPointer>
#include <QSignalSpy>
#include <QTimer>

#include "orvo/platform/profile.h"
#include "orvo/testing/qt_test_main.h"
#include "orvo/widgets/page_list.h"
#include "viewer_fixture.h"

using namespace orvo::viewer;
using fixture::ById;
using orvo::sim::TheScanner;

namespace {

// Answers every message box that appears, in turn with Return, a click on
// its OK button and Escape (a box with Cancel always with Return, its default
// OK), and records its text. A box still open after 200 looks did not take
// the key or click: it is noted and closed by the program so the test goes on.
class BoxCloser : public QObject {
  public:
    QStringList texts;
    QStringList stuck;

    BoxCloser() {
        timer_.setInterval(1);
        connect(&timer_, &QTimer::timeout, this, &BoxCloser::Look);
        timer_.start();
    }

  private:
    void Look() {
        auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
        if (box == nullptr || !box->isVisible()) return;
        if (box == open_) {
            if (++looks_ > 200) {
                stuck << box->text();
                box->done(QMessageBox::Ok);
            }
            return;
        }
        open_ = box;
        looks_ = 0;
        texts << box->text();
        const int way = box->button(QMessageBox::Cancel) ? 0 : texts.size() % 3;
        if (way == 0) {
            QTest::keyClick(box, Qt::Key_Return);
        } else if (way == 1) {
            QTest::mouseClick(box->button(QMessageBox::Ok), Qt::LeftButton);
        } else {
            QTest::keyClick(box, Qt::Key_Escape);
        }
    }

    QTimer timer_;
    QPointer<QMessageBox> open_;
    int looks_ = 0;
};

}  // namespace

class BatchUseTest : public QObject {
    Q_OBJECT

  private:
    fixture::CountingDriver driver_;
    std::unique_ptr<MainDialog> dialog_;
    QString out_;

    MainDialog* Dialog() { return dialog_.get(); }
    orvo::widgets::PageList* List() { return ById<orvo::widgets::PageList>(Dialog(), 1065); }

    // A new window on `ini` (no last used profile) with profile Check, SAVE
    // answered with A.tif in a new output directory.
    void Open(const std::string& ini) {
        e2e::WriteSettings(ini);
        out_ = fixture::OutputDir();
        dialog_ = std::make_unique<MainDialog>(driver_);
        dialog_->InitDialog();
        dialog_->show();
        ById<QComboBox>(Dialog(), 1039)->setEditText("Check");
        SetSavePathHandler([this](QWidget*, const SaveRequest&) { return out_ + "A.tif"; });
        fixture::Click(Dialog(), 1035);
        SetSavePathHandler({});
    }
    std::string PreviousProfile() {
        return orvo::platform::ProfileString("Misc", "PrevDocu", "", 100, Dialog()->settingsFile());
    }

  private slots:
    void initTestCase() {
        fixture::UseVirtualScanner(e2e::ChequeIni("Check", 1, 0, 0));
        SetMessageHandler({});  // the real message boxes
    }

    void init() { fixture::g_endCalls = 0; }
    void cleanup() { dialog_.reset(); }

    void everyBoxOfABatchTakesKeysAndClicks_data() {
        QTest::addColumn<QString>("sense");      // the third cheque jams with it
        QTest::addColumn<bool>("badEndorser");   // OrvoScan_StartBatch fails (-10)
        QTest::addColumn<bool>("blockedPage");   // the second front page cannot be written
        QTest::addColumn<QStringList>("boxes");  // a part of each box's text
        QTest::addColumn<int>("rows");           // rows listed after the batch
        QTest::newRow("jam") << "jam1" << false << false << QStringList{"-JAM1 error.."} << 4;
        QTest::newRow("no document")
            << "noDocument" << false << false << QStringList{"-No document error.."} << 4;
        QTest::newRow("double feed")
            << "doubleFeed" << false << false << QStringList{"-Double feed error.."} << 4;
        QTest::newRow("cover open")
            << "coverOpen" << false << false << QStringList{"-Cover open error.."} << 4;
        QTest::newRow("unknown device error")
            << "none" << false << false << QStringList{"-Unknown device error.."} << 4;
        QTest::newRow("batch start failed")
            << "" << true << false << QStringList{"Illegal endorser format error.."} << 1;
        QTest::newRow("page file not written")
            << "" << false << true
            << QStringList{"A000002F.tif already exists", "no record in micr.txt",
                           "Page file writing error..", "A000002F.tif was not written"}
            << 2;
    }

    void everyBoxOfABatchTakesKeysAndClicks() {
        QFETCH(QString, sense);
        QFETCH(bool, badEndorser);
        QFETCH(bool, blockedPage);
        QFETCH(QStringList, boxes);
        QFETCH(int, rows);
        std::string ini = e2e::ChequeIni("Check", 1, 0, 0);
        if (badEndorser) ini += "[Misc]\nEndorserFormat=$X\n";
        orvo::sim::Scenario scenario = e2e::FastScenario(4);
        if (!sense.isEmpty()) {
            scenario.documents[2].jam = true;
            QVERIFY(orvo::sim::SenseByName(sense.toStdString(), &scenario.documents[2].jamSense));
        }
        TheScanner().SetScenario(scenario);
        Open(ini);
        if (blockedPage) QVERIFY(QDir().mkdir(out_ + "A000002F.tif"));

        BoxCloser closer;
        fixture::ScanAndWait(Dialog());
        QVERIFY2(closer.stuck.isEmpty(),
                 qPrintable("boxes that took no key or click: " + closer.stuck.join(" | ")));
        QCOMPARE(closer.texts.size(), boxes.size());
        for (int i = 0; i < boxes.size(); ++i) {
            QVERIFY2(closer.texts[i].contains(boxes[i]), qPrintable(closer.texts[i]));
        }
        // The batch's pages stay listed; the window is unlocked; the profile
        // is remembered; SCAN works again.
        QCOMPARE(List()->rows(), rows);
        for (int id : {1035, 1036, 1037, 1038, 1, 1067, 1039, 1072}) {
            QVERIFY2(ById<QWidget>(Dialog(), id)->isEnabled(), qPrintable(QString::number(id)));
        }
        QCOMPARE(PreviousProfile(), std::string("Check"));
        TheScanner().SetScenario(e2e::FastScenario(1));
        if (badEndorser) e2e::WriteSettings(e2e::ChequeIni("Check", 1, 0, 0));
        if (blockedPage) QVERIFY(QDir().rmdir(out_ + "A000002F.tif"));
        fixture::ScanAndWait(Dialog());
        QVERIFY(closer.stuck.isEmpty());
        QCOMPARE(List()->rows(), 2);
    }

    void theWindowWorksWhileTheScannerWaitsForTheNextCheque() {
        orvo::sim::Scenario scenario = e2e::FastScenario(2);
        scenario.documents[1].pauseBeforeMs = 600000;  // the next cheque comes much later
        TheScanner().SetScenario(scenario);
        Open(e2e::ChequeIni("Check", 1, 0, 0));
        QSignalSpy finished(Dialog(), &QDialog::finished);
        fixture::Click(Dialog(), 1038);
        // The first cheque is in; the driver polls the scanner for the next.
        QTRY_COMPARE_WITH_TIMEOUT(List()->rows(), 2, 20000);
        const std::size_t commands = TheScanner().CommandLog().size();
        QTRY_VERIFY_WITH_TIMEOUT(TheScanner().CommandLog().size() > commands + 2, 10000);

        int announcedWhenHandled = -1;
        QMetaObject::invokeMethod(
            Dialog(),
            [&announcedWhenHandled] { announcedWhenHandled = TheScanner().DocumentsAnnounced(); },
            Qt::QueuedConnection);
        Dialog()->close();
        QTRY_COMPARE_WITH_TIMEOUT(finished.count(), 1, 20000);
        QCOMPARE(announcedWhenHandled, 1);
        QCOMPARE(TheScanner().DocumentsAnnounced(), 1);
        QCOMPARE(fixture::Files(out_), (QStringList{"A000001F.tif", "A000001R.tif", "micr.txt"}));
        QCOMPARE(fixture::g_endCalls, 1);
    }
};

ORVO_QT_TEST(BatchUseTest);
#include "batch_use_test.moc"
