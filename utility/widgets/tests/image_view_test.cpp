// The image view on its own: every TIFF and bitmap kind against an
// independent reading, files it cannot show, fitting, rotation, scrolling,
// zoom to a dragged rectangle, the mouse signals, and what it paints.
#include <QFile>
#include <QRubberBand>
#include <QScrollBar>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QtTest>
#include <algorithm>
#include <random>
#include <vector>

#include "orvo/testing/qt_test_main.h"
#include "orvo/widgets/block_reduce.h"
#include "orvo/widgets/image_loader.h"
#include "orvo/widgets/image_view.h"
#include "orvo/widgets/shrink_plain.h"
#include "test_images.h"

using orvo::widgets::ImageView;
using testimages::Grey;

class ImageViewTest : public QObject {
    Q_OBJECT

  private:
    QTemporaryDir dir_;
    std::string File(const char* name) const { return (dir_.path() + "/" + name).toStdString(); }

    // A view whose viewport is exactly 600 x 400 pixels while no scroll bar
    // shows.
    static void SizeView(ImageView& view, int w = 600, int h = 400) {
        view.setHorizontalScrollBarPolicy(Qt::ScrollBarAsNeeded);
        const QMargins frame = view.contentsMargins();
        view.resize(w + frame.left() + frame.right(), h + frame.top() + frame.bottom());
        view.show();
        QVERIFY(QTest::qWaitForWindowExposed(&view));
    }

    // The view's image after display() against libtiff's reading of the file.
    void CompareWithLibtiff(const std::string& path) {
        ImageView view;
        view.setImagePath(QString::fromStdString(path));
        view.display();
        QVERIFY2(view.imageDisplayed(), qPrintable(view.statusText()));
        const Grey expected = testimages::ReadWithLibtiff(path);
        QVERIFY(expected.width > 0);
        QCOMPARE(view.imageWidth(), expected.width);
        QCOMPARE(view.imageHeight(), expected.height);
        const QString diff =
            testimages::FirstDifference(testimages::FromImage(view.shownImage()), expected);
        QVERIFY2(diff.isEmpty(), qPrintable(diff));
    }

  private slots:
    void initTestCase() { QVERIFY(dir_.isValid()); }

    void tiffKindsMatchLibtiff_data() {
        QTest::addColumn<int>("bits");
        QTest::addColumn<int>("compression");
        QTest::addColumn<bool>("minIsBlack");
        QTest::addColumn<int>("rowsPerStrip");
        QTest::newRow("bilevel G4") << 1 << COMPRESSION_CCITTFAX4 << false << 0;
        QTest::newRow("bilevel G3 2D") << 1 << COMPRESSION_CCITTFAX3 << false << 0;
        QTest::newRow("bilevel uncompressed") << 1 << COMPRESSION_NONE << false << 16;
        QTest::newRow("bilevel min-is-black") << 1 << COMPRESSION_NONE << true << 0;
        QTest::newRow("gray4 none") << 4 << COMPRESSION_NONE << true << 0;
        QTest::newRow("gray4 LZW") << 4 << COMPRESSION_LZW << true << 7;
        QTest::newRow("gray4 PackBits") << 4 << COMPRESSION_PACKBITS << true << 0;
        QTest::newRow("gray8 none") << 8 << COMPRESSION_NONE << true << 0;
        QTest::newRow("gray8 LZW") << 8 << COMPRESSION_LZW << true << 0;
        QTest::newRow("gray8 PackBits") << 8 << COMPRESSION_PACKBITS << true << 5;
        QTest::newRow("gray8 min-is-white") << 8 << COMPRESSION_LZW << false << 0;
    }
    void tiffKindsMatchLibtiff() {
        QFETCH(int, bits);
        QFETCH(int, compression);
        QFETCH(bool, minIsBlack);
        QFETCH(int, rowsPerStrip);
        const int levels = bits == 1 ? 2 : bits == 4 ? 16 : 256;
        // An odd width: the last byte of a row is partly filled.
        const Grey page = testimages::Pattern(173, 61, levels);
        const std::string path = File("kind.tif");
        QVERIFY(testimages::WriteTiff(path, page, bits, compression, minIsBlack, 200.0f,
                                      RESUNIT_INCH, rowsPerStrip));
        CompareWithLibtiff(path);
        // And the values are the page's own.
        const auto loaded = orvo::widgets::LoadImageFile(QString::fromStdString(path));
        // Bilevel pages stay packed.
        QCOMPARE(loaded.image.format(),
                 bits == 1 ? QImage::Format_Mono : QImage::Format_Grayscale8);
        const QImage grey = bits == 1 ? orvo::widgets::ExpandBilevel(loaded.image) : loaded.image;
        const QString diff = testimages::FirstDifference(testimages::FromImage(grey), page);
        QVERIFY2(diff.isEmpty(), qPrintable(diff));
        QCOMPARE(loaded.bilevel, bits == 1);
    }

