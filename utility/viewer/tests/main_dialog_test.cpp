// The real window with the real driver on the virtual scanner (offscreen):
// its first state, the profile box, a failed driver start, the toggles, the
// integer-reading rule, the driver's message boxes, and how it ends.
#include <QCheckBox>
#include <QComboBox>
#include <QFocusFrame>
#include <QFontDatabase>
#include <QFontInfo>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QSignalSpy>

#include "dialog_binding.h"
#include "driver_errors.h"
#include "orvo/testing/qt_test_main.h"
#include "orvo/widgets/image_view.h"
#include "orvo/widgets/page_list.h"
#include "utility_font.h"
#include "viewer_fixture.h"

using namespace orvo::viewer;
using fixture::ById;
using orvo::sim::TheScanner;

class MainDialogTest : public QObject {
    Q_OBJECT

  private:
    fixture::CountingDriver driver_;
    fixture::Messages messages_;

    std::unique_ptr<MainDialog> Open() {
        auto dialog = std::make_unique<MainDialog>(driver_);
        dialog->InitDialog();
        dialog->show();
        return dialog;
    }

    static std::string Ini(const std::string& sections) { return "[Default]\nSide=1\n" + sections; }

  private slots:
    void initTestCase() {
        fixture::UseVirtualScanner(e2e::ChequeIni("Check", 1, 0, 0));
        TheScanner().SetScenario(e2e::FastScenario(2));
        messages_.Install();
    }

    void init() {
        messages_.Clear();
        fixture::g_endCalls = 0;
        TheScanner().SetScenario(e2e::FastScenario(2));
        e2e::WriteSettings(e2e::ChequeIni("Check", 1, 0, 0));
    }

    void everyControlOnceWithItsCaption() {
        auto dialog = Open();
        QCOMPARE(dialog->windowTitle(), QString("QXS-7100 (QV710) Scanning Utility"));
        // Every control once; a button with its caption.
        const QList<QPair<int, QString>> controls = {{id::kSave, "SAVE"},
                                                     {id::kSetting, "SETTING"},
                                                     {id::kScan, "SCAN"},
                                                     {id::kQa, "QA"},
                                                     {id::kExit, "EXIT"},
                                                     {id::kScanView, "Scan Image view"},
                                                     {id::kFlip, "Flip second image"},
                                                     {id::kPixelToPixel, "Pixel to pixel"},
                                                     {id::kFitWidth, "Fit to width"},
                                                     {id::kFitHeight, "Fit to height"},
                                                     {id::kBestFit, "Best fit"},
                                                     {id::kWindowZoom, "Window  zoom"},
                                                     {id::kScroll, "Scroll"},
                                                     {id::kRotateRight, "Rotate R"},
                                                     {id::kRotateLeft, "Rotate L"},
                                                     {id::kDeleteAll, "Delete all files"},
                                                     {id::kSlideShow, "Slide show"},
                                                     {id::kPageList, {}},
                                                     {id::kPrefixText, {}},
                                                     {id::kStartNumber, {}},
                                                     {id::kProfile, {}},
                                                     {id::kFrontView, {}},
                                                     {id::kRearView, {}},
                                                     {id::kScrollText, {}},
                                                     {id::kNameText, {}},
                                                     {id::kFormatText, {}},
                                                     {id::kSizeText, {}},
                                                     {id::kWidthText, {}},
                                                     {id::kHeightText, {}},
                                                     {id::kXResolutionText, {}},
                                                     {id::kYResolutionText, {}},
                                                     {id::kSlideInterval, {}},
                                                     {id::kStatistics, {}},
                                                     {id::kStatusText, {}},
                                                     {id::kZoomText, {}},
                                                     {id::kVersionText, {}}};
        for (const auto& [control, caption] : controls) {
            int found = 0;
            for (QWidget* w : dialog->findChildren<QWidget*>()) {
                if (w->property(kControlIdProperty).toInt() == control) ++found;
            }
            QVERIFY2(
                found == 1,
                qPrintable(QStringLiteral("control %1 found %2 times").arg(control).arg(found)));
            if (!caption.isNull()) {
                QCOMPARE(ById<QAbstractButton>(dialog.get(), control)->text(), caption);
            }
        }
        QStringList labels;
        for (QLabel* label : dialog->findChildren<QLabel*>()) {
            if (!label->property(kControlIdProperty).isValid()) labels << label->text();
        }
        for (const char* text : {"Name", "Format", "Size", "Width", "Height", "X resol", "Y resol",
                                 "ms", "% Zoom", "QXS-7100 (QV710) driver version : "}) {
            QVERIFY2(labels.contains(text), text);
        }
        QStringList groups;
        for (QGroupBox* box : dialog->findChildren<QGroupBox*>()) groups << box->title();
        QCOMPARE(groups.size(), 3);
        for (const char* title : {"Zoom Setting", "Setting", "Image Information"}) {
            QVERIFY(groups.contains(title));
        }
        // EXIT is the default button while no other push button has the
        // focus; the binding table finds every control.
        dialog->activateWindow();
        QVERIFY(QTest::qWaitForWindowActive(dialog.get()));
        ById<QWidget>(dialog.get(), id::kStartNumber)->setFocus();
        QTRY_VERIFY(ById<QPushButton>(dialog.get(), id::kExit)->isDefault());
        QVERIFY(DialogBinder(dialog.get()).missing().empty());
    }

