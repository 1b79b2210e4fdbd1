// Batches through the real window: SAVE and SCAN pressed, the real driver on
// the virtual scanner, and what comes out (page files, micr.txt bytes, the
// page list, the views, the statistics, the next start number) against what
// the scanner sent.
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>

#include <QCheckBox>
#include <QComboBox>
#include <QLabel>
#include <QLayout>
#include <QLineEdit>
#include <QPushButton>
#include <QSignalSpy>
#include <QTimer>

#include "orvo/platform/profile.h"
#include "orvo/scanrun/driver_messages.h"
#include "orvo/testing/qt_test_main.h"
#include "orvo/widgets/image_view.h"
#include "orvo/widgets/page_list.h"
#include "test_images.h"
#include "viewer_fixture.h"

using namespace orvo::viewer;
using fixture::ById;
using orvo::sim::TheScanner;
using orvo::widgets::ImageView;
using orvo::widgets::PageList;

namespace {

// The MICR text the driver hands out for a document of the scenario: the
// scanner's line; the driver's CR takes the place of its last character.
QByteArray DriverMicr(const orvo::sim::Document& doc) {
    return QByteArray::fromStdString(doc.micr.substr(0, doc.micr.size() - 1));
}

QByteArray Record(int number, const orvo::sim::Document& doc) {
    const QByteArray text = DriverMicr(doc);
    const bool error = text.contains('?') || text.contains('_');
    return QByteArray::number(number).rightJustified(7, '0') + (error ? "1" : "0") + text + "\r\n";
}

using fixture::Files;

}  // namespace

class ScanTest : public QObject {
    Q_OBJECT

  private:
    fixture::CountingDriver driver_;
    fixture::Messages messages_;
    QString out_;
    std::unique_ptr<MainDialog> dialog_;

    MainDialog* Dialog() { return dialog_.get(); }
    PageList* List() { return ById<PageList>(Dialog(), id::kPageList); }

    void Open() {
        dialog_ = std::make_unique<MainDialog>(driver_);
        dialog_->InitDialog();
        dialog_->resize(900, 650);
        dialog_->show();
    }

    // SAVE answered with `name` in the test's output directory.
    void Save(const QString& name) {
        SetSavePathHandler([this, name](QWidget*, const SaveRequest& request) {
            EXPECT_TITLE(request);
            return out_ + name;
        });
        fixture::Click(Dialog(), id::kSave);
        SetSavePathHandler({});
    }
    static void EXPECT_TITLE(const SaveRequest& request) {
        if (request.title != "Scan file name prefix" || request.initialName != "A" ||
            request.filters.size() != 3) {
            qWarning("unexpected save-as request");
        }
    }

    void SetStart(int n) {
        ById<QLineEdit>(Dialog(), id::kStartNumber)->setText(QString::number(n));
    }
    void SetProfile(const QString& p) { ById<QComboBox>(Dialog(), id::kProfile)->setEditText(p); }
    void Scan() { fixture::ScanAndWait(Dialog()); }
    QString Text(int control) {
        if (auto* label = ById<QLabel>(Dialog(), control)) return label->text();
        return ById<QLineEdit>(Dialog(), control)->text();
    }

  private slots:
    void initTestCase() {
        fixture::UseVirtualScanner(e2e::ChequeIni("Check", 1, 0, 0));
        messages_.Install();
    }

    void init() {
        messages_.Clear();
        fixture::g_endCalls = 0;
        e2e::WriteSettings(e2e::ChequeIni("Check", 1, 0, 0) +
                           "[Single]\nSide=0\nScanWidth=1728\n"
                           "ScanLines1=800\n");
        TheScanner().SetScenario(e2e::FastScenario(4));
        out_ = fixture::OutputDir();
        Open();
        SetProfile("Check");
    }

    void cleanup() { dialog_.reset(); }

    void scanBeforeSaveAsksForSave() {
        Scan();
        QCOMPARE(messages_.shown.size(), 1);
        QVERIFY(messages_.shown.first().text.contains("SAVE"));
        QCOMPARE(TheScanner().DocumentsAnnounced(), 0);
        QCOMPARE(List()->rows(), 0);
        QVERIFY(!QFile::exists("000001F."));
    }

