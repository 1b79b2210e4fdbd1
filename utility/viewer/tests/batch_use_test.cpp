// The window under an operator's hands during and after a batch: every
// message box a batch raises is a real QMessageBox that takes a key press or
// a click, after which the window is unlocked and the profile remembered; and
// while the driver waits for the next cheque, the window handles what comes
// to it (a posted event, a close request) before that cheque arrives.
#include <QMessageBox>
#include <QPointer>
#include <QSignalSpy>
#include <QTimer>

#include "orvo/platform/profile.h"
#include "orvo/testing/qt_test_main.h"
#include "viewer_fixture.h"

using namespace orvo::viewer;
using fixture::ById;
using orvo::sim::TheScanner;

using fixture::BoxCloser;

class BatchUseTest : public QObject, fixture::Window {
    Q_OBJECT

  private slots:
    void initTestCase() {
        fixture::UseVirtualScanner(e2e::ChequeIni("Check", 1, 0, 0));
        SetMessageHandler({});  // the real message boxes
    }

    void init() { fixture::g_endCalls = 0; }
    void cleanup() { dialog_.reset(); }

    void everyBoxOfABatchTakesKeysAndClicks() {
        // What goes wrong (a jam sense of the third cheque, "endorser": the
        // batch start fails with -10, "page": the second front page cannot be
        // written), a part of each box's text, and the rows listed after it.
        struct Case {
            std::string fault;
            QStringList boxes;
            int rows;
        };
        const Case cases[] = {
            {"jam1", {"-JAM1 error.."}, 4},
            {"noDocument", {"-No document error.."}, 4},
            {"doubleFeed", {"-Double feed error.."}, 4},
            {"coverOpen", {"-Cover open error.."}, 4},
            {"none", {"-Unknown device error.."}, 4},
            {"endorser", {"Illegal endorser format error.."}, 1},
            {"page",
             {"A000002F.tif already exists", "no record in micr.txt", "Page file writing error..",
              "A000002F.tif was not written.\n\nThe system says: Is a directory."},
             2},
        };
        for (const Case& c : cases) {
            orvo::sim::Scenario scenario = e2e::FastScenario(4);
            scenario.documents[2].jam =
                orvo::sim::SenseByName(c.fault, &scenario.documents[2].jamSense);
            TheScanner().SetScenario(scenario);
            Open(e2e::ChequeIni("Check", 1, 0, 0) +
                 (c.fault == "endorser" ? "[Misc]\nEndorserFormat=$X\n" : ""));
            if (c.fault == "page") QVERIFY(QDir().mkdir(out_ + "A000002F.tif"));

            BoxCloser closer;
            fixture::ScanAndWait(Dialog());
            QVERIFY2(closer.stuck.isEmpty(), qPrintable("not closed: " + closer.stuck.join('|')));
            QCOMPARE(closer.texts.size(), c.boxes.size());
            for (int i = 0; i < c.boxes.size(); ++i) {
                QVERIFY2(closer.texts[i].contains(c.boxes[i]), qPrintable(closer.texts[i]));
            }
            // The batch's pages stay listed, the window is unlocked, the
            // profile is remembered, and SCAN works again.
            QCOMPARE(List()->rows(), c.rows);
            for (int control : {id::kSave, id::kSetting, id::kQa, id::kScan, id::kExit,
                                id::kSlideShow, id::kProfile, id::kStartNumber}) {
                QVERIFY(ById<QWidget>(Dialog(), control)->isEnabled());
            }
            QCOMPARE(orvo::platform::ProfileString("Misc", "PrevDocu", "", 100,
                                                   Dialog()->settingsFile()),
                     std::string("Check"));
            TheScanner().SetScenario(e2e::FastScenario(1));
            e2e::WriteSettings(e2e::ChequeIni("Check", 1, 0, 0));
            if (c.fault == "page") QVERIFY(QDir().rmdir(out_ + "A000002F.tif"));
            fixture::ScanAndWait(Dialog());
            QVERIFY(closer.stuck.isEmpty());
            QCOMPARE(List()->rows(), 2);
        }
    }

    void theWindowWorksWhileTheScannerWaitsForTheNextCheque() {
        orvo::sim::Scenario scenario = e2e::FastScenario(2);
        scenario.documents[1].pauseBeforeMs = 600000;  // the next cheque comes much later
        TheScanner().SetScenario(scenario);
        Open(e2e::ChequeIni("Check", 1, 0, 0));
        QSignalSpy finished(Dialog(), &QDialog::finished);
        fixture::Click(Dialog(), id::kScan);
        // The first cheque is in; the driver polls the scanner for the next.
        QTRY_COMPARE_WITH_TIMEOUT(List()->rows(), 2, 20000);
        const std::size_t commands = TheScanner().CommandLog().size();
        QTRY_VERIFY_WITH_TIMEOUT(TheScanner().CommandLog().size() > commands + 2, 10000);
        // The status line says that a cheque is awaited.
        QTRY_COMPARE_WITH_TIMEOUT(Status(), QString("Waiting for the next cheque..."), 10000);

        int announcedWhenHandled = -1;
        QMetaObject::invokeMethod(
            Dialog(),
            [&announcedWhenHandled] { announcedWhenHandled = TheScanner().DocumentsAnnounced(); },
            Qt::QueuedConnection);
        Dialog()->close();
        QTRY_COMPARE_WITH_TIMEOUT(finished.count(), 1, 20000);
        QCOMPARE(announcedWhenHandled, 1);
        QCOMPARE(TheScanner().DocumentsAnnounced(), 1);
        QCOMPARE(fixture::Files(out_),
                 (QStringList{"A000001F.tif", "A000001R.tif", "micr.txt", "quality.txt"}));
        QCOMPARE(fixture::g_endCalls, 1);
    }
};

ORVO_QT_TEST(BatchUseTest);
#include "batch_use_test.moc"