    void firstState() {
        auto dialog = Open();
        QVERIFY(messages_.shown.isEmpty());
        QCOMPARE(ById<QLabel>(dialog.get(), id::kStatusText)->text(), QString("Ready to scan..."));
        QVERIFY(ById<QWidget>(dialog.get(), id::kScan)->isEnabled());
        QVERIFY(ById<QWidget>(dialog.get(), id::kSave)->isEnabled());
        QVERIFY(ById<QWidget>(dialog.get(), id::kSetting)->isEnabled());
        QVERIFY(!ById<QWidget>(dialog.get(), id::kQa)->isEnabled());  // created disabled
        QCOMPARE(ById<QLabel>(dialog.get(), id::kVersionText)->text(), QString(OrvoScan_Version()));
        QVERIFY(ById<QCheckBox>(dialog.get(), id::kScanView)->isChecked());
        QVERIFY(!ById<QCheckBox>(dialog.get(), id::kFlip)->isChecked());
        QVERIFY(ById<QCheckBox>(dialog.get(), id::kDeleteAll)->isChecked());
        QVERIFY(!ById<QCheckBox>(dialog.get(), id::kPixelToPixel)->isChecked());
        QVERIFY(!ById<QCheckBox>(dialog.get(), id::kFitWidth)->isChecked());
        QVERIFY(!ById<QCheckBox>(dialog.get(), id::kFitHeight)->isChecked());
        QVERIFY(ById<QCheckBox>(dialog.get(), id::kBestFit)->isChecked());
        QCOMPARE(ById<QLineEdit>(dialog.get(), id::kSlideInterval)->text(), QString("200"));
        QCOMPARE(ById<QLineEdit>(dialog.get(), id::kStartNumber)->text(), QString("1"));
        QCOMPARE(ById<QLabel>(dialog.get(), id::kScrollText)->text(), QString("ON"));
        QCOMPARE(ById<QLineEdit>(dialog.get(), id::kPrefixText)->text(), QString());
        QVERIFY(ById<QLineEdit>(dialog.get(), id::kPrefixText)->isReadOnly());
        for (int control :
             {id::kNameText, id::kFormatText, id::kSizeText, id::kWidthText, id::kHeightText,
              id::kXResolutionText, id::kYResolutionText, id::kZoomText, id::kStatistics}) {
            QCOMPARE(ById<QLabel>(dialog.get(), control)->text(), QString());
        }
        auto* list = ById<orvo::widgets::PageList>(dialog.get(), id::kPageList);
        QCOMPARE(list->cols(), 2);
        QCOMPARE(list->rows(), 0);
        QCOMPARE(list->columnWidthTwips(0), 900);
        QCOMPARE(list->columnWidthTwips(1), 4500);
        for (int control : {id::kFrontView, id::kRearView}) {
            auto* view = ById<orvo::widgets::ImageView>(dialog.get(), control);
            QCOMPARE(view->fitMode(), orvo::widgets::ImageView::FitMode::Best);
            QVERIFY(!view->imageDisplayed());
        }
        QVERIFY(!dialog->scanning());
        // The first control in tab order has the focus.
        dialog->activateWindow();
        QTRY_COMPARE(QApplication::focusWidget(), ById<QWidget>(dialog.get(), id::kSave));
        // Tab moves it on, and a ring shows where it is.
        QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
        auto* setting = ById<QWidget>(dialog.get(), id::kSetting);
        QTRY_COMPARE(QApplication::focusWidget(), setting);
        auto* ring = dialog->findChild<QFocusFrame*>();
        QVERIFY(ring != nullptr && ring->isVisible());
        QVERIFY(ring->geometry().contains(setting->geometry()));
        QVERIFY(ring->geometry() != setting->geometry());
        // Latin text (digits, full stops) is drawn by a Latin face, Hangul by
        // NanumGothic.
        const QFont font = UtilityFont(QFont(QStringLiteral("Sans Serif"), 8));
        QVERIFY(font.families().contains(QStringLiteral("NanumGothic")));
        QVERIFY(!QFontDatabase::writingSystems(QFontInfo(font).family())
                     .contains(QFontDatabase::Korean));
    }

