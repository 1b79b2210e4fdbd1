// SETTING and QA of the real window with the real driver, its companion
// libraries and the virtual scanner (offscreen): the driver's dialogs open
// over the window, what is changed there reaches OrvoScan.ini and the
// scanner, a newly named profile joins the sorted profile box, and failures
// are shown with the driver's messages.
#include <unistd.h>

#include <QComboBox>
#include <QDialog>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QSlider>
#include <functional>

#include "orvo/platform/profile.h"
#include "orvo/setup/qa_dialog.h"
#include "orvo/setup/setup_dialog.h"
#include "orvo/testing/qt_test_main.h"
#include "viewer_fixture.h"

using namespace orvo::viewer;
using fixture::ById;
using orvo::sim::TheScanner;

namespace {

const char* const kCompanions[] = {"libK4TRRsrc.so", "libK4TRQa.so"};

void LinkCompanions(bool linked) {
    for (const char* name : kCompanions) {
        const std::string link = e2e::SystemDir() + name;
        unlink(link.c_str());
        if (linked) {
            QVERIFY(symlink((std::string(ORVO_BUILD_SYSTEM_DIR) + "/" + name).c_str(),
                            link.c_str()) == 0);
        }
    }
}

// Acts on the driver's dialog once it is open over the window, polling the
// event loop (bounded to about 10 s); Escape closes it if `act` left it open.
void OnDriverDialog(std::function<void(QDialog&)> act) {
    auto tries = std::make_shared<int>(0);
    auto step = std::make_shared<std::function<void()>>();
    *step = [act = std::move(act), tries, step]() {
        auto* dialog = qobject_cast<QDialog*>(QApplication::activeModalWidget());
        if (!dialog || !dialog->isVisible()) {
            if (++*tries > 1000) {
                *step = nullptr;
                QFAIL("the driver's dialog was not shown");
            }
            QTimer::singleShot(10, *step);
            return;
        }
        act(*dialog);
        if (dialog->isVisible()) QTest::keyClick(dialog, Qt::Key_Escape);
        *step = nullptr;
    };
    QTimer::singleShot(0, *step);
}

void PressOk(QDialog& dialog) {
    auto* ok = ById<QPushButton>(&dialog, id::kExit);
    QVERIFY(ok != nullptr);
    QTest::mouseClick(ok, Qt::LeftButton);
}

int Key(const std::string& section, const std::string& key) {
    return orvo::platform::ProfileInt(section, key, -1, e2e::SystemDir() + "OrvoScan.ini");
}

QStringList Items(QComboBox* box) {
    QStringList items;
    for (int i = 0; i < box->count(); ++i) items << box->itemText(i);
    return items;
}

// Counts the settings dialog instead of showing it.
class CountingSetup : public fixture::CountingDriver {
  public:
    int calls = 0;
    int Setup(void*, const char*) override {
        ++calls;
        return 0;
    }
};

}  // namespace

class SetupCommandsTest : public QObject {
    Q_OBJECT

  private:
    fixture::CountingDriver driver_;
    fixture::Messages messages_;

    std::unique_ptr<MainDialog> Open() { return Open(driver_); }
    std::unique_ptr<MainDialog> Open(orvo::scanrun::Driver& driver) {
        auto dialog = std::make_unique<MainDialog>(driver);
        dialog->InitDialog();
        dialog->show();
        return dialog;
    }

    static void TypeProfile(MainDialog* dialog, const QString& name) {
        auto* box = ById<QComboBox>(dialog, id::kProfile);
        box->lineEdit()->selectAll();
        QTest::keyClicks(box->lineEdit(), name);
    }

  private slots:
    void initTestCase() {
        fixture::UseVirtualScanner(e2e::ChequeIni("Check", 1, 0, 0));
        LinkCompanions(true);
        messages_.Install();
    }

