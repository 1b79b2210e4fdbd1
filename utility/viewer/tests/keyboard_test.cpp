// The window under the operator's keys and its close button, with real
// message boxes: Return goes to the focused push button (EXIT while none has
// the focus), Tab leaves the page list, closing while a cheque is read keeps
// that cheque and closing while one is awaited reads none, and what cannot
// be written or used is said.
#include <xcb/xcb.h>

#include <QComboBox>
#include <QGuiApplication>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <QSignalSpy>
#include <QTableWidget>

#include "orvo/testing/qt_test_main.h"
#include "viewer_fixture.h"

using namespace orvo::viewer;
using fixture::BoxCloser;
using fixture::ById;
using orvo::sim::TheScanner;

namespace {
// What follows the key: the save-as dialog, a batch, the settings question
// for an empty profile box, or the end of the program.
enum Then { kSaveDialog, kBatch, kProfileMissing, kExit };
}  // namespace

class KeyboardTest : public QObject, fixture::Window {
    Q_OBJECT

  private slots:
    void initTestCase() {
        fixture::UseVirtualScanner(e2e::ChequeIni("Check", 1, 0, 0));
        SetMessageHandler({});  // the real message boxes
    }
    void init() { fixture::g_endCalls = 0; }
    void cleanup() {
        dialog_.reset();
        SetSavePathHandler({});
    }

    void returnPressesTheFocusedButton_data() {
        // Where the focus is, the key, and what follows (EXIT is the default
        // while no other push button has the focus).
        QTest::addColumn<int>("focus");
        QTest::addColumn<Qt::Key>("key");
        QTest::addColumn<int>("then");
        QTest::newRow("SAVE Return") << int{id::kSave} << Qt::Key_Return << int{kSaveDialog};
        QTest::newRow("SCAN Return") << int{id::kScan} << Qt::Key_Return << int{kBatch};
        QTest::newRow("SCAN Enter") << int{id::kScan} << Qt::Key_Enter << int{kBatch};
        QTest::newRow("SCAN Space") << int{id::kScan} << Qt::Key_Space << int{kBatch};
        QTest::newRow("SETTING") << int{id::kSetting} << Qt::Key_Return << int{kProfileMissing};
        QTest::newRow("start number") << int{id::kStartNumber} << Qt::Key_Return << int{kExit};
        QTest::newRow("profile") << int{id::kProfile} << Qt::Key_Return << int{kExit};
        QTest::newRow("EXIT") << int{id::kExit} << Qt::Key_Return << int{kExit};
    }
    void returnPressesTheFocusedButton() {
        QFETCH(int, focus);
        QFETCH(Qt::Key, key);
        QFETCH(int, then);
        TheScanner().SetScenario(e2e::FastScenario(1));
        Open();
        if (then == kProfileMissing) ById<QComboBox>(Dialog(), id::kProfile)->setEditText({});
        int saveDialogs = 0;
        SetSavePathHandler([&saveDialogs](QWidget*, const SaveRequest&) {
            ++saveDialogs;
            return QString();
        });
        QSignalSpy finished(Dialog(), &QDialog::finished);
        BoxCloser closer;
        QWidget* widget = ById<QWidget>(Dialog(), focus);
        widget->setFocus(Qt::TabFocusReason);
        QTRY_COMPARE(QApplication::focusWidget(), widget);
        QTest::keyClick(widget, key);
        if (then == kBatch) {
            QTRY_COMPARE_WITH_TIMEOUT(List()->rows(), 2, 20000);
            QTRY_VERIFY_WITH_TIMEOUT(!Dialog()->scanning(), 20000);
        }
        if (then == kProfileMissing) {
            const QString box = closer.One();
            QVERIFY2(box.contains("no profile to set"), qPrintable(box));
        } else {
            QVERIFY(closer.texts.isEmpty());
        }
        QCOMPARE(saveDialogs, then == kSaveDialog ? 1 : 0);
        QCOMPARE(finished.count(), then == kExit ? 1 : 0);
        QVERIFY(closer.stuck.isEmpty());
    }

    void tabLeavesThePageList() {
        TheScanner().SetScenario(e2e::FastScenario(2));
        Open();
        fixture::ScanAndWait(Dialog());
        QCOMPARE(List()->rows(), 4);
        QWidget* table = List()->table();
        for (Qt::Key key : {Qt::Key_Tab, Qt::Key_Backtab}) {
            table->setFocus(Qt::MouseFocusReason);
            QTRY_COMPARE(QApplication::focusWidget(), table);
            // The arrow keys move between the cells ...
            List()->setRow(0);
            List()->setCol(0);
            QTest::keyClick(table, Qt::Key_Down);
            QCOMPARE(List()->row(), 1);
            // ... Tab and Shift+Tab go on to the next control.
            QTest::keyClick(table, key);
            QTRY_VERIFY2(QApplication::focusWidget() != table,
                         qPrintable(QApplication::focusWidget()->objectName()));
            QVERIFY(!List()->isAncestorOf(QApplication::focusWidget()));
        }
    }