    void resolutionFromTheTags() {
        const Grey page = testimages::Pattern(40, 20, 2);
        ImageView view;
        QVERIFY(
            testimages::WriteTiff(File("r.tif"), page, 1, COMPRESSION_CCITTFAX4, false, 300.0f));
        view.setImagePath(QString::fromStdString(File("r.tif")));
        view.display();
        QCOMPARE(view.xResolution(), 300);
        QCOMPARE(view.yResolution(), 300);
        // Dots per centimetre are given in dots per inch.
        QVERIFY(testimages::WriteTiff(File("cm.tif"), page, 8, COMPRESSION_NONE, true, 80.0f,
                                      RESUNIT_CENTIMETER));
        view.setImagePath(QString::fromStdString(File("cm.tif")));
        view.display();
        QCOMPARE(view.xResolution(), 203);
    }

    void bitmapsThroughTheirPalette_data() {
        QTest::addColumn<int>("bits");
        QTest::newRow("1 bit") << 1;
        QTest::newRow("4 bit") << 4;
        QTest::newRow("8 bit") << 8;
    }
    void bitmapsThroughTheirPalette() {
        QFETCH(int, bits);
        const int w = 37;
        const int h = 23;
        const int entries = 1 << bits;
        std::vector<uint8_t> indices(static_cast<std::size_t>(w) * h);
        for (int i = 0; i < w * h; ++i)
            indices[i] = static_cast<uint8_t>((i * 7 + i / w) % entries);
        QVERIFY(testimages::WriteBmp(File("p.bmp"), w, h, bits, indices, 7874));
        ImageView view;
        view.setImagePath(QString::fromStdString(File("p.bmp")));
        view.display();
        QVERIFY2(view.imageDisplayed(), qPrintable(view.statusText()));
        QCOMPARE(view.imageWidth(), w);
        QCOMPARE(view.imageHeight(), h);
        QCOMPARE(view.xResolution(), 200);
        const Grey shown = testimages::FromImage(view.shownImage());
        for (int y = 0; y < h; ++y) {
            for (int x = 0; x < w; ++x) {
                const int index = indices[static_cast<std::size_t>(y) * w + x];
                const int level = entries == 2 ? (index == 0 ? 255 : 0) : index * 256 / entries;
                QCOMPARE(int(shown.at(x, y)), level);
            }
        }
    }

    void filesItCannotShowLeaveNoStaleImage_data() {
        QTest::addColumn<QString>("name");
        QTest::addColumn<QByteArray>("content");
        QTest::addColumn<QString>("text");
        QTest::newRow("missing") << "missing.tif" << QByteArray() << "No such file";
        QTest::newRow("raw") << "page.raw" << QByteArray(5000, '\x55') << "Raw image data";
        QTest::newRow("text") << "notes.tif" << QByteArray("hello") << "Not a TIFF";
        QTest::newRow("header only")
            << "head.tif" << QByteArray("II*\0\x08\0\0\0", 8) << "Damaged TIFF";
        QTest::newRow("bitmap header only")
            << "head.bmp" << QByteArray("BM\x10\0\0\0", 6) << "Damaged bitmap";
        QTest::newRow("empty") << "empty.tif" << QByteArray("") << "Empty file";
    }
    void filesItCannotShowLeaveNoStaleImage() {
        QFETCH(QString, name);
        QFETCH(QByteArray, content);
        QFETCH(QString, text);
        const QString path = dir_.path() + "/" + name;
        QFile::remove(path);
        if (name != "missing.tif") {
            QFile file(path);
            QVERIFY(file.open(QIODevice::WriteOnly));
            file.write(content);
        }
        ImageView view;
        QVERIFY(testimages::WriteTiff(File("good.tif"), testimages::Pattern(50, 30, 2), 1,
                                      COMPRESSION_CCITTFAX4, false));
        view.setImagePath(QString::fromStdString(File("good.tif")));
        view.display();
        QVERIFY(view.imageDisplayed());
        QSignalSpy changed(&view, &ImageView::displayChanged);
        view.setImagePath(path);
        view.display();
        QVERIFY(!view.imageDisplayed());
        QCOMPARE(view.imageWidth(), 0);
        QCOMPARE(view.imageHeight(), 0);
        QCOMPARE(view.xResolution(), 0);
        QVERIFY2(view.statusText().startsWith(text), qPrintable(view.statusText()));
        QVERIFY(view.statusText().contains(name));
        QCOMPARE(changed.count(), 1);
        // Painting the text does not fail either.
        view.resize(300, 200);
        QVERIFY(!view.grab().isNull());
    }

