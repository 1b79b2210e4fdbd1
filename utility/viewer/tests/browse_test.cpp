// Browsing the pages of a batch scanned on the virtual scanner, in the real
// window: a row's file in its view, the slide show driven by its timer, and
// deletion of one row's file or of every listed file, checked on disk. Only
// the batch's own page files are ever removed; micr.txt never.
#include <QCheckBox>
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QSignalSpy>
#include <QTableWidget>
#include <QTimer>

#include "orvo/testing/qt_test_main.h"
#include "orvo/widgets/image_view.h"
#include "orvo/widgets/page_list.h"
#include "row_file.h"
#include "viewer_fixture.h"

using namespace orvo::viewer;
using fixture::ById;
using orvo::sim::TheScanner;
using orvo::widgets::ImageView;
using orvo::widgets::PageList;

namespace {

using fixture::Files;

QString Page(const QString& prefix, int n, char side, const QString& ext = "tif") {
    return QStringLiteral("%1%2%3.%4")
        .arg(prefix)
        .arg(n, 6, 10, QLatin1Char('0'))
        .arg(side)
        .arg(ext);
}

}  // namespace

class BrowseTest : public QObject {
    Q_OBJECT

  private:
    fixture::CountingDriver driver_;
    fixture::Messages messages_;
    QString out_;
    std::unique_ptr<MainDialog> dialog_;

    MainDialog* Dialog() { return dialog_.get(); }
    PageList* List() { return ById<PageList>(Dialog(), id::kPageList); }
    ImageView* Front() { return ById<ImageView>(Dialog(), id::kFrontView); }
    ImageView* Rear() { return ById<ImageView>(Dialog(), id::kRearView); }
    QString Text(int control) { return ById<QLabel>(Dialog(), control)->text(); }
    QStringList Information() {
        QStringList texts;
        for (int control :
             {id::kNameText, id::kFormatText, id::kSizeText, id::kWidthText, id::kHeightText,
              id::kXResolutionText, id::kYResolutionText, id::kZoomText})
            texts << Text(control);
        return texts;
    }

    void Save(const QString& name) {
        SetSavePathHandler([this, name](QWidget*, const SaveRequest&) { return out_ + name; });
        fixture::Click(Dialog(), id::kSave);
        SetSavePathHandler({});
    }
    void Scan(const QString& profile, int cheques) {
        TheScanner().SetScenario(e2e::FastScenario(cheques));
        ById<QComboBox>(Dialog(), id::kProfile)->setEditText(profile);
        fixture::ScanAndWait(Dialog());
    }
    // The operator clicks a cell of the page list.
    void ClickCell(int row, int col) {
        QTableWidget* table = List()->table();
        const QModelIndex index = table->model()->index(row, col);
        table->scrollTo(index);
        QTest::mouseClick(table->viewport(), Qt::LeftButton, {}, table->visualRect(index).center());
    }
    void Key(char key) { QTest::keyClick(List()->table(), key); }
    void DeleteAllOff() {
        fixture::Click(Dialog(), id::kDeleteAll);
        QVERIFY(!ById<QCheckBox>(Dialog(), id::kDeleteAll)->isChecked());
    }

  private slots:
    void initTestCase() {
        fixture::UseVirtualScanner(e2e::ChequeIni("Check", 1, 0, 0));
        messages_.Install();
    }

    // A two-sided batch of two cheques into A*.tif: rows A000001F,
    // A000001R, A000002F, A000002R.
    void init() {
        messages_.Clear();
        e2e::WriteSettings(e2e::ChequeIni("Check", 1, 0, 0) +
                           "[Single]\nSide=0\nScanWidth=1728\nScanLines1=800\n");
        dialog_ = std::make_unique<MainDialog>(driver_);
        dialog_->InitDialog();
        dialog_->resize(900, 650);
        dialog_->show();
        QVERIFY(QTest::qWaitForWindowExposed(dialog_.get()));
        out_ = fixture::OutputDir();
        Save("A.tif");
        Scan("Check", 2);
        QVERIFY2(messages_.shown.isEmpty(), qPrintable(messages_.Texts().join('|')));
        QCOMPARE(List()->rows(), 4);
    }

    void cleanup() {
        dialog_.reset();
        messages_.Clear();
    }