    void saveChoosesLocationAndFormat() {
        Save("B.bmp");
        QCOMPARE(Text(id::kPrefixText), out_ + "B");
        QCOMPARE(Dialog()->outputLocation().extension, std::string("bmp"));
        Scan();
        QVERIFY(messages_.shown.isEmpty());
        const QByteArray page = fixture::ReadFile(out_ + "B000001F.bmp");
        QVERIFY(page.startsWith("BM"));
        // Cancel changes nothing.
        SetSavePathHandler([](QWidget*, const SaveRequest&) { return QString(); });
        fixture::Click(Dialog(), id::kSave);
        SetSavePathHandler({});
        QCOMPARE(Text(id::kPrefixText), out_ + "B");
    }

    void formatNotStoredIsShownAndStillUsed() {
        // OrvoScan.ini cannot take the format (a loop of links in its
        // place): the operator is told, and the batch still writes bitmaps.
        const std::string ini = e2e::SystemDir() + "OrvoScan.ini";
        const std::string kept = ini + ".kept";
        QVERIFY(rename(ini.c_str(), kept.c_str()) == 0);
        QVERIFY(symlink((ini + ".loop").c_str(), ini.c_str()) == 0);
        QVERIFY(symlink(ini.c_str(), (ini + ".loop").c_str()) == 0);
        Save("B.bmp");
        unlink((ini + ".loop").c_str());
        unlink(ini.c_str());
        QVERIFY(rename(kept.c_str(), ini.c_str()) == 0);
        QCOMPARE(messages_.Texts(), QStringList{QString::fromStdString(
                                        orvo::scanrun::DriverErrorText(ORVOSCAN_ERR_SETTINGS, 0))});
        messages_.Clear();
        Scan();
        QVERIFY(messages_.shown.isEmpty());
        QVERIFY(fixture::ReadFile(out_ + "B000001F.bmp").startsWith("BM"));
        // A bitmap states no resolution: the scan's is shown, as for TIFF pages.
        QCOMPARE(Text(id::kXResolutionText), QString("200"));
        QCOMPARE(Text(id::kYResolutionText), QString("200"));
    }

