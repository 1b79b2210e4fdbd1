// Image display in the real window after a batch on the virtual scanner: the
// four zoom modes and their toggle-off, window zoom, rotation of the view
// clicked last, the drag-scroll mode and drag scrolling measured from the
// anchor.
#include <QCheckBox>
#include <QComboBox>
#include <QLabel>
#include <QMouseEvent>
#include <QScrollBar>

#include "orvo/testing/qt_test_main.h"
#include "orvo/widgets/image_view.h"
#include "viewer_fixture.h"

using namespace orvo::viewer;
using fixture::ById;
using orvo::sim::TheScanner;
using orvo::widgets::ImageView;

namespace {

// A mouse event on a view as the operator's mouse makes it (view coordinates).
void Mouse(ImageView* view, QEvent::Type type, QPoint at, Qt::MouseButton button,
           Qt::MouseButtons held) {
    QWidget* viewport = view->viewport();
    QMouseEvent event(type, at, viewport->mapToGlobal(at), button, held, Qt::NoModifier);
    QApplication::sendEvent(viewport, &event);
}
void Press(ImageView* view, QPoint at, Qt::MouseButton button = Qt::LeftButton) {
    Mouse(view, QEvent::MouseButtonPress, at, button, button);
}
void MoveHeld(ImageView* view, QPoint at, Qt::MouseButton button = Qt::LeftButton) {
    Mouse(view, QEvent::MouseMove, at, Qt::NoButton, button);
}
void MoveFree(ImageView* view, QPoint at) {
    Mouse(view, QEvent::MouseMove, at, Qt::NoButton, Qt::NoButton);
}
void Release(ImageView* view, QPoint at, Qt::MouseButton button = Qt::LeftButton) {
    Mouse(view, QEvent::MouseButtonRelease, at, button, Qt::NoButton);
}

QPoint ScrollPosition(const ImageView* view) {
    return QPoint(view->horizontalScrollBar()->value(), view->verticalScrollBar()->value());
}

}  // namespace

class ViewTest : public QObject {
    Q_OBJECT

  private:
    fixture::CountingDriver driver_;
    fixture::Messages messages_;
    std::unique_ptr<MainDialog> dialog_;

    MainDialog* Dialog() { return dialog_.get(); }
    ImageView* Front() { return ById<ImageView>(Dialog(), id::kFrontView); }
    ImageView* Rear() { return ById<ImageView>(Dialog(), id::kRearView); }
    QString Text(int control) { return ById<QLabel>(Dialog(), control)->text(); }
    bool Checked(int control) { return ById<QCheckBox>(Dialog(), control)->isChecked(); }
    QList<bool> ZoomBoxes() {
        return {Checked(id::kPixelToPixel), Checked(id::kFitWidth), Checked(id::kFitHeight),
                Checked(id::kBestFit)};
    }
    static QString Whole(const ImageView* view) { return QString::number(int(view->zoom())); }

  private slots:
    void initTestCase() {
        fixture::UseVirtualScanner(e2e::ChequeIni("Check", 1, 0, 0));
        messages_.Install();
    }

    // A two-sided batch of two cheques: the front view shows the second
    // cheque's front, the rear view its rear, both fitted.
    void init() {
        messages_.Clear();
        e2e::WriteSettings(e2e::ChequeIni("Check", 1, 0, 0));
        TheScanner().SetScenario(e2e::FastScenario(2));
        dialog_ = std::make_unique<MainDialog>(driver_);
        dialog_->InitDialog();
        dialog_->resize(900, 650);
        dialog_->show();
        QVERIFY(QTest::qWaitForWindowExposed(dialog_.get()));
        const QString out = fixture::OutputDir();
        SetSavePathHandler([out](QWidget*, const SaveRequest&) { return out + "A.tif"; });
        fixture::Click(Dialog(), id::kSave);
        SetSavePathHandler({});
        ById<QComboBox>(Dialog(), id::kProfile)->setEditText("Check");
        fixture::ScanAndWait(Dialog());
        QVERIFY2(messages_.shown.isEmpty(), qPrintable(messages_.Texts().join('|')));
        QVERIFY(Front()->imageDisplayed());
        QVERIFY(Rear()->imageDisplayed());
        QCOMPARE(Front()->fitMode(), ImageView::FitMode::Best);
        QCOMPARE(ZoomBoxes(), (QList<bool>{false, false, false, true}));
    }