    void onlyPageTailsNameFiles() {
        const orvo::scanrun::OutputLocation at{"/d", "/d/A", "A", "tif"};
        const std::optional<RowFile> rear = RowFileOf("A000012R", at);
        QVERIFY(rear);
        QCOMPARE(rear->path, std::string("/d/A000012R.tif"));
        QCOMPARE(rear->displayName, QString("A000012R"));
        QVERIFY(!rear->front);
        QVERIFY(RowFileOf("000001F", at)->front);  // a file title may be empty
        for (const char* text : {"", "F", "A00012F", "A000012", "A000012f", "A000012RX",
                                 "A00001 2F", "A0000x2F", "00000010T021000021T 0000000001U 000"}) {
            QVERIFY2(!RowFileOf(text, at), text);
        }
    }

    void aClickShowsTheRowsFileWithItsInformation() {
        Front()->rotateRight();
        ClickCell(1, 0);
        QCOMPARE(Rear()->imagePath(), out_ + "A000001R.tif");
        QVERIFY(Rear()->imageDisplayed());
        QCOMPARE(Text(id::kNameText), QString("A000001R"));
        QCOMPARE(Text(id::kFormatText), QString("tif"));
        QCOMPARE(Text(id::kSizeText), QString::number(QFileInfo(out_ + "A000001R.tif").size()));
        QCOMPARE(Text(id::kWidthText), QString("1728"));
        QCOMPARE(Text(id::kHeightText), QString::number(Rear()->imageHeight()));
        QCOMPARE(Text(id::kXResolutionText), QString("200"));
        QCOMPARE(Text(id::kZoomText), QString::number(int(Rear()->zoom())));

        ClickCell(0, 0);
        QCOMPARE(Front()->imagePath(), out_ + "A000001F.tif");
        QCOMPARE(Front()->quarterTurns(), 0);  // shown upright again
        QCOMPARE(Text(id::kNameText), QString("A000001F"));
        // The keyboard moves through the rows too.
        QTest::keyClick(List()->table(), Qt::Key_Down);
        QTest::keyClick(List()->table(), Qt::Key_Down);
        QCOMPARE(List()->row(), 2);
        QCOMPARE(Front()->imagePath(), out_ + "A000002F.tif");
        QCOMPARE(Text(id::kNameText), QString("A000002F"));
    }

    void aSaveAfterTheBatchPointsTheRowsAtTheNewLocation() {
        Save("B.bmp");
        ClickCell(2, 0);
        QCOMPARE(Front()->imagePath(), out_ + "B000002F.bmp");
        QVERIFY(!Front()->imageDisplayed());  // there is no such file
        QVERIFY(messages_.shown.isEmpty());
    }

    void theMicrColumnNamesNoFile() {
        ClickCell(1, 0);
        const QString front = Front()->imagePath();
        const QString rear = Rear()->imagePath();
        const QStringList information = Information();
        // The file the record's last seven characters would name.
        const QString record = List()->cellText(0, 1);
        QVERIFY(record.startsWith("0000001"));
        const QString decoy = out_ + "A" + record.right(7) + ".tif";
        e2e::WriteText(decoy.toStdString(), "not a page");
        const QStringList before = Files(out_);

        ClickCell(0, 1);
        QCOMPARE(List()->col(), 1);
        QCOMPARE(Front()->imagePath(), front);
        QCOMPARE(Rear()->imagePath(), rear);
        QCOMPARE(Information(), information);

        DeleteAllOff();
        Key('d');
        Key('D');
        QVERIFY(messages_.shown.isEmpty());
        QCOMPARE(Files(out_), before);
        QCOMPARE(List()->rows(), 4);

        // Even a record that ends like a page name names nothing.
        List()->setRow(0);
        List()->setCol(1);
        List()->setText("00000011T000002F");
        ClickCell(0, 1);
        QCOMPARE(Front()->imagePath(), front);
        Key('d');
        QVERIFY(messages_.shown.isEmpty());
        QCOMPARE(Files(out_), before);
    }