    void truncatedTiffIsDamagedNotPartlyShown() {
        const Grey page = testimages::Pattern(400, 300, 2);
        QVERIFY(testimages::WriteTiff(File("whole.tif"), page, 1, COMPRESSION_CCITTFAX4, false));
        QFile whole(QString::fromStdString(File("whole.tif")));
        QVERIFY(whole.open(QIODevice::ReadOnly));
        const QByteArray bytes = whole.readAll();
        // Cut inside the coded strip (the strip comes first, the directory
        // last) and keep the directory: the data end early.
        QByteArray cut = bytes;
        cut.replace(200, 400, QByteArray(400, '\0'));
        QFile damaged(dir_.path() + "/damaged.tif");
        QVERIFY(damaged.open(QIODevice::WriteOnly));
        damaged.write(cut);
        damaged.close();
        ImageView view;
        view.setImagePath(damaged.fileName());
        view.display();
        QVERIFY(!view.imageDisplayed());
        QVERIFY2(view.statusText().startsWith("Damaged TIFF"), qPrintable(view.statusText()));
        // A file cut short: the directory is gone.
        QFile shortFile(dir_.path() + "/short.tif");
        QVERIFY(shortFile.open(QIODevice::WriteOnly));
        shortFile.write(bytes.left(bytes.size() / 2));
        shortFile.close();
        view.setImagePath(shortFile.fileName());
        view.display();
        QVERIFY(!view.imageDisplayed());
        QVERIFY2(view.statusText().startsWith("Damaged TIFF"), qPrintable(view.statusText()));
    }

    void clearDisplayShowsNothing() {
        QVERIFY(testimages::WriteTiff(File("c.tif"), testimages::Pattern(50, 30, 2), 1,
                                      COMPRESSION_CCITTFAX4, false));
        ImageView view;
        view.setImagePath(QString::fromStdString(File("c.tif")));
        view.display();
        QVERIFY(view.imageDisplayed());
        view.clearDisplay();
        QVERIFY(!view.imageDisplayed());
        QVERIFY(view.statusText().isEmpty());
        QCOMPARE(view.imageWidth(), 0);
    }

    void fitOptions() {
        QVERIFY(testimages::WriteTiff(File("cheque.tif"), testimages::Pattern(1728, 800, 2), 1,
                                      COMPRESSION_CCITTFAX4, false));
        ImageView view;
        SizeView(view);
        QCOMPARE(view.viewport()->size(), QSize(600, 400));
        view.setImagePath(QString::fromStdString(File("cheque.tif")));
        view.fit(ImageView::BestFit);
        view.display();
        QCOMPARE(view.fitMode(), ImageView::FitMode::Best);
        QVERIFY(qAbs(view.zoom() - 600.0 / 1728 * 100) < 1e-6);  // width limits
        QCOMPARE(view.horizontalScrollBar()->maximum(), 0);
        QCOMPARE(view.verticalScrollBar()->maximum(), 0);

        view.fit(ImageView::FitToHeight);
        // 400 / 800 = 50 %: 864 wide, so a horizontal scroll bar takes room.
        const int bar = view.horizontalScrollBar()->sizeHint().height();
        QTRY_VERIFY(view.horizontalScrollBar()->isVisible());
        QVERIFY(view.zoom() <= 50.0 + 1e-6);
        QVERIFY(view.zoom() >= (400.0 - bar - 4) / 800 * 100);
        QCOMPARE(view.verticalScrollBar()->maximum(), 0);

        view.fit(ImageView::FitToWidth);
        QVERIFY(qAbs(view.zoom() - 600.0 / 1728 * 100) < 1e-6);

        // The fit follows the view's size until a zoom is set.
        QSignalSpy zoomed(&view, &ImageView::zoomChanged);
        view.fit(ImageView::BestFit);
        SizeView(view, 864, 400);
        QTRY_VERIFY(qAbs(view.zoom() - 50.0) < 1e-6);
        QVERIFY(zoomed.count() >= 1);
        view.setZoom(100);
        QCOMPARE(view.fitMode(), ImageView::FitMode::None);
        SizeView(view, 600, 400);
        QCOMPARE(view.zoom(), 100.0);
        // ... and keeps its zoom for the next image.
        view.display();
        QCOMPARE(view.zoom(), 100.0);
    }