    void cleanup() { dialog_.reset(); }

    void eachFitModeAndItsToggleOff() {
        const struct {
            int control;
            ImageView::FitMode mode;
        } modes[] = {{id::kFitWidth, ImageView::FitMode::Width},
                     {id::kFitHeight, ImageView::FitMode::Height},
                     {id::kBestFit, ImageView::FitMode::Best}};
        for (const auto& m : modes) {
            fixture::Click(Dialog(), m.control);
            QList<bool> expected{false, false, false, false};
            expected[m.control - id::kPixelToPixel] = true;
            QCOMPARE(ZoomBoxes(), expected);
            QCOMPARE(Front()->fitMode(), m.mode);
            QCOMPARE(Rear()->fitMode(), m.mode);
            QCOMPARE(Text(id::kZoomText), Whole(Front()));

            // Clicked again: the box is cleared and nothing else changes.
            const qreal front = Front()->zoom();
            const qreal rear = Rear()->zoom();
            fixture::Click(Dialog(), m.control);
            QCOMPARE(ZoomBoxes(), (QList<bool>{false, false, false, false}));
            QCOMPARE(Front()->zoom(), front);
            QCOMPARE(Rear()->zoom(), rear);
            QCOMPARE(Front()->fitMode(), m.mode);
            QCOMPARE(Text(id::kZoomText), Whole(Front()));
        }
        // The fits differ: a cheque is wider than tall, the views taller than wide.
        fixture::Click(Dialog(), id::kFitWidth);
        const qreal width = Front()->zoom();
        fixture::Click(Dialog(), id::kFitHeight);
        QVERIFY(Front()->zoom() > width);
        QCOMPARE(Text(id::kZoomText), Whole(Front()));
    }

    void pixelToPixelAndItsToggleOff() {
        fixture::Click(Dialog(), id::kPixelToPixel);
        QCOMPARE(ZoomBoxes(), (QList<bool>{true, false, false, false}));
        QCOMPARE(Front()->zoom(), 100.0);
        QCOMPARE(Rear()->zoom(), 100.0);
        QCOMPARE(Front()->fitMode(), ImageView::FitMode::None);
        QCOMPARE(Text(id::kZoomText), QString("100"));
        fixture::Click(Dialog(), id::kPixelToPixel);
        QCOMPARE(ZoomBoxes(), (QList<bool>{false, false, false, false}));
        QCOMPARE(Front()->zoom(), 100.0);
        // A fit after it fits again.
        fixture::Click(Dialog(), id::kBestFit);
        QVERIFY(Front()->zoom() < 100.0);
        QCOMPARE(Text(id::kZoomText), Whole(Front()));
    }

    void pixelToPixelWithAnEmptyFrontView() {
        Front()->clearDisplay();
        const QString zoomText = Text(id::kZoomText);
        const qreal front = Front()->zoom();
        QVERIFY(Rear()->zoom() < 100.0);
        fixture::Click(Dialog(), id::kPixelToPixel);
        QCOMPARE(Text(id::kZoomText), zoomText);
        QCOMPARE(Front()->zoom(), front);
        QCOMPARE(Rear()->zoom(), 100.0);
        QCOMPARE(ZoomBoxes(), (QList<bool>{true, false, false, false}));
    }

    void zoomTextFollowsTheFrontViewAlsoWhenItIsEmpty() {
        fixture::Click(Dialog(), id::kPixelToPixel);  // both at 100
        Front()->clearDisplay();
        fixture::Click(Dialog(), id::kFitWidth);
        QCOMPARE(Text(id::kZoomText), QString("100"));  // the empty front view's zoom
        QVERIFY(Rear()->zoom() < 100.0);                // the rear view was fitted
        QCOMPARE(Front()->fitMode(), ImageView::FitMode::Width);
    }