    void twoSidedBatchFromStartNumber3() {
        // Nothing in the window moves while its texts change (in a window
        // as large as its layout asks, as a shown window always is).
        Dialog()->resize(Dialog()->size().expandedTo(Dialog()->minimumSizeHint()));
        auto places = [this] {
            Dialog()->layout()->activate();
            QList<QRect> rects;
            for (int control : {id::kFrontView, id::kRearView, id::kNameText, id::kStatistics,
                                id::kStatusText, id::kVersionText})
                rects << ById<QWidget>(Dialog(), control)->geometry();
            return rects;
        };
        const QList<QRect> before = places();
        Save("A.tif");
        SetStart(3);
        Scan();
        QCOMPARE(places(), before);
        QVERIFY2(messages_.shown.isEmpty(), qPrintable(messages_.Texts().join('|')));
        const auto docs = TheScanner().scenario().documents;
        QStringList expected;
        for (int n = 3; n <= 6; ++n) {
            expected << QStringLiteral("A%1F.tif").arg(n, 6, 10, QLatin1Char('0'))
                     << QStringLiteral("A%1R.tif").arg(n, 6, 10, QLatin1Char('0'));
        }
        expected << "micr.txt"
                 << "quality.txt";
        expected.sort();
        QCOMPARE(Files(out_), expected);
        QByteArray records;
        for (int i = 0; i < 4; ++i) records += Record(3 + i, docs[static_cast<std::size_t>(i)]);
        QCOMPARE(fixture::ReadFile(out_ + "micr.txt"), records);

        // Page list: names, records, marked cells.
        QCOMPARE(List()->rows(), 8);
        int good = 0;
        int bad = 0;
        for (int i = 0; i < 8; ++i) {
            const int n = 3 + i / 2;
            const bool front = i % 2 == 0;
            QCOMPARE(
                List()->cellText(i, 0),
                QStringLiteral("A%1%2").arg(n, 6, 10, QLatin1Char('0')).arg(front ? 'F' : 'R'));
            if (front) {
                const QByteArray record = Record(n, docs[static_cast<std::size_t>(n - 3)]);
                QCOMPARE(List()->cellText(i, 1), QString::fromLatin1(record.chopped(2)));
                const bool error = record[7] == '1';
                error ? ++bad : ++good;
                QCOMPARE(List()->cellMarkingAt(i, 0), error ? 0xFFFFu : 0u);
            } else {
                QCOMPARE(List()->cellText(i, 1), QString());
                QCOMPARE(List()->cellMarkingAt(i, 0), 0u);
            }
        }
        QCOMPARE(bad, 1);  // the fourth cheque of the stack has a "?"
        QCOMPARE(
            Text(id::kStatistics),
            QStringLiteral("MICR OK :\t%1\nMICR ERR :\t%2\nOK rate : \t%3%\nImage defects :\t0")
                .arg(good)
                .arg(bad)
                .arg(QString::asprintf("%5.2f", 100.0 * good / (good + bad))));
        QCOMPARE(Text(id::kStartNumber), QString("7"));
        QCOMPARE(Text(id::kStatusText), QString("Scanning finished."));
        QVERIFY(ById<QWidget>(Dialog(), id::kQa)->isEnabled());  // QA after the first batch
        for (int control : {id::kSave, id::kSetting, id::kScan, id::kExit, id::kSlideShow,
                            id::kProfile, id::kStartNumber}) {
            QVERIFY(ById<QWidget>(Dialog(), control)->isEnabled());
        }

        // The views show the last cheque, pixel for pixel as libtiff reads it.
        auto* front = ById<ImageView>(Dialog(), id::kFrontView);
        auto* rear = ById<ImageView>(Dialog(), id::kRearView);
        QCOMPARE(front->imagePath(), out_ + "A000006F.tif");
        QCOMPARE(rear->imagePath(), out_ + "A000006R.tif");
        QVERIFY(front->frontShown());
        for (ImageView* view : {front, rear}) {
            const auto expectedPixels =
                testimages::ReadWithLibtiff(view->imagePath().toStdString());
            const QString diff = testimages::FirstDifference(
                testimages::FromImage(view->shownImage()), expectedPixels);
            QVERIFY2(diff.isEmpty(), qPrintable(diff));
        }
        // Image information of the last page shown.
        QCOMPARE(Text(id::kNameText), QString("A000006R"));
        QCOMPARE(Text(id::kFormatText), QString("tif"));
        QCOMPARE(Text(id::kSizeText), QString::number(QFileInfo(out_ + "A000006R.tif").size()));
        QCOMPARE(Text(id::kWidthText), QString::number(rear->imageWidth()));
        QCOMPARE(Text(id::kWidthText), QString("1728"));
        QCOMPARE(Text(id::kHeightText), QString::number(rear->imageHeight()));
        QCOMPARE(Text(id::kXResolutionText), QString("200"));
        QCOMPARE(Text(id::kYResolutionText), QString("200"));
        QCOMPARE(Text(id::kZoomText), QString::number(int(rear->zoom())));
        // The profile is remembered.
        QCOMPARE(QString::fromStdString(orvo::platform::ProfileString("Misc", "PrevDocu", "", 100,
                                                                      Dialog()->settingsFile())),
                 QString("Check"));

        // The next batch continues the numbering.
        TheScanner().SetScenario(e2e::FastScenario(1));
        Scan();
        QVERIFY(messages_.shown.isEmpty());
        QVERIFY(QFile::exists(out_ + "A000007F.tif"));
        QCOMPARE(List()->rows(), 2);
        QCOMPARE(List()->cellText(0, 0), QString("A000007F"));
        QCOMPARE(Text(id::kStartNumber), QString("8"));
    }