    void fitWithoutImageKeepsTheMode() {
        ImageView view;
        SizeView(view);
        view.fit(ImageView::BestFit);
        QCOMPARE(view.zoom(), 100.0);
        QVERIFY(testimages::WriteTiff(File("f.tif"), testimages::Pattern(1200, 400, 2), 1,
                                      COMPRESSION_CCITTFAX4, false));
        view.setImagePath(QString::fromStdString(File("f.tif")));
        view.display();
        QVERIFY(qAbs(view.zoom() - 50.0) < 1e-6);
    }

    void rotationAndFlip() {
        // A marker pixel at (2, 1) of a 5 x 3 page.
        Grey page{5, 3, std::vector<uint8_t>(15, 255)};
        page.pixels[1 * 5 + 2] = 0;
        QVERIFY(testimages::WriteTiff(File("m.tif"), page, 8, COMPRESSION_NONE, true));
        ImageView view;
        view.setImagePath(QString::fromStdString(File("m.tif")));
        view.display();
        auto marker = [&view] {
            const QImage& img = view.shownImage();
            for (int y = 0; y < img.height(); ++y) {
                for (int x = 0; x < img.width(); ++x) {
                    if (img.pixelColor(x, y).value() == 0) return QPoint(x, y);
                }
            }
            return QPoint(-1, -1);
        };
        view.rotateRight();  // (x, y) -> (H - 1 - y, x)
        QCOMPARE(view.shownImage().size(), QSize(3, 5));
        QCOMPARE(marker(), QPoint(1, 2));
        QCOMPARE(view.quarterTurns(), 1);
        // The file's own size is still reported.
        QCOMPARE(view.imageWidth(), 5);
        view.rotateLeft();
        QCOMPARE(marker(), QPoint(2, 1));
        view.rotateLeft();  // (x, y) -> (y, W - 1 - x)
        QCOMPARE(marker(), QPoint(1, 2));
        view.rotateRight();
        view.flip();  // (x, y) -> (W - 1 - x, H - 1 - y)
        QCOMPARE(view.shownImage().size(), QSize(5, 3));
        QCOMPARE(marker(), QPoint(2, 1));
        page.pixels[1 * 5 + 2] = 255;
        page.pixels[0] = 0;
        QVERIFY(testimages::WriteTiff(File("m.tif"), page, 8, COMPRESSION_NONE, true));
        view.display();  // a new display is upright again
        QCOMPARE(view.quarterTurns(), 0);
        view.flip();
        QCOMPARE(marker(), QPoint(4, 2));
        for (int i = 0; i < 4; ++i) view.rotateRight();
        QCOMPARE(marker(), QPoint(4, 2));
        // Without an image nothing turns.
        view.clearDisplay();
        view.rotateRight();
        QCOMPARE(view.quarterTurns(), 0);
    }

    void scrollAmounts() {
        QVERIFY(testimages::WriteTiff(File("big.tif"), testimages::Pattern(2000, 1500, 2), 1,
                                      COMPRESSION_CCITTFAX4, false));
        ImageView view;
        SizeView(view);
        view.setImagePath(QString::fromStdString(File("big.tif")));
        view.display();
        view.setZoom(100);
        view.horizontalScrollBar()->setValue(0);
        view.verticalScrollBar()->setValue(0);
        QScrollBar* h = view.horizontalScrollBar();
        QScrollBar* v = view.verticalScrollBar();
        view.scroll(ImageView::ScrollDown, 7);
        QCOMPARE(v->value(), 7);
        view.scroll(ImageView::ScrollUp, 3);
        QCOMPARE(v->value(), 4);
        view.scroll(ImageView::ScrollRight, 10);
        QCOMPARE(h->value(), 10);
        view.scroll(ImageView::ScrollLeft, 4);
        QCOMPARE(h->value(), 6);
        view.scroll(ImageView::ScrollLeft, 0);
        view.scroll(ImageView::ScrollRight, -5);
        view.scroll(9, 5);
        QCOMPARE(h->value(), 6);
        QCOMPARE(v->value(), 4);
        // The ends hold.
        view.scroll(ImageView::ScrollLeft, 1000);
        QCOMPARE(h->value(), 0);
        view.scroll(ImageView::ScrollDown, 100000);
        QCOMPARE(v->value(), v->maximum());
        QVERIFY(v->maximum() > 1000);
        // What the scroll shows: the image point at the viewport's top left.
        QCOMPARE(view.viewToImage(QPoint(0, 0)), QPointF(h->value(), v->value()));
    }

