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
        const int ids[] = {1035, 1036, 1038, 1037, 1,    1065, 1040, 1072, 1039, 1042, 1064, 1001,
                           1062, 1010, 1011, 1012, 1013, 1044, 1045, 1046, 1047, 1048, 1052, 1026,
                           1027, 1028, 1029, 1033, 1034, 1066, 1067, 1068, 1075, 1041, 1032, 1053};
        for (int id : ids) {
            int found = 0;
            for (QWidget* w : dialog->findChildren<QWidget*>()) {
                if (w->property(kControlIdProperty).toInt() == id) ++found;
            }
            QVERIFY2(found == 1,
                     qPrintable(QStringLiteral("control %1 found %2 times").arg(id).arg(found)));
        }
        const QList<QPair<int, QString>> captions = {{1035, "SAVE"},
                                                     {1036, "SETTING"},
                                                     {1038, "SCAN"},
                                                     {1037, "QA"},
                                                     {1, "EXIT"},
                                                     {1042, "Scan Image view"},
                                                     {1064, "Flip second image"},
                                                     {1010, "Pixel to pixel"},
                                                     {1011, "Fit to width"},
                                                     {1012, "Fit to height"},
                                                     {1013, "Best fit"},
                                                     {1044, "Window  zoom"},
                                                     {1045, "Scroll"},
                                                     {1047, "Rotate R"},
                                                     {1048, "Rotate L"},
                                                     {1066, "Delete all files"},
                                                     {1067, "Slide show"}};
        for (const auto& [id, caption] : captions) {
            QCOMPARE(ById<QAbstractButton>(dialog.get(), id)->text(), caption);
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
        // EXIT is the default button; the binding table finds every control.
        QVERIFY(ById<QPushButton>(dialog.get(), 1)->isDefault());
        QVERIFY(DialogBinder(dialog.get()).missing().empty());
    }

    void firstState() {
        auto dialog = Open();
        QVERIFY(messages_.shown.isEmpty());
        QCOMPARE(ById<QLabel>(dialog.get(), 1041)->text(), QString("Ready to scan..."));
        QVERIFY(ById<QWidget>(dialog.get(), 1038)->isEnabled());
        QVERIFY(ById<QWidget>(dialog.get(), 1035)->isEnabled());
        QVERIFY(ById<QWidget>(dialog.get(), 1036)->isEnabled());
        QVERIFY(!ById<QWidget>(dialog.get(), 1037)->isEnabled());  // created disabled
        QCOMPARE(ById<QLabel>(dialog.get(), 1053)->text(), QString(OrvoScan_Version()));
        QVERIFY(ById<QCheckBox>(dialog.get(), 1042)->isChecked());
        QVERIFY(!ById<QCheckBox>(dialog.get(), 1064)->isChecked());
        QVERIFY(ById<QCheckBox>(dialog.get(), 1066)->isChecked());
        QVERIFY(!ById<QCheckBox>(dialog.get(), 1010)->isChecked());
        QVERIFY(!ById<QCheckBox>(dialog.get(), 1011)->isChecked());
        QVERIFY(!ById<QCheckBox>(dialog.get(), 1012)->isChecked());
        QVERIFY(ById<QCheckBox>(dialog.get(), 1013)->isChecked());
        QCOMPARE(ById<QLineEdit>(dialog.get(), 1068)->text(), QString("200"));
        QCOMPARE(ById<QLineEdit>(dialog.get(), 1072)->text(), QString("1"));
        QCOMPARE(ById<QLabel>(dialog.get(), 1046)->text(), QString("ON"));
        QCOMPARE(ById<QLineEdit>(dialog.get(), 1040)->text(), QString());
        QVERIFY(ById<QLineEdit>(dialog.get(), 1040)->isReadOnly());
        for (int id : {1052, 1026, 1027, 1028, 1029, 1033, 1034, 1032, 1075}) {
            QCOMPARE(ById<QLabel>(dialog.get(), id)->text(), QString());
        }
        auto* list = ById<orvo::widgets::PageList>(dialog.get(), 1065);
        QCOMPARE(list->cols(), 2);
        QCOMPARE(list->rows(), 0);
        QCOMPARE(list->columnWidthTwips(0), 900);
        QCOMPARE(list->columnWidthTwips(1), 4500);
        for (int id : {1001, 1062}) {
            auto* view = ById<orvo::widgets::ImageView>(dialog.get(), id);
            QCOMPARE(view->fitMode(), orvo::widgets::ImageView::FitMode::Best);
            QVERIFY(!view->imageDisplayed());
        }
        QVERIFY(!dialog->scanning());
        // The first control in tab order has the focus.
        dialog->activateWindow();
        QTRY_COMPARE(QApplication::focusWidget(), ById<QWidget>(dialog.get(), 1035));
        // Tab moves it on, and a ring shows where it is.
        QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
        auto* setting = ById<QWidget>(dialog.get(), 1036);
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
        auto* box = ById<QComboBox>(dialog.get(), 1039);
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
        QCOMPARE(ById<QComboBox>(dialog.get(), 1039)->currentText(),
                 QString("Gone Profile With A Long Name Of 40 Chars"));
        QCOMPARE(ById<QComboBox>(dialog.get(), 1039)->count(), 1);
    }

    void korean949ProfileNamesShown() {
        // "일반지로" in CP949, as older tools wrote it.
        e2e::WriteSettings(
            Ini("[\xC0\xCF\xB9\xDD\xC1\xF6\xB7\xCE]\nSide=0\n"
                "[Misc]\nPrevDocu=\xC0\xCF\xB9\xDD\xC1\xF6\xB7\xCE\n"));
        auto dialog = Open();
        auto* box = ById<QComboBox>(dialog.get(), 1039);
        QCOMPARE(box->count(), 1);
        QCOMPARE(box->itemText(0), QString::fromUtf8("일반지로"));
        QCOMPARE(box->currentText(), QString::fromUtf8("일반지로"));
    }

    void missingSettingsFileGivesAnEmptyList() {
        QFile::remove(QString::fromStdString(e2e::SystemDir() + "OrvoScan.ini"));
        auto dialog = Open();
        QCOMPARE(ById<QComboBox>(dialog.get(), 1039)->count(), 0);
        QCOMPARE(dialog->values().profileText, QString());
        QVERIFY(messages_.shown.isEmpty());
        // SCAN with an empty profile box says what is missing.
        fixture::Click(dialog.get(), 1038);
        QCOMPARE(messages_.shown.size(), 1);
        QVERIFY2(messages_.shown.first().text.contains("no profile"),
                 qPrintable(messages_.shown.first().text));
        QCOMPARE(ById<orvo::widgets::PageList>(dialog.get(), 1065)->rows(), 0);
        QVERIFY(!dialog->scanning());
    }

    void firstStartPreselectsTheFirstProfile() {
        e2e::WriteSettings(Ini("[zeta]\nSide=0\n[Misc]\nMicrDetect=1\n[Alpha]\n"));
        auto dialog = Open();
        QCOMPARE(ById<QComboBox>(dialog.get(), 1039)->currentText(), QString("Alpha"));
        // A box the operator emptied: SCAN says so, and nothing starts.
        ById<QComboBox>(dialog.get(), 1039)->setEditText(QString());
        fixture::Click(dialog.get(), 1038);
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
        QCOMPARE(ById<QLabel>(dialog.get(), 1041)->text(),
                 QString("Scanner initialization error..."));
        for (int id : {1038, 1036, 1037, 1035})
            QVERIFY(!ById<QWidget>(dialog.get(), id)->isEnabled());
        QVERIFY(ById<QWidget>(dialog.get(), 1)->isEnabled());
        QCOMPARE(ById<QLabel>(dialog.get(), 1053)->text(), QString(OrvoScan_Version()));
        QVERIFY(!ById<QLabel>(dialog.get(), 1053)->text().isEmpty());
        // The window stays usable for viewing; EXIT ends it.
        QSignalSpy finished(dialog.get(), &QDialog::finished);
        fixture::Click(dialog.get(), 1);
        QCOMPARE(finished.count(), 1);
    }

    void programToggledCheckBoxes() {
        auto dialog = Open();
        struct Toggle {
            int id;
            int DialogValues::*member;
            bool first;
        };
        for (const Toggle& t :
             {Toggle{1042, &DialogValues::scanView, true}, Toggle{1064, &DialogValues::flip, false},
              Toggle{1066, &DialogValues::deleteAll, true}}) {
            auto* box = ById<QCheckBox>(dialog.get(), t.id);
            QCOMPARE(box->isChecked(), t.first);
            fixture::Click(dialog.get(), t.id);
            QCOMPARE(box->isChecked(), !t.first);
            QCOMPARE(dialog->values().*t.member, t.first ? 0 : 1);
            fixture::Click(dialog.get(), t.id);
            QCOMPARE(box->isChecked(), t.first);
            QCOMPARE(dialog->values().*t.member, t.first ? 1 : 0);
        }
        // The zoom check boxes change by themselves.
        fixture::Click(dialog.get(), 1011);
        QVERIFY(ById<QCheckBox>(dialog.get(), 1011)->isChecked());
    }

    void integerReadingRule() {
        auto dialog = Open();
        dialog->activateWindow();
        auto* interval = ById<QLineEdit>(dialog.get(), 1068);
        auto* start = ById<QLineEdit>(dialog.get(), 1072);
        ById<QCheckBox>(dialog.get(), 1010)->setChecked(true);  // read before 1068
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
        ById<QCheckBox>(dialog.get(), 1010)->setChecked(false);
        QVERIFY(!dialog->ReadDialog());
        QCOMPARE(messages_.shown.size(), 1);
        QTRY_COMPARE(QApplication::focusWidget(), static_cast<QWidget*>(start));
        QCOMPARE(dialog->values().slideInterval, 350);
        QCOMPARE(dialog->values().startNumber, 1);
        QCOMPARE(dialog->values().pixelToPixel, 0);

        // EXIT reads the dialog: it stays open until the number is good.
        QSignalSpy finished(dialog.get(), &QDialog::finished);
        fixture::Click(dialog.get(), 1);
        QCOMPARE(finished.count(), 0);
        QVERIFY(dialog->isVisible());
        start->setText("12");
        fixture::Click(dialog.get(), 1);
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
        fixture::Click(dialog.get(), 1);
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
        fixture::Click(dialog.get(), 1);
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