    void oneSidedBatch() {
        Save("S.tif");
        SetProfile("Single");
        SetStart(5);
        TheScanner().SetScenario(e2e::FastScenario(3));
        Scan();
        QVERIFY(messages_.shown.isEmpty());
        QCOMPARE(Files(out_), (QStringList{"S000005F.tif", "S000006F.tif", "S000007F.tif",
                                           "micr.txt", "quality.txt"}));
        const auto docs = TheScanner().scenario().documents;
        QCOMPARE(fixture::ReadFile(out_ + "micr.txt"),
                 Record(5, docs[0]) + Record(6, docs[1]) + Record(7, docs[2]));
        QCOMPARE(List()->rows(), 3);
        for (int i = 0; i < 3; ++i) QVERIFY(!List()->cellText(i, 1).isEmpty());
        QCOMPARE(Text(id::kStartNumber), QString("8"));
        QVERIFY(!ById<ImageView>(Dialog(), id::kRearView)->imageDisplayed());
        QCOMPARE(ById<ImageView>(Dialog(), id::kFrontView)->imagePath(), out_ + "S000007F.tif");
    }

    void withoutMicrDetect() {
        e2e::WriteSettings(
            e2e::Ini({{"Check", {{"Side", "1"}, {"ScanWidth", "1728"}, {"ScanLines1", "800"}}},
                      {"Misc", {{"MicrDetect", "0"}}}}));
        Save("A.tif");
        Scan();
        QVERIFY(messages_.shown.isEmpty());
        QVERIFY(QFile::exists(out_ + "A000004R.tif"));
        QVERIFY(!QFile::exists(out_ + "micr.txt"));
        QCOMPARE(Text(id::kStatistics), QStringLiteral("Image defects :\t0"));
        for (int i = 0; i < List()->rows(); ++i) {
            QCOMPARE(List()->cellText(i, 1), QString());
            QCOMPARE(List()->cellMarkingAt(i, 0), 0u);
        }
    }

    void jamMidBatch() {
        orvo::sim::Scenario jam = e2e::FastScenario(4);
        jam.documents[2].jam = true;
        orvo::sim::SenseByName("jam1", &jam.documents[2].jamSense);
        TheScanner().SetScenario(jam);
        Save("A.tif");
        Scan();
        QCOMPARE(messages_.Texts(),
                 QStringList{"Error occurred!! Check the scanner..\n\n  Scanner device error.."
                             "\n  -JAM1 error.."});
        QCOMPARE(Files(out_), (QStringList{"A000001F.tif", "A000001R.tif", "A000002F.tif",
                                           "A000002R.tif", "micr.txt", "quality.txt"}));
        QCOMPARE(fixture::ReadFile(out_ + "micr.txt").count('\n'), 2);
        QCOMPARE(List()->rows(), 4);
        QCOMPARE(Text(id::kStartNumber), QString("3"));
        QCOMPARE(Text(id::kStatusText), QString("Scanning finished."));
    }

    void failedBatchStart() {
        e2e::WriteSettings(
            e2e::Ini({{"Check", {{"Side", "1"}, {"ScanWidth", "1728"}, {"ScanLines1", "800"}}},
                      {"Misc", {{"EndorserFormat", "$X"}}}}));
        Save("A.tif");
        SetStart(4);
        const QString status = Text(id::kStatusText);
        Scan();
        QCOMPARE(messages_.Texts(),
                 QStringList{"Error occurred!! Check the scanner..\n\n  Illegal endorser format "
                             "error.."});
        QCOMPARE(TheScanner().DocumentsAnnounced(), 0);
        // No page; micr.txt was opened (and made) before the driver was asked.
        QCOMPARE(Files(out_), QStringList{"micr.txt"});
        QCOMPARE(fixture::ReadFile(out_ + "micr.txt"), QByteArray());
        // The status line keeps its text; the window is unlocked; the
        // profile is remembered all the same.
        QCOMPARE(Text(id::kStatusText), status);
        QCOMPARE(Text(id::kStartNumber), QString("4"));
        for (int control : {id::kSave, id::kSetting, id::kQa, id::kScan, id::kExit, id::kSlideShow,
                            id::kProfile, id::kStartNumber}) {
            QVERIFY(ById<QWidget>(Dialog(), control)->isEnabled());
        }
        QVERIFY(!Dialog()->scanning());
        QCOMPARE(QString::fromStdString(orvo::platform::ProfileString("Misc", "PrevDocu", "", 100,
                                                                      Dialog()->settingsFile())),
                 QString("Check"));
    }