    void windowZoomBeforeAnyClickOnlyClearsTheBoxes() {
        fixture::Click(Dialog(), id::kFitWidth);
        const qreal front = Front()->zoom();
        const qreal rear = Rear()->zoom();
        const QString zoomText = Text(id::kZoomText);
        fixture::Click(Dialog(), id::kWindowZoom);
        QCOMPARE(ZoomBoxes(), (QList<bool>{false, false, false, false}));
        QCOMPARE(Front()->zoom(), front);
        QCOMPARE(Rear()->zoom(), rear);
        QCOMPARE(Front()->fitMode(), ImageView::FitMode::Width);
        QCOMPARE(Text(id::kZoomText), zoomText);
    }

    void windowZoomOnTheAreaMarkedInTheViewClickedLast() {
        // With drag scrolling ON a drag marks nothing.
        QVERIFY(!Rear()->selectionEnabled());
        fixture::Click(Dialog(), id::kScroll);
        QCOMPARE(Text(id::kScrollText), QString("OFF"));
        QVERIFY(Front()->selectionEnabled());
        QVERIFY(Rear()->selectionEnabled());

        const qreal frontZoom = Front()->zoom();
        const qreal rearZoom = Rear()->zoom();
        // Marking the area is the click that makes the rear view active.
        const QPoint from = Rear()->imageToView(QPointF(600, 300));
        const QPoint to = Rear()->imageToView(QPointF(900, 500));
        Press(Rear(), from);
        MoveHeld(Rear(), to);
        Release(Rear(), to);
        QCOMPARE(Dialog()->viewState().rearActive, 1);
        QCOMPARE(Dialog()->viewState().frontActive, 0);
        QVERIFY(!Rear()->selection().isEmpty());

        fixture::Click(Dialog(), id::kWindowZoom);
        QVERIFY(Rear()->zoom() > rearZoom);
        QCOMPARE(Front()->zoom(), frontZoom);
        QCOMPARE(Text(id::kZoomText), Whole(Rear()));
        QCOMPARE(ZoomBoxes(), (QList<bool>{false, false, false, false}));
        // The marked area fills the view: its middle is in the middle.
        const QPointF middle = Rear()->viewToImage(
            QPoint(Rear()->viewport()->width() / 2, Rear()->viewport()->height() / 2));
        QVERIFY2(qAbs(middle.x() - 750) < 8 && qAbs(middle.y() - 400) < 8,
                 qPrintable(QStringLiteral("%1,%2").arg(middle.x()).arg(middle.y())));

        // A click on the front view makes it the active one; nothing is marked
        // there, so window zoom only shows its zoom.
        const QPoint spot = Front()->viewport()->rect().center();
        Press(Front(), spot);
        Release(Front(), spot);
        QCOMPARE(Dialog()->viewState().frontActive, 1);
        QCOMPARE(Dialog()->viewState().rearActive, 0);
        fixture::Click(Dialog(), id::kWindowZoom);
        QCOMPARE(Front()->zoom(), frontZoom);
        QCOMPARE(Text(id::kZoomText), Whole(Front()));
    }

    void rotateActsOnTheViewClickedLast() {
        const QList<bool> boxes = ZoomBoxes();
        const QString zoomText = Text(id::kZoomText);
        // No view clicked yet: the front view turns.
        fixture::Click(Dialog(), id::kRotateRight);
        QCOMPARE(Front()->quarterTurns(), 1);
        QCOMPARE(Rear()->quarterTurns(), 0);
        fixture::Click(Dialog(), id::kRotateLeft);
        fixture::Click(Dialog(), id::kRotateLeft);
        QCOMPARE(Front()->quarterTurns(), 3);

        QTest::mouseClick(Rear()->viewport(), Qt::LeftButton);
        fixture::Click(Dialog(), id::kRotateLeft);
        QCOMPARE(Rear()->quarterTurns(), 3);
        QCOMPARE(Front()->quarterTurns(), 3);
        fixture::Click(Dialog(), id::kRotateRight);
        fixture::Click(Dialog(), id::kRotateRight);
        QCOMPARE(Rear()->quarterTurns(), 1);
        // The turned page is the file's page turned.
        QCOMPARE(Rear()->shownImage().size(), QSize(Rear()->imageHeight(), Rear()->imageWidth()));
        QCOMPARE(ZoomBoxes(), boxes);
        QCOMPARE(Text(id::kZoomText), zoomText);
    }