    void zoomToADraggedRectangle() {
        QVERIFY(testimages::WriteTiff(File("z.tif"), testimages::Pattern(1200, 800, 2), 1,
                                      COMPRESSION_CCITTFAX4, false));
        ImageView view;
        SizeView(view);
        view.setImagePath(QString::fromStdString(File("z.tif")));
        view.fit(ImageView::BestFit);
        view.display();
        QVERIFY(qAbs(view.zoom() - 50.0) < 1e-6);
        QWidget* vp = view.viewport();

        // Without selection mode a drag marks nothing.
        QTest::mousePress(vp, Qt::LeftButton, {}, QPoint(100, 100));
        QTest::mouseMove(vp, QPoint(200, 180));
        QTest::mouseRelease(vp, Qt::LeftButton, {}, QPoint(200, 180));
        QVERIFY(view.selection().isEmpty());
        view.zoomToSelection();
        QVERIFY(qAbs(view.zoom() - 50.0) < 1e-6);

        view.setSelectionEnabled(true);
        QTest::mousePress(vp, Qt::LeftButton, {}, QPoint(100, 100));
        QTest::mouseMove(vp, QPoint(150, 140));
        auto* band = vp->findChild<QRubberBand*>();
        QVERIFY(band && band->isVisible());
        QCOMPARE(band->geometry(), QRect(QPoint(100, 100), QPoint(150, 140)));
        QTest::mouseMove(vp, QPoint(250, 180));
        QTest::mouseRelease(vp, Qt::LeftButton, {}, QPoint(250, 180));
        // View (100..250, 100..180) at 50 %, image centred vertically:
        // origin y = (400 - 400) / 2 = 0, x = 0.
        QCOMPARE(view.selection(), QRect(QPoint(200, 200), QPoint(501, 361)));
        view.zoomToSelection();
        QVERIFY(view.selection().isEmpty());
        QVERIFY(!band->isVisible());
        QCOMPARE(view.fitMode(), ImageView::FitMode::None);
        // 302 x 162 image pixels into 600 x 400: the width limits.
        QVERIFY(qAbs(view.zoom() - 600.0 / 302 * 100) < 1e-6);
        // The rectangle's centre is in the middle of the view.
        const QPointF centre = view.viewToImage(QPoint(300, 200));
        QVERIFY2(qAbs(centre.x() - 351) < 1.0 && qAbs(centre.y() - 281) < 1.0,
                 qPrintable(QStringLiteral("%1,%2").arg(centre.x()).arg(centre.y())));
        // A click without a drag marks nothing.
        QTest::mouseClick(vp, Qt::LeftButton, {}, QPoint(30, 30));
        QVERIFY(view.selection().isEmpty());
    }

    void mouseSignalsInViewCoordinates() {
        ImageView view;
        SizeView(view, 300, 200);
        QSignalSpy down(&view, &ImageView::mouseDown);
        QSignalSpy move(&view, &ImageView::mouseMove);
        QSignalSpy up(&view, &ImageView::mouseUp);
        QSignalSpy clicked(&view, &ImageView::clicked);
        QWidget* vp = view.viewport();
        QTest::mousePress(vp, Qt::LeftButton, Qt::ShiftModifier, QPoint(40, 50));
        QTest::mouseMove(vp, QPoint(28, 50));
        QTest::mouseRelease(vp, Qt::LeftButton, {}, QPoint(28, 50));
        QCOMPARE(down.count(), 1);
        QCOMPARE(down.at(0), (QList<QVariant>{1, 1, 40, 50}));
        QVERIFY(move.count() >= 1);
        QCOMPARE(move.last().at(2).toInt(), 28);
        QCOMPARE(move.last().at(3).toInt(), 50);
        QCOMPARE(up.count(), 1);
        QCOMPARE(up.at(0).at(2).toInt(), 28);
        QCOMPARE(clicked.count(), 1);
        QTest::mouseClick(vp, Qt::RightButton, {}, QPoint(10, 10));
        QCOMPARE(clicked.count(), 1);
        QCOMPARE(down.last().at(0).toInt(), int(ImageView::RightButton));
    }

    void shrunkBilevelStrokesStayVisible() {
        // One-pixel black columns every fourth column: at 25 % every screen
        // column covers exactly one of them. Dropping pixels would show all
        // black or all white; averaging shows an even grey.
        Grey page{800, 400, std::vector<uint8_t>(800 * 400, 255)};
        for (int y = 0; y < 400; ++y) {
            for (int x = 1; x < 800; x += 4) page.pixels[y * 800 + x] = 0;
        }
        QVERIFY(testimages::WriteTiff(File("lines.tif"), page, 1, COMPRESSION_CCITTFAX4, false));
        ImageView view;
        SizeView(view, 300, 200);
        view.setImagePath(QString::fromStdString(File("lines.tif")));
        view.display();
        view.setZoom(25);
        const QImage shot = view.viewport()->grab().toImage();
        // 200 x 100 shown in a 300 x 200 viewport, centred.
        for (int y = 60; y < 140; y += 7) {
            for (int x = 60; x < 240; ++x) {
                const int v = qGray(shot.pixel(x, y));
                QVERIFY2(v >= 185 && v <= 197,
                         qPrintable(QStringLiteral("(%1,%2) = %3").arg(x).arg(y).arg(v)));
            }
        }
    }

