// A view of one page image: the front and the rear view of the scanning
// utility. It is told which file to show (image path, then display()), shows
// it at a zoom or fitted to the view, rotates and turns it over, scrolls, and
// zooms into a rectangle the operator drags. It reports clicks and mouse
// down / move / up in view coordinates. A file that cannot be shown leaves the
// view empty with a short text saying why; imageDisplayed() is then false.
//
// Only the exposed part is painted, from an image cached for the current
// zoom and orientation; pages are shrunk by area averaging (block_reduce.h),
// so that the thin strokes of bilevel pages stay visible, and enlarged with
// whole pixels.
#pragma once

#include <QAbstractScrollArea>
#include <QImage>
#include <QPoint>
#include <QRect>
#include <QString>

class QRubberBand;

namespace orvo::widgets {

class ImageView : public QAbstractScrollArea {
    Q_OBJECT
    Q_PROPERTY(QString imagePath READ imagePath WRITE setImagePath)
    Q_PROPERTY(qreal zoom READ zoom WRITE setZoom NOTIFY zoomChanged)
    Q_PROPERTY(FitMode fitMode READ fitMode NOTIFY fitModeChanged)
    Q_PROPERTY(bool imageDisplayed READ imageDisplayed NOTIFY displayChanged)
    Q_PROPERTY(bool selectionEnabled READ selectionEnabled WRITE setSelectionEnabled)

  public:
    // Options of fit(): 0 best fit, 1 fit to width, 2 fit to height.
    enum FitOption { BestFit = 0, FitToWidth = 1, FitToHeight = 2 };
    // What the zoom follows: nothing (a zoom that was set), or the view's size.
    enum class FitMode { None, Best, Width, Height };
    Q_ENUM(FitMode)
    // Directions of scroll(): 0 down, 1 up, 2 right, 3 left (the visible part
    // moves that way over the image).
    enum ScrollDirection { ScrollDown = 0, ScrollUp = 1, ScrollRight = 2, ScrollLeft = 3 };
    // Mouse buttons and shift state as the mouse signals report them.
    enum MouseButton { LeftButton = 1, RightButton = 2, MiddleButton = 4 };
    enum ShiftState { ShiftKey = 1, ControlKey = 2, AltKey = 4 };

    static constexpr qreal kMinZoom = 2.0;
    static constexpr qreal kMaxZoom = 6500.0;

    explicit ImageView(QWidget* parent = nullptr);
    ~ImageView() override;

    // The file the next display() shows (full path).
    QString imagePath() const { return path_; }
    void setImagePath(const QString& path) { path_ = path; }

    // Magnification in percent: 100 is one image pixel per screen pixel.
    // Setting it ends any fit mode.
    qreal zoom() const { return zoom_; }
    void setZoom(qreal percent);
    FitMode fitMode() const { return fitMode_; }

    bool imageDisplayed() const { return !source_.isNull(); }
    // Of the image file as displayed (before rotation); 0 when nothing is shown.
    int imageWidth() const { return fileSize_.width(); }
    int imageHeight() const { return fileSize_.height(); }
    int xResolution() const { return xResolution_; }
    int yResolution() const { return yResolution_; }
    // Why nothing is shown after a display() that failed; empty otherwise.
    QString statusText() const { return status_; }
    // Quarter turns to the right of the shown image (0..3).
    int quarterTurns() const { return turns_; }

    // Kept for the scan run, which sets it once a two-sided front page is
    // shown; the view does nothing else with it.
    bool frontShown() const { return frontShown_; }
    void setFrontShown(bool shown) { frontShown_ = shown; }

    // Loads the image file and shows it, upright, scrolled to its top left
    // corner; the zoom follows the fit mode, else stays as it is.
    void display();
    // Shows nothing (also no failure text).
    void clearDisplay();
    // Turns the shown image over (half a turn).
    void flip();
    // Repaints the view.
    void refresh();
    void rotateLeft();
    void rotateRight();
    // Moves the visible part by `amount` screen pixels in `direction`
    // (ScrollDirection); other directions and amounts below 1 do nothing.
    void scroll(int direction, int amount);
    // Zooms so that the rectangle last dragged in the view fills it, and
    // forgets the rectangle. Nothing happens when there is none.
    void zoomToSelection();
    // Fits the image into the view (FitOption) and keeps fitting it when the
    // view is resized or another image is displayed, until a zoom is set.
    void fit(int option);

    // While enabled, dragging with the left button marks a rectangle for
    // zoomToSelection() (the rubber band is drawn).
    bool selectionEnabled() const { return selectionEnabled_; }
    void setSelectionEnabled(bool enabled);
    // The marked rectangle in image pixels of the shown orientation.
    QRect selection() const { return selection_; }

    // Viewport position of an image pixel of the shown orientation, and back.
    QPoint imageToView(const QPointF& imagePoint) const;
    QPointF viewToImage(const QPoint& viewPoint) const;
    // The shown image after rotation, as Grayscale8 (bilevel and grey pages)
    // or RGB32.
    QImage shownImage() const;

  signals:
    void clicked();
    void mouseDown(int button, int shift, int x, int y);
    void mouseMove(int button, int shift, int x, int y);
    void mouseUp(int button, int shift, int x, int y);
    void zoomChanged(qreal percent);
    void fitModeChanged(orvo::widgets::ImageView::FitMode mode);
    void displayChanged();

  protected:
    void paintEvent(QPaintEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;
    void scrollContentsBy(int dx, int dy) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;

  private:
    QSize scaledSize() const;
    QPoint contentOrigin() const;  // viewport position of the image's top left corner
    void applyFit();
    void changeZoom(qreal percent, const QPointF& keepImagePoint, const QPoint& atViewPoint);
    void updateScrollBars();
    void dropCache();
    void turn(int quarterTurns);
    void setFitMode(FitMode mode);

    // What paints at full size and above: the page, bilevel pages expanded
    // to grey once.
    const QImage& fullSizeImage();

    QString path_;
    QImage source_;    // the shown image, rotated (bilevel pages packed)
    QImage expanded_;  // a packed bilevel source_ as Grayscale8, made when needed
    QSize fileSize_{0, 0};
    int xResolution_ = 0;
    int yResolution_ = 0;
    int turns_ = 0;
    QString status_;
    qreal zoom_ = 100.0;
    FitMode fitMode_ = FitMode::None;
    bool frontShown_ = false;

    QImage cache_;  // source_ at the current zoom, when shrunk (RGB32)
    QSize cacheSize_;

    bool selectionEnabled_ = false;
    bool selecting_ = false;
    QPoint selectAnchor_;
    QRect selection_;
    QRubberBand* band_ = nullptr;
    bool pressed_ = false;
};

}  // namespace orvo::widgets