    void dragScrollsByAFifthOfTheDistanceFromTheAnchor() {
        fixture::Click(Dialog(), id::kPixelToPixel);  // 100 %: the page is larger than the view
        ImageView* view = Front();
        QVERIFY(view->horizontalScrollBar()->maximum() > 100);
        QVERIFY(view->verticalScrollBar()->maximum() > 100);
        view->horizontalScrollBar()->setValue(50);
        view->verticalScrollBar()->setValue(50);

        Press(view, QPoint(200, 200));
        QCOMPARE(Dialog()->viewState().dragging, 1);
        QCOMPARE(Dialog()->viewState().anchorX, 200);
        QCOMPARE(Dialog()->viewState().anchorY, 200);
        // 12 left of the anchor: right by 2, up by 0.
        MoveHeld(view, QPoint(188, 200));
        QCOMPARE(ScrollPosition(view), QPoint(52, 50));
        // 20 left of the anchor: right by 4 more, measured from the anchor.
        MoveHeld(view, QPoint(180, 200));
        QCOMPARE(ScrollPosition(view), QPoint(56, 50));
        // 14 below and 9 right of it: up by 2, left by 1 (divisions truncate).
        MoveHeld(view, QPoint(209, 214));
        QCOMPARE(ScrollPosition(view), QPoint(55, 48));
        // 4 above, 3 left: amounts 0, nothing moves.
        MoveHeld(view, QPoint(197, 196));
        QCOMPARE(ScrollPosition(view), QPoint(55, 48));
        // 11 above: down by 2.
        MoveHeld(view, QPoint(200, 189));
        QCOMPARE(ScrollPosition(view), QPoint(55, 50));
        Release(view, QPoint(200, 189));
        QCOMPARE(Dialog()->viewState().dragging, 0);
        // Moves without a button down scroll nothing.
        MoveFree(view, QPoint(100, 100));
        QCOMPARE(ScrollPosition(view), QPoint(55, 50));

        // Any button starts a drag, and the rear view scrolls itself; the
        // anchor is shared.
        ImageView* rear = Rear();
        rear->horizontalScrollBar()->setValue(50);
        rear->verticalScrollBar()->setValue(50);
        Press(rear, QPoint(100, 100), Qt::RightButton);
        MoveHeld(rear, QPoint(75, 100), Qt::RightButton);
        QCOMPARE(ScrollPosition(rear), QPoint(55, 50));
        QCOMPARE(ScrollPosition(view), QPoint(55, 50));
        Release(rear, QPoint(75, 100), Qt::RightButton);
    }

    void dragScrollModeSwitchedOffMidDrag() {
        fixture::Click(Dialog(), id::kPixelToPixel);
        ImageView* view = Front();
        view->horizontalScrollBar()->setValue(50);
        view->verticalScrollBar()->setValue(50);
        Press(view, QPoint(200, 200));
        QCOMPARE(Dialog()->viewState().dragging, 1);

        fixture::Click(Dialog(), id::kScroll);  // OFF
        QCOMPARE(Text(id::kScrollText), QString("OFF"));
        MoveHeld(view, QPoint(150, 200));
        QCOMPARE(ScrollPosition(view), QPoint(50, 50));
        Release(view, QPoint(150, 200));
        // The mouse-up with the mode OFF does not end the drag.
        QCOMPARE(Dialog()->viewState().dragging, 1);
        QCOMPARE(Dialog()->viewState().anchorX, 200);

        fixture::Click(Dialog(), id::kScroll);  // ON again
        QCOMPARE(Text(id::kScrollText), QString("ON"));
        // The old anchor and the drag are still in force.
        MoveFree(view, QPoint(190, 200));
        QCOMPARE(ScrollPosition(view), QPoint(52, 50));
        // The next mouse-down sets a new anchor, the mouse-up ends the drag.
        Press(view, QPoint(300, 300));
        QCOMPARE(Dialog()->viewState().anchorX, 300);
        Release(view, QPoint(300, 300));
        QCOMPARE(Dialog()->viewState().dragging, 0);
        MoveFree(view, QPoint(250, 250));
        QCOMPARE(ScrollPosition(view), QPoint(52, 50));
    }
};

ORVO_QT_TEST(ViewTest);
#include "view_test.moc"