    void init() {
        messages_.Clear();
        LinkCompanions(true);
        orvo::sim::Scenario s = e2e::FastScenario(1);
        s.qaBlock = {7, 7, 32, 7, 7, 32, 5, 8, 4, 5, 0, 0};
        TheScanner().SetScenario(s);
        e2e::WriteSettings(e2e::ChequeIni("Check", 1, 0, 0) + "[Zulu]\nSide=0\n");
    }

    void settingEditsTheProfileInTheBox() {
        auto dialog = Open();
        TypeProfile(dialog.get(), "Check");
        QWidget* owner = nullptr;
        QString caption;
        OnDriverDialog([&](QDialog& d) {
            owner = d.parentWidget();
            caption = d.windowTitle();
            auto* slider = ById<QSlider>(&d, orvo::setup_id::kThreshold);
            QVERIFY(slider != nullptr);
            slider->setSliderDown(true);
            slider->setSliderPosition(40);
            slider->setSliderDown(false);
            PressOk(d);
        });
        fixture::Click(dialog.get(), id::kSetting);
        QCOMPARE(owner, static_cast<QWidget*>(dialog.get()));
        QCOMPARE(caption, QString("Scanner Setup - Check"));
        QCOMPARE(Key("Check", "BWSlice1"), 40);
        QVERIFY(messages_.shown.isEmpty());
        QCOMPARE(Items(ById<QComboBox>(dialog.get(), id::kProfile)),
                 (QStringList{"Check", "Zulu"}));
    }

    void aFormatChosenInTheDialogRenamesThePagesToCome() {
        auto dialog = Open();
        TypeProfile(dialog.get(), "Check");
        const QString out = fixture::OutputDir();
        fixture::SaveAs(dialog.get(), out + "A.tif");
        OnDriverDialog([](QDialog& d) {
            ById<QRadioButton>(&d, orvo::setup_id::kImageFileFormat + 1)
                ->click();  // "Bitmap (DIB)"
            PressOk(d);
        });
        fixture::Click(dialog.get(), id::kSetting);
        QCOMPARE(ById<QLabel>(dialog.get(), id::kStatusText)->text(),
                 QString("Pages are saved as bitmap files: A000001F.bmp, ..."));
        fixture::ScanAndWait(dialog.get());
        QVERIFY2(messages_.shown.isEmpty(), qPrintable(messages_.Texts().join('|')));
        QVERIFY(fixture::ReadFile(out + "A000001F.bmp").startsWith("BM"));
        QVERIFY(!QFile::exists(out + "A000001F.tif"));
    }

    void newNameJoinsTheSortedList() {
        auto dialog = Open();
        auto* box = ById<QComboBox>(dialog.get(), id::kProfile);
        for (const QString& name : {QString("Mike"), QString("Alpha")}) {
            TypeProfile(dialog.get(), name);
            // Cancel stores the profile too (with the values of "Default").
            OnDriverDialog([](QDialog& d) { QTest::keyClick(&d, Qt::Key_Escape); });
            fixture::Click(dialog.get(), id::kSetting);
            QCOMPARE(box->currentText(), name);
        }
        QCOMPARE(Items(box), (QStringList{"Alpha", "Check", "Mike", "Zulu"}));
        QCOMPARE(Key("Mike", "ScanWidth"), 1728);
        QCOMPARE(Key("Alpha", "Side"), 1);
        QVERIFY(messages_.shown.isEmpty());
    }

    void nameInOtherLetterCaseAddsNoItem() {
        auto dialog = Open();
        auto* box = ById<QComboBox>(dialog.get(), id::kProfile);
        TypeProfile(dialog.get(), "zULU");
        QString shownSide;
        OnDriverDialog([&](QDialog& d) {
            // The dialog shows that profile, not "Default".
            shownSide =
                ById<QRadioButton>(&d, orvo::setup_id::kSide)->isChecked() ? "front only" : "both";
            QTest::keyClick(&d, Qt::Key_Escape);
        });
        fixture::Click(dialog.get(), id::kSetting);
        QCOMPARE(shownSide, QString("front only"));
        QCOMPARE(Items(box), (QStringList{"Check", "Zulu"}));
        QCOMPARE(Key("Zulu", "Side"), 0);
        QCOMPARE(orvo::platform::ProfileSectionNames(e2e::SystemDir() + "OrvoScan.ini").size(),
                 std::size_t{4});  // Default, Check, Misc, Zulu
    }