    void normalEndShowsNothing() {
        Save("A.tif");
        Scan();
        QVERIFY(messages_.shown.isEmpty());
        QCOMPARE(List()->rows(), 8);
    }

    void rawPagesAreListedButNotDescribed() {
        Save("A.raw");
        Scan();
        QVERIFY(messages_.shown.isEmpty());
        QVERIFY(QFile::exists(out_ + "A000001F.raw"));
        QCOMPARE(List()->rows(), 8);
        auto* front = ById<ImageView>(Dialog(), id::kFrontView);
        QCOMPARE(front->imagePath(), out_ + "A000004F.raw");
        QVERIFY(!front->imageDisplayed());
        QVERIFY(front->statusText().startsWith("Raw image data"));
        for (int control : {id::kNameText, id::kFormatText, id::kSizeText, id::kWidthText,
                            id::kHeightText, id::kXResolutionText, id::kYResolutionText})
            QCOMPARE(Text(control), QString());
        // Raw pages are not checked for image defects, and the count says so.
        QVERIFY2(Text(id::kStatistics).endsWith("Image defects :\tnot checked"),
                 qPrintable(Text(id::kStatistics)));
    }

    void pageContentAlwaysMatchesItsName() {
        // The extension names the format, in any letter case, whatever the
        // driver or the settings file held before.
        struct Case {
            QStringList saves;
            int storedBehind;  // ImageFileFormat written by another program; -1 none
            QString page;
            QByteArray magic;
        };
        const Case cases[] = {
            {{"B.bmp", "A.TIF"}, -1, "A000001F.TIF", "II*"},
            {{"R.raw", "U.TIF"}, -1, "U000001F.TIF", "II*"},
            {{"R.raw", "C.Bmp"}, -1, "C000001F.Bmp", "BM"},
            {{"D.tif"}, 1, "D000001F.tif", "II*"},
        };
        TheScanner().SetScenario(e2e::FastScenario(1));
        for (const Case& c : cases) {
            for (const QString& name : c.saves) Save(name);
            if (c.storedBehind >= 0) {
                std::string ini = e2e::ChequeIni("Check", 1, 0, 0);
                ini.replace(ini.find("ImageFileFormat=0"), 17,
                            "ImageFileFormat=" + std::to_string(c.storedBehind));
                e2e::WriteSettings(ini);
            }
            SetStart(1);
            Scan();
            QVERIFY2(messages_.shown.isEmpty(), qPrintable(messages_.Texts().join('|')));
            QVERIFY2(fixture::ReadFile(out_ + c.page).startsWith(c.magic), qPrintable(c.page));
            QCOMPARE(Text(id::kFormatText), c.page.section('.', 1));
        }
        // What will be written is on the status line after SAVE.
        Save("E.BMP");
        QCOMPARE(Text(id::kStatusText),
                 QString("Pages are saved as bitmap files: E000002F.BMP, ..."));
        messages_.Clear();
        // A name whose extension names no page format is refused.
        Save("F.png");
        QCOMPARE(messages_.shown.size(), 1);
        QVERIFY(messages_.shown.first().text.contains("F.png"));
        QCOMPARE(Text(id::kPrefixText), out_ + "E");
        QCOMPARE(Dialog()->outputLocation().extension, std::string("BMP"));
    }

    void scanViewOffAndFlip() {
        Save("A.tif");
        fixture::Click(Dialog(), id::kFlip);  // flip second image on
        Scan();
        auto* rear = ById<ImageView>(Dialog(), id::kRearView);
        QCOMPARE(rear->quarterTurns(), 2);
        QVERIFY(rear->imageDisplayed());

        fixture::Click(Dialog(), id::kScanView);  // scan image view off
        SetStart(20);
        Scan();
        QVERIFY(QFile::exists(out_ + "A000023R.tif"));
        QVERIFY(!ById<ImageView>(Dialog(), id::kFrontView)->imageDisplayed());
        QVERIFY(!rear->imageDisplayed());
        QCOMPARE(Text(id::kNameText), QString());
    }