    void profilesSortedWithoutDefaultAndMisc() {
        e2e::WriteSettings(
            Ini("[zeta]\nSide=0\n[Misc]\nMicrDetect=1\nPrevDocu=Bill\n[Bill]\n"
                "[MISC]\n[default]\n[Alpha]\n[\xEC\x9D\xBC\xEB\xB0\x98]\n"));
        auto dialog = Open();
        auto* box = ById<QComboBox>(dialog.get(), id::kProfile);
        QStringList items;
        for (int i = 0; i < box->count(); ++i) items << box->itemText(i);
        QCOMPARE(items, (QStringList{"Alpha", "Bill", "zeta", QString::fromUtf8("일반")}));
        QCOMPARE(box->currentText(), QString("Bill"));
        QCOMPARE(dialog->values().profileText, QString("Bill"));
    }

    void previousProfileThatNoLongerExists() {
        e2e::WriteSettings(
            Ini("[Check]\n[Misc]\nPrevDocu=Gone Profile With A Long Name Of 40 Chars\n"));
        auto dialog = Open();
        // Shown exactly, also beyond 24 characters.
        QCOMPARE(ById<QComboBox>(dialog.get(), id::kProfile)->currentText(),
                 QString("Gone Profile With A Long Name Of 40 Chars"));
        QCOMPARE(ById<QComboBox>(dialog.get(), id::kProfile)->count(), 1);
    }

    void korean949ProfileNamesShown() {
        // "일반지로" in CP949, as older tools wrote it.
        e2e::WriteSettings(
            Ini("[\xC0\xCF\xB9\xDD\xC1\xF6\xB7\xCE]\nSide=0\n"
                "[Misc]\nPrevDocu=\xC0\xCF\xB9\xDD\xC1\xF6\xB7\xCE\n"));
        auto dialog = Open();
        auto* box = ById<QComboBox>(dialog.get(), id::kProfile);
        QCOMPARE(box->count(), 1);
        QCOMPARE(box->itemText(0), QString::fromUtf8("일반지로"));
        QCOMPARE(box->currentText(), QString::fromUtf8("일반지로"));
    }

    void missingSettingsFileGivesAnEmptyList() {
        QFile::remove(QString::fromStdString(e2e::SystemDir() + "OrvoScan.ini"));
        auto dialog = Open();
        QCOMPARE(ById<QComboBox>(dialog.get(), id::kProfile)->count(), 0);
        QCOMPARE(dialog->values().profileText, QString());
        QVERIFY(messages_.shown.isEmpty());
        // SCAN with an empty profile box says what is missing.
        fixture::Click(dialog.get(), id::kScan);
        QCOMPARE(messages_.shown.size(), 1);
        QVERIFY2(messages_.shown.first().text.contains("no profile"),
                 qPrintable(messages_.shown.first().text));
        QCOMPARE(ById<orvo::widgets::PageList>(dialog.get(), id::kPageList)->rows(), 0);
        QVERIFY(!dialog->scanning());
    }

    void firstStartPreselectsTheFirstProfile() {
        e2e::WriteSettings(Ini("[zeta]\nSide=0\n[Misc]\nMicrDetect=1\n[Alpha]\n"));
        auto dialog = Open();
        QCOMPARE(ById<QComboBox>(dialog.get(), id::kProfile)->currentText(), QString("Alpha"));
        // A box the operator emptied: SCAN says so, and nothing starts.
        ById<QComboBox>(dialog.get(), id::kProfile)->setEditText(QString());
        fixture::Click(dialog.get(), id::kScan);
        QCOMPARE(messages_.shown.size(), 1);
        QVERIFY2(messages_.shown.first().text.contains("Choose a profile"),
                 qPrintable(messages_.shown.first().text));
        QVERIFY(!dialog->scanning());
    }

