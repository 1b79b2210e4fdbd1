#include "orvo/widgets/image_view.h"

#include <QFileInfo>
#include <QMouseEvent>
#include <QPaintEvent>
#include <QPainter>
#include <QRubberBand>
#include <QScrollBar>
#include <QStyle>
#include <QTransform>
#include <algorithm>
#include <cmath>

#include "orvo/widgets/block_reduce.h"
#include "orvo/widgets/image_loader.h"

namespace orvo::widgets {

namespace {

int ButtonCode(Qt::MouseButtons buttons) {
    int code = 0;
    if (buttons & Qt::LeftButton) code |= ImageView::LeftButton;
    if (buttons & Qt::RightButton) code |= ImageView::RightButton;
    if (buttons & Qt::MiddleButton) code |= ImageView::MiddleButton;
    return code;
}

int ShiftCode(Qt::KeyboardModifiers modifiers) {
    int code = 0;
    if (modifiers & Qt::ShiftModifier) code |= ImageView::ShiftKey;
    if (modifiers & Qt::ControlModifier) code |= ImageView::ControlKey;
    if (modifiers & Qt::AltModifier) code |= ImageView::AltKey;
    return code;
}

qreal ClampZoom(qreal percent) {
    if (!std::isfinite(percent)) return 100.0;
    return std::clamp(percent, ImageView::kMinZoom, ImageView::kMaxZoom);
}

}  // namespace

ImageView::ImageView(QWidget* parent) : QAbstractScrollArea(parent) {
    setHorizontalScrollBarPolicy(Qt::ScrollBarAsNeeded);
    setVerticalScrollBarPolicy(Qt::ScrollBarAsNeeded);
    viewport()->setMouseTracking(true);
    viewport()->setBackgroundRole(QPalette::Dark);
    viewport()->setAutoFillBackground(false);
    setFocusPolicy(Qt::ClickFocus);
}

ImageView::~ImageView() = default;

QSize ImageView::scaledSize() const {
    if (source_.isNull()) return QSize();
    const qreal f = zoom_ / 100.0;
    return QSize(std::max(1, static_cast<int>(std::lround(source_.width() * f))),
                 std::max(1, static_cast<int>(std::lround(source_.height() * f))));
}

QPoint ImageView::contentOrigin() const {
    const QSize scaled = scaledSize();
    const QSize area = viewport()->size();
    const int x = scaled.width() < area.width() ? (area.width() - scaled.width()) / 2
                                                : -horizontalScrollBar()->value();
    const int y = scaled.height() < area.height() ? (area.height() - scaled.height()) / 2
                                                  : -verticalScrollBar()->value();
    return QPoint(x, y);
}

QPoint ImageView::imageToView(const QPointF& imagePoint) const {
    const qreal f = zoom_ / 100.0;
    const QPoint origin = contentOrigin();
    return QPoint(origin.x() + static_cast<int>(std::floor(imagePoint.x() * f)),
                  origin.y() + static_cast<int>(std::floor(imagePoint.y() * f)));
}

QPointF ImageView::viewToImage(const QPoint& viewPoint) const {
    const qreal f = zoom_ / 100.0;
    const QPoint origin = contentOrigin();
    return QPointF((viewPoint.x() - origin.x()) / f, (viewPoint.y() - origin.y()) / f);
}

void ImageView::setFitMode(FitMode mode) {
    if (fitMode_ == mode) return;
    fitMode_ = mode;
    emit fitModeChanged(mode);
}

void ImageView::setZoom(qreal percent) {
    setFitMode(FitMode::None);
    const QPoint centre(viewport()->width() / 2, viewport()->height() / 2);
    changeZoom(ClampZoom(percent), viewToImage(centre), centre);
}

void ImageView::changeZoom(qreal percent, const QPointF& keepImagePoint,
                           const QPoint& atViewPoint) {
    const bool changed = percent != zoom_;
    zoom_ = percent;
    dropCache();
    updateScrollBars();
    if (!source_.isNull()) {
        const qreal f = zoom_ / 100.0;
        horizontalScrollBar()->setValue(
            static_cast<int>(std::lround(keepImagePoint.x() * f - atViewPoint.x())));
        verticalScrollBar()->setValue(
            static_cast<int>(std::lround(keepImagePoint.y() * f - atViewPoint.y())));
    }
    viewport()->update();
    if (changed) emit zoomChanged(zoom_);
}

void ImageView::fit(int option) {
    switch (option) {
        case FitToWidth:
            setFitMode(FitMode::Width);
            break;
        case FitToHeight:
            setFitMode(FitMode::Height);
            break;
        default:
            setFitMode(FitMode::Best);
            break;
    }
    applyFit();
}

void ImageView::applyFit() {
    if (source_.isNull() || fitMode_ == FitMode::None) return;
    // The room without scroll bars; a fit to one side leaves room for the
    // scroll bar the other side then needs.
    const QSize room = maximumViewportSize();
    const qreal w = source_.width();
    const qreal h = source_.height();
    const int bar = style()->pixelMetric(QStyle::PM_ScrollBarExtent, nullptr, this);
    qreal f = 1.0;
    switch (fitMode_) {
        case FitMode::Best:
            f = std::min(room.width() / w, room.height() / h);
            break;
        case FitMode::Width:
            f = room.width() / w;
            if (h * f > room.height()) f = std::max(1, room.width() - bar) / w;
            break;
        case FitMode::Height:
            f = room.height() / h;
            if (w * f > room.width()) f = std::max(1, room.height() - bar) / h;
            break;
        case FitMode::None:
            return;
    }
    // The part of the page in the middle of the view stays there.
    const QPoint centre(viewport()->width() / 2, viewport()->height() / 2);
    changeZoom(ClampZoom(f * 100.0), viewToImage(centre), centre);
}

void ImageView::updateScrollBars() {
    const QSize scaled = scaledSize();
    const QSize area = viewport()->size();
    QScrollBar* h = horizontalScrollBar();
    QScrollBar* v = verticalScrollBar();
    h->setRange(0, std::max(0, scaled.width() - area.width()));
    v->setRange(0, std::max(0, scaled.height() - area.height()));
    h->setPageStep(std::max(1, area.width()));
    v->setPageStep(std::max(1, area.height()));
    h->setSingleStep(std::max(1, area.width() / 20));
    v->setSingleStep(std::max(1, area.height() / 20));
}

void ImageView::dropCache() {
    cache_ = QImage();
    cacheSize_ = QSize();
}

const QImage& ImageView::fullSizeImage() {
    if (source_.format() != QImage::Format_Mono) return source_;
    if (expanded_.isNull()) expanded_ = ExpandBilevel(source_);
    return expanded_;
}

QImage ImageView::shownImage() const {
    if (source_.format() == QImage::Format_Mono) return ExpandBilevel(source_);
    return source_;
}

void ImageView::display() {
    LoadedImage loaded = LoadImageFile(path_);
    selection_ = QRect();
    if (band_) band_->hide();
    turns_ = 0;
    expanded_ = QImage();
    if (loaded.ok()) {
        source_ = std::move(loaded.image);
        fileSize_ = source_.size();
        xResolution_ = loaded.xResolution;
        yResolution_ = loaded.yResolution;
        status_.clear();
    } else {
        source_ = QImage();
        fileSize_ = QSize(0, 0);
        xResolution_ = 0;
        yResolution_ = 0;
        status_ = loaded.error + QLatin1Char('\n') + QFileInfo(path_).fileName();
    }
    dropCache();
    if (fitMode_ != FitMode::None) applyFit();
    updateScrollBars();
    horizontalScrollBar()->setValue(0);
    verticalScrollBar()->setValue(0);
    viewport()->update();
    emit displayChanged();
}

void ImageView::clearDisplay() {
    source_ = QImage();
    expanded_ = QImage();
    fileSize_ = QSize(0, 0);
    xResolution_ = 0;
    yResolution_ = 0;
    turns_ = 0;
    status_.clear();
    selection_ = QRect();
    if (band_) band_->hide();
    dropCache();
    updateScrollBars();
    viewport()->update();
    emit displayChanged();
}

void ImageView::refresh() {
    viewport()->update();
}

void ImageView::turn(int quarterTurns) {
    if (source_.isNull()) return;
    // Turned pages are held as grey.
    const QImage& upright = fullSizeImage();
    source_ = upright.transformed(QTransform().rotate(90.0 * quarterTurns));
    expanded_ = QImage();
    turns_ = (turns_ + quarterTurns) % 4;
    selection_ = QRect();
    if (band_) band_->hide();
    dropCache();
    if (fitMode_ != FitMode::None) applyFit();
    updateScrollBars();
    viewport()->update();
}

void ImageView::flip() {
    turn(2);
}

void ImageView::rotateLeft() {
    turn(3);
}

void ImageView::rotateRight() {
    turn(1);
}

void ImageView::scroll(int direction, int amount) {
    if (amount < 1) return;
    QScrollBar* h = horizontalScrollBar();
    QScrollBar* v = verticalScrollBar();
    switch (direction) {
        case ScrollDown:
            v->setValue(v->value() + amount);
            break;
        case ScrollUp:
            v->setValue(v->value() - amount);
            break;
        case ScrollRight:
            h->setValue(h->value() + amount);
            break;
        case ScrollLeft:
            h->setValue(h->value() - amount);
            break;
        default:
            break;
    }
}

void ImageView::zoomToSelection() {
    if (source_.isNull() || selection_.isEmpty()) return;
    const QSize area = maximumViewportSize();
    const qreal f = std::min(area.width() / static_cast<qreal>(selection_.width()),
                             area.height() / static_cast<qreal>(selection_.height()));
    const QRectF marked = selection_;
    selection_ = QRect();
    if (band_) band_->hide();
    setFitMode(FitMode::None);
    changeZoom(ClampZoom(f * 100.0), marked.center(),
               QPoint(viewport()->width() / 2, viewport()->height() / 2));
}

void ImageView::setSelectionEnabled(bool enabled) {
    selectionEnabled_ = enabled;
    viewport()->setCursor(enabled ? Qt::CrossCursor : Qt::ArrowCursor);
    if (!enabled) {
        selecting_ = false;
        selection_ = QRect();
        if (band_) band_->hide();
    }
}

void ImageView::paintEvent(QPaintEvent* event) {
    QPainter painter(viewport());
    const QRect exposed = event->rect();
    const QColor background = palette().color(QPalette::Dark);
    if (source_.isNull()) {
        painter.fillRect(exposed, background);
        if (!status_.isEmpty()) {
            painter.setPen(palette().color(QPalette::BrightText));
            painter.drawText(viewport()->rect().adjusted(8, 8, -8, -8),
                             Qt::AlignCenter | Qt::TextWordWrap, status_);
        }
        return;
    }
    const QSize scaled = scaledSize();
    const QPoint origin = contentOrigin();
    const QRect target = QRect(origin, scaled).intersected(exposed);
    const bool enlarged = scaled != source_.size() &&
                          !(scaled.width() < source_.width() && scaled.height() < source_.height());
    if (target.isEmpty() || enlarged) {
        painter.fillRect(exposed, background);
    } else {
        // Shrunk or at its own size, the page covers the target whole with
        // opaque pixels: only the room around it is filled.
        for (const QRect& room : QRegion(exposed).subtracted(target)) {
            painter.fillRect(room, background);
        }
    }
    if (target.isEmpty()) return;

    if (scaled.width() < source_.width() && scaled.height() < source_.height()) {
        // Shrunk: one image for this zoom and orientation, made once.
        if (cacheSize_ != scaled) {
            cache_ = ShrinkForPainting(source_, scaled);
            cacheSize_ = scaled;
        }
        painter.drawImage(target.topLeft(), cache_, target.translated(-origin));
    } else if (scaled == source_.size()) {
        painter.drawImage(target.topLeft(), fullSizeImage(), target.translated(-origin));
    } else {
        // Enlarged: whole image pixels, only those under the exposed part.
        const qreal f = zoom_ / 100.0;
        const int x0 = std::max(0, static_cast<int>(std::floor((target.left() - origin.x()) / f)));
        const int y0 = std::max(0, static_cast<int>(std::floor((target.top() - origin.y()) / f)));
        const int x1 = std::min(source_.width(),
                                static_cast<int>(std::ceil((target.right() + 1 - origin.x()) / f)));
        const int y1 = std::min(
            source_.height(), static_cast<int>(std::ceil((target.bottom() + 1 - origin.y()) / f)));
        if (x1 <= x0 || y1 <= y0) return;
        const QRectF from(x0, y0, x1 - x0, y1 - y0);
        const QRectF to(origin.x() + x0 * f, origin.y() + y0 * f, (x1 - x0) * f, (y1 - y0) * f);
        painter.setClipRect(target);
        painter.setRenderHint(QPainter::SmoothPixmapTransform, false);
        painter.drawImage(to, fullSizeImage(), from);
    }
}

void ImageView::resizeEvent(QResizeEvent* event) {
    QAbstractScrollArea::resizeEvent(event);
    if (fitMode_ != FitMode::None) applyFit();
    updateScrollBars();
}

void ImageView::scrollContentsBy(int, int) {
    viewport()->update();
}

void ImageView::mousePressEvent(QMouseEvent* event) {
    const QPoint pos = event->position().toPoint();
    pressed_ = true;
    emit mouseDown(ButtonCode(event->button()), ShiftCode(event->modifiers()), pos.x(), pos.y());
    if (selectionEnabled_ && event->button() == Qt::LeftButton && !source_.isNull()) {
        selecting_ = true;
        selectAnchor_ = pos;
        selection_ = QRect();
        if (!band_) band_ = new QRubberBand(QRubberBand::Rectangle, viewport());
        band_->setGeometry(QRect(pos, QSize()));
        band_->show();
    }
}

void ImageView::mouseMoveEvent(QMouseEvent* event) {
    const QPoint pos = event->position().toPoint();
    emit mouseMove(ButtonCode(event->buttons()), ShiftCode(event->modifiers()), pos.x(), pos.y());
    if (selecting_ && band_) {
        band_->setGeometry(QRect(selectAnchor_, pos).normalized().intersected(viewport()->rect()));
    }
}

void ImageView::mouseReleaseEvent(QMouseEvent* event) {
    const QPoint pos = event->position().toPoint();
    emit mouseUp(ButtonCode(event->button()), ShiftCode(event->modifiers()), pos.x(), pos.y());
    if (selecting_ && event->button() == Qt::LeftButton) {
        selecting_ = false;
        const QRect dragged = QRect(selectAnchor_, pos).normalized();
        const QPointF a = viewToImage(dragged.topLeft());
        const QPointF b = viewToImage(dragged.bottomRight() + QPoint(1, 1));
        const QRect inImage =
            QRect(QPoint(static_cast<int>(std::floor(a.x())), static_cast<int>(std::floor(a.y()))),
                  QPoint(static_cast<int>(std::ceil(b.x())) - 1,
                         static_cast<int>(std::ceil(b.y())) - 1))
                .intersected(source_.rect());
        // A press without a drag marks nothing.
        if (dragged.width() >= 3 && dragged.height() >= 3 && !inImage.isEmpty()) {
            selection_ = inImage;
        } else if (band_) {
            band_->hide();
        }
    }
    if (pressed_ && event->button() == Qt::LeftButton && viewport()->rect().contains(pos)) {
        pressed_ = false;
        emit clicked();
    }
    if (event->buttons() == Qt::NoButton) pressed_ = false;
}

}  // namespace orvo::widgets