    void existingPagesAreReplacedOnlyWhenTheOperatorSaysSo() {
        Save("A.tif");
        TheScanner().SetScenario(e2e::FastScenario(2));
        Scan();
        const QByteArray first = fixture::ReadFile(out_ + "A000001F.tif");
        const QByteArray micr = fixture::ReadFile(out_ + "micr.txt");
        SetStart(1);
        messages_.answers << Answer::Cancel;
        Scan();
        QCOMPARE(messages_.shown.size(), 1);
        const Message& question = messages_.shown.first();
        QCOMPARE(int(question.buttons), int(MessageButtons::OkCancel));
        QVERIFY2(question.text.contains(out_ + "A000001F.tif"), qPrintable(question.text));
        QVERIFY(question.text.contains("3"));  // the first number not used
        QCOMPARE(fixture::ReadFile(out_ + "micr.txt"), micr);
        QCOMPARE(Text(id::kStartNumber), QString("1"));
        QCOMPARE(List()->rows(), 4);  // the last batch's list stays

        messages_.Clear();
        TheScanner().SetScenario(e2e::FastScenario(1));
        Scan();  // OK
        QCOMPARE(messages_.shown.size(), 1);
        QCOMPARE(fixture::ReadFile(out_ + "micr.txt").count('\n'), 3);
        QCOMPARE(Text(id::kStartNumber), QString("2"));
        QCOMPARE(List()->rows(), 2);
    }

    void micrFileThatCannotTakeRecordsStopsTheBatchBeforeItStarts() {
        Save("A.tif");
        QVERIFY(QDir().mkdir(out_ + "micr.txt"));
        Scan();
        QCOMPARE(messages_.shown.size(), 1);
        QVERIFY2(messages_.shown.first().text.contains("micr.txt"),
                 qPrintable(messages_.shown.first().text));
        QCOMPARE(TheScanner().DocumentsAnnounced(), 0);
        QCOMPARE(Files(out_), QStringList());
        QVERIFY(ById<QWidget>(Dialog(), id::kScan)->isEnabled());
    }

    void pageNotWrittenEndsTheBatch() {
        Save("A.tif");
        // A directory where the second cheque's front page would go: the
        // driver cannot put the page there.
        QVERIFY(QDir().mkdir(out_ + "A000002F.tif"));
        messages_.answers << Answer::Ok;  // replace the "earlier" page
        Scan();
        const QStringList texts = messages_.Texts();
        QVERIFY2(texts.size() == 4, qPrintable(texts.join("\n----\n")));
        QVERIFY(texts[0].contains("A000002F.tif"));
        // The directory counts as a front page without a record: said once.
        QVERIFY(texts[1].contains("no record in micr.txt"));
        QCOMPARE(texts[2],
                 QString("Error occurred!! Check the scanner..\n\n  Page file writing error.."));
        QVERIFY2(texts[3].contains(out_ + "A000002F.tif was not written"), qPrintable(texts[3]));
        // The first cheque is kept with its record; none for the second.
        QCOMPARE(fixture::ReadFile(out_ + "micr.txt"),
                 Record(1, TheScanner().scenario().documents[0]));
        QCOMPARE(Text(id::kStartNumber), QString("2"));
        QCOMPARE(List()->rows(), 2);
    }