    void enlargedPixelsStayWhole() {
        Grey page{4, 2, {0, 255, 0, 255, 255, 0, 255, 0}};
        QVERIFY(testimages::WriteTiff(File("checker.tif"), page, 8, COMPRESSION_NONE, true));
        ImageView view;
        SizeView(view, 300, 200);
        view.setImagePath(QString::fromStdString(File("checker.tif")));
        view.display();
        view.setZoom(400);
        const QImage shot = view.viewport()->grab().toImage();
        // 16 x 8 image centred: origin (142, 96).
        for (int y = 0; y < 8; ++y) {
            for (int x = 0; x < 16; ++x) {
                QCOMPARE(qGray(shot.pixel(142 + x, 96 + y)), int(page.at(x / 4, y / 4)));
            }
        }
    }

    void paintedPageMatchesTheFileAtFullSize() {
        const Grey page = testimages::Pattern(250, 150, 256);
        QVERIFY(testimages::WriteTiff(File("full.tif"), page, 8, COMPRESSION_LZW, true));
        ImageView view;
        SizeView(view, 250, 150);
        view.setImagePath(QString::fromStdString(File("full.tif")));
        view.display();
        view.setZoom(100);
        const QImage shot = view.viewport()->grab().toImage();
        for (int y = 0; y < 150; ++y) {
            for (int x = 0; x < 250; ++x) QCOMPARE(qGray(shot.pixel(x, y)), int(page.at(x, y)));
        }
    }

    void bilevelBlocksCountedFromTheBitsAsTheGreyPageWouldBe() {
        // Odd sizes: partly filled last bytes and blocks cut by the edges.
        const Grey page = testimages::Pattern(1733, 803, 2);
        QImage packed = orvo::widgets::MakeBilevel(page.width, page.height);
        for (int y = 0; y < page.height; ++y) {
            uchar* row = packed.scanLine(y);
            std::fill(row, row + packed.bytesPerLine(), 0xA5);  // garbage past the width
            for (int x = 0; x < page.width; ++x) {
                const uchar bit = static_cast<uchar>(0x80 >> (x % 8));
                if (page.at(x, y) == 0) {
                    row[x / 8] |= bit;
                } else {
                    row[x / 8] &= static_cast<uchar>(~bit);
                }
            }
        }
        const QImage grey = orvo::widgets::ExpandBilevel(packed);
        QCOMPARE(testimages::FirstDifference(testimages::FromImage(grey), page), QString());
        double sumPage = 0;
        for (uint8_t v : page.pixels) sumPage += v;
        const double meanPage = sumPage / page.pixels.size();
        struct Case {
            QSize size;
            QSize reduced;
        };
        // Factors 2, 2.9 and 3.9 give blocks of 2, 5.8 blocks of 4, 13 of 8,
        // 40 of 8 and then 5 (grey).
        for (const Case& c :
             {Case{QSize(866, 401), QSize(867, 402)}, Case{QSize(600, 277), QSize(867, 402)},
              Case{QSize(440, 205), QSize(867, 402)}, Case{QSize(300, 138), QSize(434, 201)},
              Case{QSize(130, 61), QSize(217, 101)}, Case{QSize(43, 20), QSize(44, 21)}}) {
            const QImage reduced = orvo::widgets::ReduceByBlocks(packed, c.size);
            QCOMPARE(reduced.size(), c.reduced);
            QVERIFY(reduced.width() < 2 * c.size.width() && reduced.height() < 2 * c.size.height());
            const QImage levels = reduced.convertToFormat(QImage::Format_Grayscale8);
            // Whole blocks of 2, 4 or 8: the grey page's block means exactly.
            const int k = page.width / reduced.width();
            if (k == 2 || k == 4 || k == 8) {
                const QImage fromGrey = orvo::widgets::ReduceByBlocks(grey, c.size);
                QCOMPARE(fromGrey.size(), reduced.size());
                for (int y = 0; y < reduced.height() - 1; ++y) {
                    for (int x = 0; x < reduced.width() - 1; ++x) {
                        QCOMPARE(int(levels.constScanLine(y)[x]),
                                 int(fromGrey.constScanLine(y)[x]));
                    }
                }
            }
            // Grey levels, not dropped pixels: the mean stays the page's mean.
            double sum = 0;
            for (int y = 0; y < levels.height(); ++y) {
                for (int x = 0; x < levels.width(); ++x) sum += levels.constScanLine(y)[x];
            }
            const double mean = sum / (levels.width() * levels.height());
            QVERIFY2(qAbs(mean - meanPage) < 2.0,
                     qPrintable(QStringLiteral("%1 against %2").arg(mean).arg(meanPage)));
        }
        // Between half and full size: the page itself, as grey.
        QCOMPARE(orvo::widgets::ReduceByBlocks(packed, QSize(1000, 500)).format(),
                 QImage::Format_Grayscale8);
    }