    void anEmptiedRowShowsAndRemovesNothing() {
        // A batch that cannot start leaves the list with one empty row.
        e2e::WriteSettings(
            e2e::Ini({{"Check", {{"Side", "1"}, {"ScanWidth", "1728"}, {"ScanLines1", "800"}}},
                      {"Misc", {{"EndorserFormat", "$X"}}}}));
        messages_.answers << Answer::Ok;  // replace the pages of the earlier batch
        ById<QLineEdit>(Dialog(), id::kStartNumber)->setText("1");
        Scan("Check", 2);
        QCOMPARE(messages_.shown.size(), 2);
        QVERIFY(messages_.shown.last().text.contains("Illegal endorser format"));
        messages_.Clear();
        QCOMPARE(List()->rows(), 1);
        QCOMPARE(List()->cellText(0, 0), QString());
        // "<prefix>.<extension>" is what an empty cell would name.
        e2e::WriteText((out_ + "A.tif").toStdString(), "not a page");
        const QStringList before = Files(out_);
        const QString front = Front()->imagePath();

        ClickCell(0, 0);
        QVERIFY(!Front()->imageDisplayed());
        QCOMPARE(Front()->imagePath(), front);
        QCOMPARE(Text(id::kNameText), QString());
        DeleteAllOff();
        Key('d');
        QVERIFY(messages_.shown.isEmpty());
        QCOMPARE(List()->rows(), 1);
        QCOMPARE(Files(out_), before);

        fixture::Click(Dialog(), id::kDeleteAll);  // delete all
        Key('d');
        QCOMPARE(messages_.Texts(),
                 QStringList{"Warning! All files will be deleted...\n\nFolder: " + out_.chopped(1) +
                             "\nPrefix: A\nFiles: 0 page file(s) named in the list"});
        QCOMPARE(List()->rows(), 0);
        QCOMPARE(Files(out_), before);
    }

    void deleteOne() {
        DeleteAllOff();
        const QByteArray micr = fixture::ReadFile(out_ + "micr.txt");
        ClickCell(2, 0);
        QCOMPARE(Front()->imagePath(), out_ + "A000002F.tif");
        const QStringList information = Information();

        messages_.answers << Answer::Cancel;
        Key('d');
        QCOMPARE(messages_.shown.size(), 1);
        const Message question = messages_.shown.first();
        QCOMPARE(question.text, out_ + "A000002F.tif will be deleted...");
        QCOMPARE(question.caption, QString("orvo_viewer"));
        QCOMPARE(int(question.buttons), int(MessageButtons::OkCancel));
        QVERIFY(QFile::exists(out_ + "A000002F.tif"));
        QCOMPARE(List()->rows(), 4);

        messages_.Clear();
        Key('D');  // OK
        QCOMPARE(messages_.Texts(), QStringList{out_ + "A000002F.tif will be deleted..."});
        QCOMPARE(Files(out_), (QStringList{"A000001F.tif", "A000001R.tif", "A000002R.tif",
                                           "micr.txt", "quality.txt"}));
        QCOMPARE(fixture::ReadFile(out_ + "micr.txt"), micr);
        QCOMPARE(List()->rows(), 3);
        QCOMPARE(List()->cellText(2, 0), QString("A000002R"));
        QCOMPARE(List()->row(), 2);
        // The views and the information stay as they were.
        QCOMPARE(Front()->imagePath(), out_ + "A000002F.tif");
        QVERIFY(Front()->imageDisplayed());
        QCOMPARE(Information(), information);

        // A file that is already gone: the row goes, without a word.
        QVERIFY(QFile::remove(out_ + "A000002R.tif"));
        messages_.Clear();
        Key('d');
        QCOMPARE(messages_.shown.size(), 1);
        QCOMPARE(List()->rows(), 2);
        QCOMPARE(Files(out_),
                 (QStringList{"A000001F.tif", "A000001R.tif", "micr.txt", "quality.txt"}));
    }

    void aClickWhileTheDeleteQuestionIsOpenShowsNothing() {
        DeleteAllOff();
        ClickCell(0, 0);
        QString shownDuringQuestion;
        SetMessageHandler([&](QWidget*, const Message&) {
            ClickCell(2, 0);
            shownDuringQuestion = Front()->imagePath();
            return Answer::Cancel;
        });
        Key('d');
        messages_.Install();
        QCOMPARE(shownDuringQuestion, out_ + "A000001F.tif");
        QCOMPARE(List()->rows(), 4);
        // Afterwards clicks show files again.
        ClickCell(2, 0);
        QCOMPARE(Front()->imagePath(), out_ + "A000002F.tif");
    }