    void failedDriverStart() {
        orvo::sim::Scenario absent = e2e::FastScenario(1);
        absent.present = false;
        TheScanner().SetScenario(absent);
        auto dialog = Open();
        QCOMPARE(messages_.shown.size(), 1);
        const Message& m = messages_.shown.first();
        QCOMPARE(m.text, QString("Error occurred!! Check the scanner..\n\n  Scanner not found.."));
        QCOMPARE(m.caption, QString("orvo_viewer"));
        QCOMPARE(int(m.icon), int(MessageIcon::Stop));
        QCOMPARE(int(m.buttons), int(MessageButtons::Ok));
        QCOMPARE(ById<QLabel>(dialog.get(), id::kStatusText)->text(),
                 QString("Scanner initialization error..."));
        for (int control : {id::kScan, id::kSetting, id::kQa, id::kSave})
            QVERIFY(!ById<QWidget>(dialog.get(), control)->isEnabled());
        QVERIFY(ById<QWidget>(dialog.get(), id::kExit)->isEnabled());
        QCOMPARE(ById<QLabel>(dialog.get(), id::kVersionText)->text(), QString(OrvoScan_Version()));
        QVERIFY(!ById<QLabel>(dialog.get(), id::kVersionText)->text().isEmpty());
        // The window stays usable for viewing; EXIT ends it.
        QSignalSpy finished(dialog.get(), &QDialog::finished);
        fixture::Click(dialog.get(), id::kExit);
        QCOMPARE(finished.count(), 1);
    }

    void programToggledCheckBoxes() {
        auto dialog = Open();
        struct Toggle {
            int control;
            int DialogValues::* member;
            bool first;
        };
        for (const Toggle& t : {Toggle{id::kScanView, &DialogValues::scanView, true},
                                Toggle{id::kFlip, &DialogValues::flip, false},
                                Toggle{id::kDeleteAll, &DialogValues::deleteAll, true}}) {
            auto* box = ById<QCheckBox>(dialog.get(), t.control);
            QCOMPARE(box->isChecked(), t.first);
            fixture::Click(dialog.get(), t.control);
            QCOMPARE(box->isChecked(), !t.first);
            QCOMPARE(dialog->values().*t.member, t.first ? 0 : 1);
            fixture::Click(dialog.get(), t.control);
            QCOMPARE(box->isChecked(), t.first);
            QCOMPARE(dialog->values().*t.member, t.first ? 1 : 0);
        }
        // The zoom check boxes change by themselves.
        fixture::Click(dialog.get(), id::kFitWidth);
        QVERIFY(ById<QCheckBox>(dialog.get(), id::kFitWidth)->isChecked());
    }

    void integerReadingRule() {
        auto dialog = Open();
        dialog->activateWindow();
        auto* interval = ById<QLineEdit>(dialog.get(), id::kSlideInterval);
        auto* start = ById<QLineEdit>(dialog.get(), id::kStartNumber);
        ById<QCheckBox>(dialog.get(), id::kPixelToPixel)->setChecked(true);  // read before 1068
        interval->setText("");
        start->setText("7");
        QVERIFY(!dialog->ReadDialog());
        QCOMPARE(messages_.shown.size(), 1);
        QCOMPARE(messages_.shown.first().text, QString::fromUtf8("정수를 입력하십시오."));
        QCOMPARE(int(messages_.shown.first().icon), int(MessageIcon::Exclamation));
        QCOMPARE(messages_.shown.first().caption, QString("orvo_viewer"));
        QTRY_COMPARE(QApplication::focusWidget(), static_cast<QWidget*>(interval));
        // Read up to the field, not from it on.
        QCOMPARE(dialog->values().pixelToPixel, 1);
        QCOMPARE(dialog->values().slideInterval, 200);
        QCOMPARE(dialog->values().startNumber, 1);

        messages_.Clear();
        interval->setText("350");
        start->setText("12x");
        ById<QCheckBox>(dialog.get(), id::kPixelToPixel)->setChecked(false);
        QVERIFY(!dialog->ReadDialog());
        QCOMPARE(messages_.shown.size(), 1);
        QTRY_COMPARE(QApplication::focusWidget(), static_cast<QWidget*>(start));
        QCOMPARE(dialog->values().slideInterval, 350);
        QCOMPARE(dialog->values().startNumber, 1);
        QCOMPARE(dialog->values().pixelToPixel, 0);

        // EXIT reads the dialog: it stays open until the number is good.
        QSignalSpy finished(dialog.get(), &QDialog::finished);
        fixture::Click(dialog.get(), id::kExit);
        QCOMPARE(finished.count(), 0);
        QVERIFY(dialog->isVisible());
        start->setText("12");
        fixture::Click(dialog.get(), id::kExit);
        QCOMPARE(finished.count(), 1);
        QCOMPARE(dialog->values().startNumber, 12);
    }