    void theWindowFitsASmallScreenAndGrowsItsList() {
        Open();
        // Room for the window's frame and title bar on a 1024x768 screen.
        QVERIFY(Dialog()->width() <= 1024 && Dialog()->height() <= 768 - 40);
        QVERIFY(Dialog()->minimumSizeHint().height() <= Dialog()->height());
        const int rowsShown = List()->table()->viewport()->height();
        Dialog()->resize(1400, 1000);
        QTRY_VERIFY(List()->table()->viewport()->height() > rowsShown + 20);
    }

    void closingKeepsTheChequeBeingReadAndWaitsForNoOther() {
        // Closed while the second cheque is read (slow blocks), or while the
        // scanner waits for it (it would come a moment later): no cheque is
        // fed after the close, and every cheque fed is saved whole with its
        // record. A third cheque would come much later.
        for (const bool reading : {true, false}) {
            orvo::sim::Scenario scenario = e2e::FastScenario(3);
            scenario.latency.blockMs = reading ? 3000 : 0;
            scenario.documents[1].pauseBeforeMs = reading ? 0 : 8000;
            scenario.documents[2].pauseBeforeMs = 600000;
            TheScanner().SetScenario(scenario);
            Open();
            QSignalSpy finished(Dialog(), &QDialog::finished);
            BoxCloser closer;
            fixture::Click(Dialog(), id::kScan);
            QTRY_COMPARE_WITH_TIMEOUT(List()->rows(), 2, 30000);
            if (reading) QTRY_VERIFY_WITH_TIMEOUT(e2e::ReadingDocument(2), 30000);
            const int fed = TheScanner().DocumentsAnnounced();
            Dialog()->close();
            QTRY_COMPARE_WITH_TIMEOUT(finished.count(), 1, 60000);
            QVERIFY2(closer.texts.isEmpty(), qPrintable(closer.texts.join('|')));
            QCOMPARE(TheScanner().DocumentsAnnounced(), fed);
            if (reading) QCOMPARE(fed, 2);
            QCOMPARE(fixture::Files(out_).size(), 2 * fed + 2);  // micr.txt, quality.txt
            QCOMPARE(fixture::ReadFile(out_ + "micr.txt").count('\n'), fed);
            dialog_.reset();
        }
    }

    void whatCannotBeWrittenOrUsedIsSaid() {
        // quality.txt that cannot take lines: refused at SCAN; the same
        // when it goes bad during a batch: one warning at the end, every
        // cheque saved.
        TheScanner().SetScenario(e2e::FastScenario(3));
        Open();
        QVERIFY(QDir().mkdir(out_ + "quality.txt"));
        {
            BoxCloser closer;
            fixture::ScanAndWait(Dialog());
            const QString box = closer.One();
            QVERIFY2(box.startsWith("The batch was not started:\n\n" + out_ + "quality.txt"),
                     qPrintable(box));
            QCOMPARE(List()->rows(), 0);
        }
        QVERIFY(QDir().rmdir(out_ + "quality.txt"));
        {
            orvo::sim::Scenario scenario = e2e::FastScenario(3);
            scenario.documents[0].pauseBeforeMs = 1500;
            TheScanner().SetScenario(scenario);
            BoxCloser closer;
            fixture::Click(Dialog(), id::kScan);
            QVERIFY(QDir().mkdir(out_ + "quality.txt"));  // after the check, before the cheques
            QTRY_VERIFY_WITH_TIMEOUT(!Dialog()->scanning(), 30000);
            const QString box = closer.One();
            QVERIFY2(box.startsWith("warning: ") &&
                         box.contains("cheque 1 has no line in quality.txt") &&
                         box.contains("and 2 more cheque(s)"),
                     qPrintable(box));
            QCOMPARE(List()->rows(), 6);
            QCOMPARE(fixture::ReadFile(out_ + "micr.txt").count('\n'), 3);
            QCOMPARE(Status(), QString("Scanning finished."));
            QVERIFY(QDir().rmdir(out_ + "quality.txt"));
        }
        // Every document number taken: the question suggests none.
        e2e::WriteText((out_ + "A9999999F.tif").toStdString(), "earlier");
        ById<QLineEdit>(Dialog(), id::kStartNumber)->setText("1");
        {
            BoxCloser closer;
            closer.cancel = true;
            fixture::Click(Dialog(), id::kScan);
            const QString box = closer.One();
            QVERIFY2(box.contains("No number is left unused in this location") &&
                         !box.contains("10000000"),
                     qPrintable(box));
            QVERIFY(!Dialog()->scanning());
        }
        // SAVE into a folder that is not there is refused at once.
        {
            BoxCloser closer;
            fixture::SaveAs(Dialog(), out_ + "missing/B.tif");
            const QString box = closer.One();
            QVERIFY2(box.startsWith(out_ + "missing: "), qPrintable(box));
            QCOMPARE(ById<QLineEdit>(Dialog(), id::kPrefixText)->text(), out_ + "A");
        }
        // A profile name OrvoScan.ini does not hold scans with "Default".
        TheScanner().SetScenario(e2e::FastScenario(0));
        QVERIFY(QFile::remove(out_ + "A9999999F.tif"));
        ById<QComboBox>(Dialog(), id::kProfile)->setEditText("Nameless");
        ById<QLineEdit>(Dialog(), id::kStartNumber)->setText("10");
        {
            BoxCloser closer;
            fixture::Click(Dialog(), id::kScan);
            QTRY_VERIFY_WITH_TIMEOUT(!Dialog()->scanning(), 30000);
            // An empty feeder is named.
            QCOMPARE(Status(), QString("Scanning finished. No cheque in the feeder. Profile "
                                       "\"Nameless\" is not in OrvoScan.ini: the \"Default\" "
                                       "settings apply."));
        }
    }
};