    void deleteAll() {
        const QByteArray micr = fixture::ReadFile(out_ + "micr.txt");
        // A page of an earlier batch that is not listed stays.
        e2e::WriteText((out_ + "A000009F.tif").toStdString(), "earlier");
        ClickCell(1, 0);

        messages_.answers << Answer::Cancel;
        Key('d');
        // The warning names the folder, the prefix and how many files go.
        QCOMPARE(messages_.Texts(),
                 QStringList{"Warning! All files will be deleted...\n\nFolder: " + out_.chopped(1) +
                             "\nPrefix: A\nFiles: 4 page file(s) named in the list"});
        QCOMPARE(messages_.shown.first().caption, QString("orvo_viewer"));
        QCOMPARE(int(messages_.shown.first().buttons), int(MessageButtons::OkCancel));
        QCOMPARE(Files(out_).size(), 7);  // the pages, micr.txt, quality.txt, the earlier page
        QCOMPARE(List()->rows(), 4);
        QVERIFY(Rear()->imageDisplayed());

        messages_.Clear();
        Key('D');  // OK
        QCOMPARE(messages_.shown.size(), 1);
        QCOMPARE(Files(out_), (QStringList{"A000009F.tif", "micr.txt", "quality.txt"}));
        QCOMPARE(fixture::ReadFile(out_ + "micr.txt"), micr);
        QCOMPARE(List()->rows(), 0);
        QVERIFY(!Front()->imageDisplayed());
        QVERIFY(!Rear()->imageDisplayed());
        for (const QString& text : Information()) QCOMPARE(text, QString());
    }

    void deleteAllAfterAOneSidedBatchRemovesItsPages() {
        // The last row's record cell is current after a one-sided batch.
        ById<QLineEdit>(Dialog(), id::kStartNumber)->setText("7");
        Scan("Single", 3);
        QVERIFY(messages_.shown.isEmpty());
        QCOMPARE(List()->col(), 1);
        Key('d');
        QCOMPARE(messages_.shown.size(), 1);
        QCOMPARE(Files(out_), (QStringList{"A000001F.tif", "A000001R.tif", "A000002F.tif",
                                           "A000002R.tif", "micr.txt", "quality.txt"}));
    }

    void slideShowOverThreeRows() {
        ById<QLineEdit>(Dialog(), id::kStartNumber)->setText("5");
        Scan("Single", 3);
        QCOMPARE(List()->rows(), 3);
        QCOMPARE(List()->col(), 1);  // the record of the last page is current
        QCOMPARE(ById<QLineEdit>(Dialog(), id::kSlideInterval)->text(), QString("200"));

        QTimer* timer = Dialog()->slideTimer();
        QSignalSpy steps(timer, &QTimer::timeout);
        struct Shown {
            QString path;
            int row;
            QString status;
        };
        QList<Shown> shown;
        connect(Front(), &ImageView::displayChanged, Dialog(), [&] {
            shown << Shown{Front()->imagePath(), List()->row(), Dialog()->values().statusText};
        });
        fixture::Click(Dialog(), id::kSlideShow);
        QCOMPARE(Text(id::kStatusText), QString("Slide show is processing..."));
        QVERIFY(timer->isActive());
        QCOMPARE(timer->interval(), 200);
        QCOMPARE(Dialog()->browseState().rowsLeft, 3);

        QTRY_COMPARE_WITH_TIMEOUT(Text(id::kStatusText), QString(" Slide show is finished..."),
                                  20000);
        QCOMPARE(steps.count(), 4);
        QVERIFY(!timer->isActive());
        QCOMPARE(Dialog()->browseState().slideIdle, 1);
        QCOMPARE(shown.size(), 3);
        for (int i = 0; i < 3; ++i) {
            QCOMPARE(shown[i].path, Page(out_ + "A", 7 - i, 'F'));
            QCOMPARE(shown[i].row, 2 - i);
            QCOMPARE(shown[i].status, QString("Slide show is processing..."));
        }
        QCOMPARE(Text(id::kNameText), QString("A000005F"));
    }