    void imageDefectsAreMarkedDescribedAndCounted() {
        orvo::sim::Scenario scenario = e2e::FastScenario(3);
        scenario.documents[1].frontDefects.skewDegrees = 4;
        scenario.documents[2].rearDefects.blank = true;
        TheScanner().SetScenario(scenario);
        Save("A.tif");
        Scan();
        QVERIFY2(messages_.shown.isEmpty(), qPrintable(messages_.Texts().join('|')));
        QCOMPARE(fixture::ReadFile(out_ + "quality.txt"),
                 QByteArray("0000001\r\n0000002 skew\r\n0000003 blank compressed-size\r\n"));
        // The pages with defects are marked in the record column; the name
        // column keeps the MICR marking.
        QCOMPARE(List()->rows(), 6);
        for (int row = 0; row < 6; ++row) {
            const bool flagged = row == 2 || row == 5;
            QCOMPARE(List()->cellMarkingAt(row, 1), flagged ? PageList::kMarkedDefect : 0u);
            QCOMPARE(List()->cellMarkingAt(row, 0), 0u);
        }
        // The rear shown last; the profile scans a fixed length.
        QCOMPARE(Text(id::kQualityText),
                 QStringLiteral("blank, compressed-size; size not judged: fixed length"));
        QVERIFY2(Text(id::kStatistics)
                     .endsWith(QStringLiteral("OK rate : \t100.00%\nImage defects :\t2")),
                 qPrintable(Text(id::kStatistics)));
        // A page shown again from the list shows its defects.
        List()->setCol(0);
        for (const auto& [row, text] : {std::pair{2, "skew; size not judged: fixed length"},
                                        std::pair{3, "ok; size not judged: fixed length"}}) {
            List()->setRow(row);
            Dialog()->OnShowRowFile();
            QCOMPARE(Text(id::kNameText), List()->cellText(row, 0));
            QCOMPARE(Text(id::kQualityText), QString::fromLatin1(text));
        }
    }

    void closingDuringABatchKeepsEveryChequeRead() {
        Save("A.tif");
        orvo::sim::Scenario many = e2e::FastScenario(10);
        TheScanner().SetScenario(many);
        QSignalSpy finished(Dialog(), &QDialog::finished);
        // The close request arrives while the third page is shown.
        connect(ById<ImageView>(Dialog(), id::kFrontView), &ImageView::displayChanged, Dialog(),
                [this] {
                    if (List()->rows() == 3)
                        QTimer::singleShot(0, Dialog(), [this] { Dialog()->close(); });
                });
        Scan();
        QCOMPARE(finished.count(), 1);
        QCOMPARE(fixture::g_endCalls, 1);
        // Whole cheques only, and none the scanner fed is dropped: this
        // scanner is quick, the driver may have read more cheques by the
        // close, and each one is saved.
        const int fed = TheScanner().DocumentsAnnounced();
        QVERIFY(fed >= 2);
        QCOMPARE(Files(out_).size(), 2 * fed + 2);
        QVERIFY(Files(out_).contains(QString("A%1R.tif").arg(fed, 6, 10, QChar('0'))));
        QCOMPARE(fixture::ReadFile(out_ + "micr.txt").count('\n'), fed);
    }

    void clicksDuringABatchAreDropped() {
        Save("A.tif");
        // An operator clicks "Scan Image view" and SCAN while the batch runs:
        // neither acts, now or after the batch.
        auto* scanView = ById<QCheckBox>(Dialog(), id::kScanView);
        auto* scan = ById<QPushButton>(Dialog(), id::kScan);
        int scans = 0;
        connect(scan, &QPushButton::clicked, Dialog(), [&scans] { ++scans; });
        auto click = [](QWidget* w) {
            const QPoint centre = w->rect().center();
            QCoreApplication::postEvent(
                w, new QMouseEvent(QEvent::MouseButtonPress, centre, w->mapToGlobal(centre),
                                   Qt::LeftButton, Qt::LeftButton, Qt::NoModifier));
            QCoreApplication::postEvent(
                w, new QMouseEvent(QEvent::MouseButtonRelease, centre, w->mapToGlobal(centre),
                                   Qt::LeftButton, Qt::NoButton, Qt::NoModifier));
        };
        connect(ById<ImageView>(Dialog(), id::kFrontView), &ImageView::displayChanged, Dialog(),
                [&] {
                    if (List()->rows() == 1 &&
                        ById<ImageView>(Dialog(), id::kFrontView)->imageDisplayed()) {
                        click(scanView);
                        click(scan);
                    }
                });
        Scan();
        QCoreApplication::processEvents();
        QCOMPARE(scans, 1);
        QVERIFY(scanView->isChecked());
        QCOMPARE(Dialog()->values().scanView, 1);
        // Every page was shown: the last ones are in the views.
        QCOMPARE(ById<ImageView>(Dialog(), id::kRearView)->imagePath(), out_ + "A000004R.tif");
        QVERIFY(messages_.shown.isEmpty());
    }
};

ORVO_QT_TEST(ScanTest);
#include "scan_test.moc"