ORVO_QT_TEST(KeyboardTest);

namespace {

// The close request a window manager sends for the title-bar close button
// (WM_DELETE_WINDOW of WM_PROTOCOLS), through the X server to `window`.
bool SendCloseRequest(xcb_window_t window) {
    xcb_connection_t* x = xcb_connect(nullptr, nullptr);
    auto atom = [x](const char* name) {
        auto* reply = xcb_intern_atom_reply(
            x, xcb_intern_atom(x, 0, static_cast<uint16_t>(std::strlen(name)), name), nullptr);
        const xcb_atom_t value = reply != nullptr ? reply->atom : xcb_atom_t{XCB_ATOM_NONE};
        std::free(reply);
        return value;
    };
    xcb_client_message_event_t event{};
    event.response_type = XCB_CLIENT_MESSAGE;
    event.format = 32;
    event.window = window;
    event.type = atom("WM_PROTOCOLS");
    event.data.data32[0] = atom("WM_DELETE_WINDOW");
    xcb_send_event(x, 0, window, XCB_EVENT_MASK_NO_EVENT, reinterpret_cast<const char*>(&event));
    // A round trip: the server has handled the request before the end.
    std::free(xcb_get_input_focus_reply(x, xcb_get_input_focus(x), nullptr));
    const bool sent = xcb_connection_has_error(x) == 0 && event.type != XCB_ATOM_NONE;
    xcb_disconnect(x);
    return sent;
}

}  // namespace

// The title-bar close button while a message box is open, on an X server
// (xvfb-run): the program ends once the box has been closed.
class CloseButtonTest : public QObject {
    Q_OBJECT

  private slots:
    void initTestCase() {
        if (QGuiApplication::platformName() != "xcb") {
            QSKIP("needs an X server: runs under xvfb-run (package xvfb), which was not found");
        }
        fixture::UseVirtualScanner(e2e::ChequeIni("Check", 1, 0, 0));
        SetMessageHandler({});
    }

    void closeUnderAMessageBoxEndsTheProgramOnceTheBoxIsClosed() {
        fixture::CountingDriver driver;
        fixture::g_endCalls = 0;
        MainDialog dialog(driver);
        dialog.InitDialog();
        dialog.show();
        QVERIFY(QTest::qWaitForWindowExposed(&dialog));
        QSignalSpy finished(&dialog, &QDialog::finished);
        auto* status = ById<QLabel>(&dialog, id::kStatusText);
        // SCAN before SAVE opens a warning; the close request comes while it
        // is open, the window stays and says what follows (looked for a
        // bounded time), and Return closes the box.
        bool sent = false, stayedAndSaid = false;
        int looks = 0;
        QTimer look;
        connect(&look, &QTimer::timeout, &dialog, [&] {
            auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
            if (box == nullptr || !box->isVisible()) return;
            if (!sent) {
                sent = SendCloseRequest(static_cast<xcb_window_t>(dialog.winId()));
                if (!sent) box->done(QMessageBox::Ok);
                return;
            }
            const bool said = status->text().startsWith("The program ends");
            if (!said && ++looks < 2000) return;
            stayedAndSaid = said && dialog.isVisible() && finished.isEmpty();
            QTest::keyClick(box, Qt::Key_Return);
        });
        look.start(5);
        fixture::Click(&dialog, id::kScan);
        QVERIFY2(sent, "the close request could not be sent through the X server");
        QVERIFY(stayedAndSaid);
        QTRY_COMPARE_WITH_TIMEOUT(finished.count(), 1, 20000);
        QCOMPARE(fixture::g_endCalls, 1);
    }
};

ORVO_QT_TEST(CloseButtonTest);
#include "keyboard_test.moc"