    void shrinkForDisplayIsExactAreaAveraging() {
        // Three columns into two: 1, 1/2 | 1/2, 1 of 1.5.
        QImage three(3, 1, QImage::Format_Grayscale8);
        const uchar t[3] = {0, 90, 255};
        std::copy_n(t, 3, three.scanLine(0));
        const QImage two = orvo::widgets::ShrinkForDisplay(three, QSize(2, 1));
        QCOMPARE(two.format(), QImage::Format_RGB32);
        QCOMPARE(qGray(two.pixel(0, 0)), 30);   // (0 + 45) / 1.5
        QCOMPARE(qGray(two.pixel(1, 0)), 200);  // (45 + 255) / 1.5
        // A flat page stays flat at odd ratios, grey and bilevel.
        QImage flat(997, 613, QImage::Format_Grayscale8);
        flat.fill(QColor(123, 123, 123));
        for (const QSize size : {QSize(211, 97), QSize(600, 400), QSize(997, 613)}) {
            const QImage small = orvo::widgets::ShrinkForDisplay(flat, size);
            QCOMPARE(small.size(), size);
            for (int y = 0; y < small.height(); y += 7) {
                for (int x = 0; x < small.width(); ++x) QCOMPARE(qGray(small.pixel(x, y)), 123);
            }
        }
        QImage black = orvo::widgets::MakeBilevel(1001, 503);
        black.fill(1);
        // Blocks of 2, 4, 8, and 8 then grey blocks of 2.
        for (const QSize size : {QSize(333, 111), QSize(200, 100), QSize(100, 50), QSize(50, 25)}) {
            const QImage dark = orvo::widgets::ShrinkForDisplay(black, size);
            QCOMPARE(dark.size(), size);
            for (int y = 0; y < dark.height(); ++y) {
                for (int x = 0; x < dark.width(); ++x) QCOMPARE(qGray(dark.pixel(x, y)), 0);
            }
            QImage white = orvo::widgets::MakeBilevel(1001, 503);
            white.fill(0);
            const QImage light = orvo::widgets::ShrinkForDisplay(white, size);
            QCOMPARE(qGray(light.pixel(size.width() / 2, size.height() / 2)), 255);
        }
        // Refused: growing.
        QVERIFY(orvo::widgets::ShrinkForDisplay(flat, QSize(998, 10)).isNull());
    }

    void shrinkMatchesThePlainPassesOnRandomPages() {
        // Random bilevel pages of every kind of ink: a few text-like strokes
        // on white, specks, dense noise, all black, all white; odd sizes with
        // garbage past the width. Every width from 1 to the page's with the
        // height kept in proportion, and random sizes: every block size and
        // remaining factor the view uses, pixel for pixel as the plain passes.
        std::mt19937 rng(7);
        int compared = 0;
        for (int round = 0; round < 12; ++round) {
            const int w = 8 + static_cast<int>(rng() % 300);
            const int h = 8 + static_cast<int>(rng() % 200);
            QImage page = orvo::widgets::MakeBilevel(w, h);
            const int kind = round % 6;
            for (int y = 0; y < h; ++y) {
                uchar* row = page.scanLine(y);
                for (int i = 0; i < page.bytesPerLine(); ++i) {
                    uchar b = 0;
                    switch (kind) {
                        case 0:  // strokes in a few bands
                            b = (y / 9) % 4 == 1 && rng() % 3 == 0 ? static_cast<uchar>(rng()) : 0;
                            break;
                        case 1:  // specks
                            b = rng() % 40 == 0 ? static_cast<uchar>(1u << (rng() % 8)) : 0;
                            break;
                        case 2:
                            b = static_cast<uchar>(rng());
                            break;
                        case 3:
                            b = 0xFF;
                            break;
                        case 4:
                            b = 0;
                            break;
                        default:  // one black column of blocks at the right edge
                            b = i + 1 == (w + 7) / 8 ? 0xFF : 0;
                            break;
                    }
                    row[i] = b;
                }
                // Bits past the width are not the page's.
                if (w % 8 != 0) row[(w - 1) / 8] |= static_cast<uchar>(0xFF >> (w % 8));
            }
            std::vector<QSize> sizes;
            for (int ow = 1; ow <= w; ++ow) sizes.emplace_back(ow, std::max(1, ow * h / w));
            for (int i = 0; i < 40; ++i) {
                sizes.emplace_back(1 + static_cast<int>(rng() % w),
                                   1 + static_cast<int>(rng() % h));
            }
            for (const QSize size : sizes) {
                const QImage fast = orvo::widgets::ShrinkForDisplay(page, size);
                const QImage plain = orvo::widgets::ShrinkForDisplayPlain(page, size);
                QCOMPARE(fast.size(), size);
                QCOMPARE(fast.format(), plain.format());
                // What the view paints: the same pixels.
                const QImage painted = orvo::widgets::ShrinkForPainting(page, size);
                QCOMPARE(painted.size(), size);
                QVERIFY(painted.convertToFormat(QImage::Format_RGB32) == plain);
                if (fast != plain) {
                    for (int y = 0; y < size.height(); ++y) {
                        for (int x = 0; x < size.width(); ++x) {
                            QVERIFY2(fast.pixel(x, y) == plain.pixel(x, y),
                                     qPrintable(QStringLiteral("page %1x%2 kind %3 at %4x%5: "
                                                               "pixel %6,%7")
                                                    .arg(w)
                                                    .arg(h)
                                                    .arg(kind)
                                                    .arg(size.width())
                                                    .arg(size.height())
                                                    .arg(x)
                                                    .arg(y)));
                        }
                    }
                }
                ++compared;
            }
        }
        QVERIFY(compared > 1000);
    }