    void slideShowStopAndRestart() {
        QTimer* timer = Dialog()->slideTimer();
        QStringList shown;
        connect(Rear(), &ImageView::displayChanged, Dialog(),
                [&] { shown << QFileInfo(Rear()->imagePath()).fileName(); });
        connect(Front(), &ImageView::displayChanged, Dialog(),
                [&] { shown << QFileInfo(Front()->imagePath()).fileName(); });
        fixture::Click(Dialog(), id::kSlideShow);
        QTRY_COMPARE_WITH_TIMEOUT(shown.size(), 1, 20000);
        fixture::Click(Dialog(), id::kSlideShow);
        QCOMPARE(Text(id::kStatusText), QString("Slide show is stopped..."));
        QVERIFY(!timer->isActive());
        QCOMPARE(Dialog()->browseState().slideIdle, 1);
        const int stoppedAt = int(shown.size());
        QVERIFY(stoppedAt <= 2);

        // Started again, it begins with the last row.
        fixture::Click(Dialog(), id::kSlideShow);
        QCOMPARE(Text(id::kStatusText), QString("Slide show is processing..."));
        QTRY_COMPARE_WITH_TIMEOUT(Text(id::kStatusText), QString(" Slide show is finished..."),
                                  20000);
        QCOMPARE(shown.mid(stoppedAt),
                 (QStringList{"A000002R.tif", "A000002F.tif", "A000001R.tif", "A000001F.tif"}));
        QCOMPARE(shown.first(), QString("A000002R.tif"));
    }

    void slideShowOverAnEmptyList() {
        Key('d');  // delete all: OK
        QCOMPARE(List()->rows(), 0);
        QSignalSpy steps(Dialog()->slideTimer(), &QTimer::timeout);
        QSignalSpy frontShown(Front(), &ImageView::displayChanged);
        ById<QLineEdit>(Dialog(), id::kSlideInterval)->setText("50");
        fixture::Click(Dialog(), id::kSlideShow);
        QCOMPARE(Dialog()->slideTimer()->interval(), 50);
        QTRY_COMPARE_WITH_TIMEOUT(Text(id::kStatusText), QString(" Slide show is finished..."),
                                  20000);
        QCOMPARE(steps.count(), 1);
        QCOMPARE(frontShown.count(), 0);

        // An interval of 0 runs at the shortest period of a window timer.
        ById<QLineEdit>(Dialog(), id::kSlideInterval)->setText("0");
        fixture::Click(Dialog(), id::kSlideShow);
        QCOMPARE(Dialog()->slideTimer()->interval(), 10);
        QTRY_COMPARE_WITH_TIMEOUT(Dialog()->browseState().slideIdle, 1, 20000);
        QCOMPARE(steps.count(), 2);
    }

    void aSlideShowGoesOnThroughAScan() {
        ById<QLineEdit>(Dialog(), id::kSlideInterval)->setText("600000");
        fixture::Click(Dialog(), id::kSlideShow);
        QCOMPARE(Dialog()->browseState().rowsLeft, 4);
        ById<QLineEdit>(Dialog(), id::kStartNumber)->setText("3");
        // Once the batch shows its first page, the timer is made due: its
        // step runs while the batch goes on (between two pages).
        QTimer* timer = Dialog()->slideTimer();
        QList<bool> stepsWhileScanning;
        connect(timer, &QTimer::timeout, Dialog(), [&] {
            stepsWhileScanning << Dialog()->scanning();
            timer->setInterval(600000);
        });
        connect(Front(), &ImageView::displayChanged, Dialog(), [&] {
            if (Dialog()->scanning() && stepsWhileScanning.isEmpty()) timer->setInterval(0);
        });
        Scan("Check", 1);
        QVERIFY(messages_.shown.isEmpty());
        QCOMPARE(List()->rows(), 2);
        QCOMPARE(stepsWhileScanning, QList<bool>{true});
        // Neither stopped nor reset by the batch.
        QVERIFY(timer->isActive());
        QCOMPARE(Dialog()->browseState().slideIdle, 0);
        QCOMPARE(Dialog()->browseState().rowsLeft, 3);
        QCOMPARE(Text(id::kStatusText), QString("Scanning finished."));
        fixture::Click(Dialog(), id::kSlideShow);
        QCOMPARE(Text(id::kStatusText), QString("Slide show is stopped..."));
    }
};

ORVO_QT_TEST(BrowseTest);
#include "browse_test.moc"