    void integerParsing() {
        int v = 0;
        QVERIFY(ParseInteger(" 42 ", &v) && v == 42);
        QVERIFY(ParseInteger("+7", &v) && v == 7);
        QVERIFY(ParseInteger("-3", &v) && v == -3);
        QVERIFY(ParseInteger("2147483647", &v) && v == 2147483647);
        QVERIFY(ParseInteger("-2147483648", &v) && v == -2147483647 - 1);
        QVERIFY(!ParseInteger("2147483648", &v));
        QVERIFY(!ParseInteger("99999999999999999999", &v));
        QVERIFY(!ParseInteger("", &v));
        QVERIFY(!ParseInteger("-", &v));
        QVERIFY(!ParseInteger("1 2", &v));
        QVERIFY(!ParseInteger("0x10", &v));
    }

    void driverErrorBoxes() {
        QWidget parent;
        int asked = 0;
        auto bits = [&asked](uint32_t value) {
            return [&asked, value] {
                ++asked;
                return value;
            };
        };
        const QString head = "Error occurred!! Check the scanner..\n\n  ";
        ShowDriverError(&parent, -3, bits(0x1));
        ShowDriverError(&parent, 0, bits(0x1));
        QVERIFY(messages_.shown.isEmpty());
        ShowDriverError(&parent, -1, bits(0x1));
        ShowDriverError(&parent, -12, bits(0x1));
        ShowDriverError(&parent, -13, bits(0x1));
        QCOMPARE(asked, 0);  // the device error word is asked only for -100
        ShowDriverError(&parent, -100, bits(0x81));
        ShowDriverError(&parent, -100, bits(0x80));
        ShowDriverError(&parent, -100, bits(0x80000104));
        QCOMPARE(asked, 3);
        ShowDriverError(&parent, -55, bits(0));
        const QStringList texts = messages_.Texts();
        QCOMPARE(texts.size(), 7);
        QCOMPARE(texts[0], head + "Scanner not found..");
        QCOMPARE(texts[1], head + "Page file writing error..");
        QCOMPARE(texts[2], head + "Scanner in use error..");
        QCOMPARE(texts[3], head + "Scanner device error..\n  -JAM1 error..");
        QCOMPARE(texts[4], head + "Scanner device error..\n  -No document error..");
        QCOMPARE(texts[5], head +
                               "Scanner device error..\n  -JAM3 error..\n  -Cover open error.."
                               "\n  -Unknown device error..");
        QCOMPARE(texts[6], QString());
        for (const Message& m : messages_.shown) {
            QCOMPARE(int(m.icon), int(MessageIcon::Stop));
            QCOMPARE(m.caption, QString("orvo_viewer"));
        }
    }

    void exitDoesNotEndTheDriver() {
        auto dialog = Open();
        QSignalSpy finished(dialog.get(), &QDialog::finished);
        fixture::Click(dialog.get(), id::kExit);
        QCOMPARE(finished.count(), 1);
        QCOMPARE(finished.first().first().toInt(), int(QDialog::Accepted));
        QVERIFY(!dialog->isVisible());
        QCOMPARE(fixture::g_endCalls, 0);
    }

    void escapeDoesNotEndTheDriver() {
        auto dialog = Open();
        dialog->activateWindow();
        QSignalSpy finished(dialog.get(), &QDialog::finished);
        QTest::keyClick(dialog.get(), Qt::Key_Escape);
        QCOMPARE(finished.count(), 1);
        QCOMPARE(finished.first().first().toInt(), int(QDialog::Rejected));
        QCOMPARE(fixture::g_endCalls, 0);
    }

    void closeButtonEndsTheDriverOnce() {
        auto dialog = Open();
        QSignalSpy finished(dialog.get(), &QDialog::finished);
        QVERIFY(dialog->close());
        QCOMPARE(fixture::g_endCalls, 1);
        QCOMPARE(finished.count(), 1);
        QVERIFY(!dialog->isVisible());
    }

    void heldByAutomationOnlyHides() {
        auto dialog = Open();
        QSignalSpy finished(dialog.get(), &QDialog::finished);
        dialog->SetAutomationHold(true);
        fixture::Click(dialog.get(), id::kExit);
        QVERIFY(!dialog->isVisible());
        QCOMPARE(finished.count(), 0);
        dialog->show();
        dialog->activateWindow();
        QTest::keyClick(dialog.get(), Qt::Key_Escape);
        QVERIFY(!dialog->isVisible());
        dialog->show();
        dialog->close();
        QVERIFY(!dialog->isVisible());
        QCOMPARE(fixture::g_endCalls, 1);
        QCOMPARE(finished.count(), 0);
        // When the client lets go, the dialog ends as it was asked to.
        dialog->SetAutomationHold(false);
        QCOMPARE(finished.count(), 1);
    }
};

ORVO_QT_TEST(MainDialogTest);
#include "main_dialog_test.moc"