    void greyBlocksAreMeans() {
        QImage src(4, 2, QImage::Format_Grayscale8);
        const uchar values[8] = {0, 100, 200, 255, 50, 150, 250, 5};
        for (int y = 0; y < 2; ++y) std::copy_n(values + 4 * y, 4, src.scanLine(y));
        const QImage half = orvo::widgets::ReduceByBlocks(src, QSize(2, 1));
        QCOMPARE(half.size(), QSize(2, 1));
        QCOMPARE(int(half.constScanLine(0)[0]), 75);   // (0 + 100 + 50 + 150) / 4
        QCOMPARE(int(half.constScanLine(0)[1]), 178);  // (200 + 255 + 250 + 5) / 4 = 177.5
        // A block cut by the edge averages what it has.
        QImage three(3, 1, QImage::Format_Grayscale8);
        const uchar t[3] = {0, 90, 255};
        std::copy_n(t, 3, three.scanLine(0));
        QImage odd(3, 2, QImage::Format_Grayscale8);
        std::copy_n(t, 3, odd.scanLine(0));
        std::copy_n(t, 3, odd.scanLine(1));
        const QImage two = orvo::widgets::ReduceByBlocks(odd, QSize(1, 1));
        QCOMPARE(two.size(), QSize(2, 1));
        QCOMPARE(int(two.constScanLine(0)[0]), 45);
        QCOMPARE(int(two.constScanLine(0)[1]), 255);
        // Less than 2:1: nothing to average.
        QCOMPARE(orvo::widgets::ReduceByBlocks(three, QSize(2, 1)).size(), QSize(3, 1));
        QVERIFY(orvo::widgets::ReduceByBlocks(three, QSize(0, 1)).isNull());
    }

    void shrunkPageAtAnyZoomKeepsEveryStroke() {
        // One-pixel black columns every third column, shown at 30 %: blocks
        // of 2, then the remaining 1.67 averaged exactly.
        Grey page{900, 300, std::vector<uint8_t>(900 * 300, 255)};
        for (int y = 0; y < 300; ++y) {
            for (int x = 1; x < 900; x += 3) page.pixels[y * 900 + x] = 0;
        }
        QVERIFY(testimages::WriteTiff(File("thirds.tif"), page, 1, COMPRESSION_CCITTFAX4, false));
        ImageView view;
        SizeView(view, 300, 200);
        view.setImagePath(QString::fromStdString(File("thirds.tif")));
        view.display();
        view.setZoom(30);
        const QImage shot = view.viewport()->grab().toImage();
        // 270 x 90, centred: origin (15, 55). Every screen column covers
        // 3.3 page columns, so each shows a stroke as grey.
        int sum = 0;
        for (int x = 16; x < 284; ++x) {
            const int v = qGray(shot.pixel(x, 100));
            QVERIFY2(v > 60 && v < 215, qPrintable(QStringLiteral("column %1 = %2").arg(x).arg(v)));
            sum += v;
        }
        // On average two thirds white.
        const double mean = sum / 268.0;
        QVERIFY2(qAbs(mean - 170) < 12, qPrintable(QString::number(mean)));
    }
};

ORVO_QT_TEST(ImageViewTest);
#include "image_view_test.moc"