    void emptyProfileDoesNothing() {
        CountingSetup driver;
        auto dialog = Open(driver);
        TypeProfile(dialog.get(), "");
        ById<QComboBox>(dialog.get(), id::kProfile)->lineEdit()->clear();
        fixture::Click(dialog.get(), id::kSetting);
        QCOMPARE(driver.calls, 0);
        TypeProfile(dialog.get(), "Check");
        fixture::Click(dialog.get(), id::kSetting);
        QCOMPARE(driver.calls, 1);
    }

    void failuresShowTheDriversMessage() {
        LinkCompanions(false);
        auto dialog = Open();
        ById<QWidget>(dialog.get(), id::kQa)->setEnabled(true);  // as after a first scan run
        TypeProfile(dialog.get(), "Brand new");
        fixture::Click(dialog.get(), id::kSetting);
        fixture::Click(dialog.get(), id::kQa);
        QCOMPARE(messages_.Texts(),
                 (QStringList{
                     "Error occurred!! Check the scanner..\n\n  libK4TRRsrc.so loading error..",
                     "Error occurred!! Check the scanner..\n\n  libK4TRQa.so loading error.."}));
        QCOMPARE(Items(ById<QComboBox>(dialog.get(), id::kProfile)),
                 (QStringList{"Check", "Zulu"}));
        QCOMPARE(Key("Brand new", "Side"), -1);
    }

    void qaOpensTheQaDialogAndOkWrites() {
        auto dialog = Open();
        QVERIFY(!ById<QWidget>(dialog.get(), id::kQa)->isEnabled());  // until the first scan run
        ById<QWidget>(dialog.get(), id::kQa)->setEnabled(true);
        QWidget* owner = nullptr;
        OnDriverDialog([&](QDialog& d) {
            owner = d.parentWidget();
            auto* slider = ById<QSlider>(&d, orvo::kQaSliders[0].slider);
            QVERIFY(slider != nullptr);
            slider->setSliderDown(true);
            slider->setSliderPosition(14);
            slider->setSliderDown(false);
            PressOk(d);
        });
        fixture::Click(dialog.get(), id::kQa);
        QCOMPARE(owner, static_cast<QWidget*>(dialog.get()));
        QVERIFY(messages_.shown.isEmpty());
        const auto writes = TheScanner().QaWrites();
        QCOMPARE(writes.size(), std::size_t{1});
        QCOMPARE(int(writes[0][0]), 14);
        QCOMPARE(int(writes[0][2]), 32);
    }

    void qaWithAScannerThatDoesNotAnswer() {
        orvo::sim::Scenario s = e2e::FastScenario(1);
        orvo::sim::CommandFault fault;
        fault.opcode = orvo::sim::op::kQaRead;
        fault.action = orvo::sim::FaultAction::CheckCondition;
        s.commandFaults.push_back(fault);
        TheScanner().SetScenario(s);
        auto dialog = Open();
        ById<QWidget>(dialog.get(), id::kQa)->setEnabled(true);
        fixture::Click(dialog.get(), id::kQa);
        QCOMPARE(
            messages_.Texts(),
            (QStringList{"Error occurred!! Check the scanner..\n\n  No SCSI surpport error.."}));
        QVERIFY(TheScanner().QaWrites().empty());
    }
};

ORVO_QT_TEST(SetupCommandsTest);
#include "setup_commands_test.moc"
