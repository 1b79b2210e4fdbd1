// Image display: the zoom modes, window zoom, rotation, and drag scrolling of
// the two views. Rotation and window zoom act on the view the operator
// clicked last (the front view until a view was clicked).
#include <QCheckBox>
#include <QPushButton>

#include "main_dialog.h"
#include "orvo/widgets/image_view.h"
#include "ui_main_dialog.h"

namespace orvo::viewer {

namespace {

// One move scrolls by a fifth of the distance from the anchor.
constexpr int kDragDivisor = 5;

QString WholePercent(const widgets::ImageView& view) {
    return QString::number(static_cast<int>(view.zoom()));
}

}  // namespace

void MainDialog::ConnectViewCommands() {
    connect(ui_->pixelToPixelCheck, &QCheckBox::clicked, this, &MainDialog::OnPixelToPixel);
    connect(ui_->fitWidthCheck, &QCheckBox::clicked, this,
            [this] { OnFit(widgets::ImageView::FitToWidth); });
    connect(ui_->fitHeightCheck, &QCheckBox::clicked, this,
            [this] { OnFit(widgets::ImageView::FitToHeight); });
    connect(ui_->bestFitCheck, &QCheckBox::clicked, this,
            [this] { OnFit(widgets::ImageView::BestFit); });
    connect(ui_->windowZoomButton, &QPushButton::clicked, this, &MainDialog::OnWindowZoom);
    connect(ui_->scrollButton, &QPushButton::clicked, this, &MainDialog::OnToggleDragScroll);
    connect(ui_->rotateRightButton, &QPushButton::clicked, this, &MainDialog::OnRotateRight);
    connect(ui_->rotateLeftButton, &QPushButton::clicked, this, &MainDialog::OnRotateLeft);

    for (widgets::ImageView* view : {ui_->frontView, ui_->rearView}) {
        connect(view, &widgets::ImageView::clicked, this, [this, view] { OnViewClicked(view); });
        connect(view, &widgets::ImageView::mouseDown, this,
                [this](int, int, int x, int y) { OnViewMouseDown(x, y); });
        connect(view, &widgets::ImageView::mouseMove, this,
                [this, view](int, int, int x, int y) { OnViewMouseMove(view, x, y); });
        connect(view, &widgets::ImageView::mouseUp, this, [this] { OnViewMouseUp(); });
        // Areas are marked while the drag-scroll mode is OFF.
        view->setSelectionEnabled(view_.dragScroll == 0);
    }
}

widgets::ImageView* MainDialog::ActiveView() const {
    return view_.rearActive ? ui_->rearView : ui_->frontView;
}

void MainDialog::OnPixelToPixel() {
    ReadDialog();
    if (!values_.pixelToPixel) return;  // the operator cleared it
    values_.fitWidth = 0;
    values_.fitHeight = 0;
    values_.bestFit = 0;
    if (ui_->frontView->imageDisplayed()) {
        ui_->frontView->setZoom(100.0);
        values_.zoomText = WholePercent(*ui_->frontView);
    }
    RefreshDialog();
    ui_->frontView->refresh();
    if (ui_->rearView->imageDisplayed()) ui_->rearView->setZoom(100.0);
    RefreshDialog();
    ui_->rearView->refresh();
}

void MainDialog::OnFit(int option) {
    ReadDialog();
    int* const flags[] = {&values_.bestFit, &values_.fitWidth, &values_.fitHeight};
    if (option < 0 || option > 2 || !*flags[option]) return;  // the operator cleared it
    values_.pixelToPixel = 0;
    for (int i = 0; i < 3; ++i) {
        if (i != option) *flags[i] = 0;
    }
    // Also a view that shows nothing keeps fitting the pages it shows next.
    ui_->frontView->fit(option);
    ui_->rearView->fit(option);
    values_.zoomText = WholePercent(*ui_->frontView);
    RefreshDialog();
    ui_->frontView->refresh();
    ui_->rearView->refresh();
}

void MainDialog::OnWindowZoom() {
    ReadDialog();
    if (view_.rearActive) {
        ui_->rearView->zoomToSelection();
        values_.zoomText = WholePercent(*ui_->rearView);
    } else if (view_.frontActive) {
        ui_->frontView->zoomToSelection();
        values_.zoomText = WholePercent(*ui_->frontView);
    }
    values_.pixelToPixel = 0;
    values_.fitWidth = 0;
    values_.fitHeight = 0;
    values_.bestFit = 0;
    RefreshDialog();
}

void MainDialog::OnRotateRight() {
    ActiveView()->rotateRight();
}

void MainDialog::OnRotateLeft() {
    ActiveView()->rotateLeft();
}

void MainDialog::OnViewClicked(widgets::ImageView* view) {
    const bool rear = view == ui_->rearView;
    view_.rearActive = rear ? 1 : 0;
    view_.frontActive = rear ? 0 : 1;
}

void MainDialog::OnToggleDragScroll() {
    if (view_.dragScroll) {
        values_.scrollText = QStringLiteral("OFF");
        view_.dragScroll = 0;
    } else {
        values_.scrollText = QStringLiteral("ON");
        view_.dragScroll = 1;
    }
    // The dragging flag and the anchor stay as they are.
    ui_->frontView->setSelectionEnabled(view_.dragScroll == 0);
    ui_->rearView->setSelectionEnabled(view_.dragScroll == 0);
    RefreshDialog();
}

void MainDialog::OnViewMouseDown(int x, int y) {
    if (!view_.dragScroll) return;
    ReadDialog();
    view_.anchorX = x;
    view_.anchorY = y;
    view_.dragging = 1;
    RefreshDialog();
}

void MainDialog::OnViewMouseMove(widgets::ImageView* view, int x, int y) {
    if (!view_.dragScroll || !view_.dragging) return;
    // Every move scrolls by the whole distance from the anchor (64-bit, so
    // that no coordinate overflows the difference).
    const int64_t dx = int64_t{view_.anchorX} - x;
    const int64_t dy = int64_t{view_.anchorY} - y;
    if (dx > 0) {
        view->scroll(widgets::ImageView::ScrollRight, static_cast<int>(dx / kDragDivisor));
    } else {
        view->scroll(widgets::ImageView::ScrollLeft, static_cast<int>(-dx / kDragDivisor));
    }
    if (dy > 0) {
        view->scroll(widgets::ImageView::ScrollDown, static_cast<int>(dy / kDragDivisor));
    } else {
        view->scroll(widgets::ImageView::ScrollUp, static_cast<int>(-dy / kDragDivisor));
    }
    RefreshDialog();
}

void MainDialog::OnViewMouseUp() {
    if (view_.dragScroll && view_.dragging) view_.dragging = 0;
}

}  // namespace orvo::viewer
