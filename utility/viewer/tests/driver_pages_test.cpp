// The image view on the files the driver itself writes: every format and
// depth (bilevel Group 4 TIFF and 1-bit bitmap, 4- and 8-bit gray TIFF
// uncompressed, LZW and PackBits, 4- and 8-bit gray bitmaps), pixel for pixel
// against libtiff's reading of the same TIFF file, and against a plain
// reading of the bitmap's palette and rows.
#include <QtTest>
#include <cstring>

#include "orvo/sim/scenario.h"
#include "orvo/testing/qt_test_main.h"
#include "orvo/widgets/image_view.h"
#include "test_images.h"
#include "viewer_fixture.h"

using orvo::sim::TheScanner;
using orvo::widgets::ImageView;
using testimages::Grey;

namespace {

// Grey values of a bottom-up bitmap with a palette, read by hand.
Grey ReadBmp(const QByteArray& file) {
    Grey g;
    auto u16 = [&file](int at) {
        return static_cast<uint32_t>(static_cast<uint8_t>(file[at])) |
               static_cast<uint32_t>(static_cast<uint8_t>(file[at + 1])) << 8;
    };
    auto u32 = [&u16](int at) { return u16(at) | u16(at + 2) << 16; };
    if (file.size() < 54 || !file.startsWith("BM")) return g;
    const int offset = static_cast<int>(u32(10));
    const int width = static_cast<int>(u32(18));
    const int height = static_cast<int>(u32(22));
    const int bits = static_cast<int>(u16(28));
    const int stride = (bits * width + 31) / 32 * 4;
    if (offset + static_cast<qint64>(stride) * height > file.size()) return g;
    g.width = width;
    g.height = height;
    g.pixels.resize(static_cast<std::size_t>(width) * height);
    for (int y = 0; y < height; ++y) {
        const char* row = file.constData() + offset + static_cast<qint64>(height - 1 - y) * stride;
        for (int x = 0; x < width; ++x) {
            int index = 0;
            const auto byte = static_cast<uint8_t>(row[x * bits / 8]);
            if (bits == 1) index = (byte >> (7 - x % 8)) & 1;
            if (bits == 4) index = x % 2 == 0 ? byte >> 4 : byte & 0x0F;
            if (bits == 8) index = byte;
            // Palette entries are blue, green, red, reserved; the pages are grey.
            g.pixels[static_cast<std::size_t>(y) * width + x] =
                static_cast<uint8_t>(file[54 + 4 * index + 2]);
        }
    }
    return g;
}

}  // namespace

class DriverPagesTest : public QObject {
    Q_OBJECT

  private:
    QString out_;

    // The front and rear page of the first cheque, as the driver writes them.
    QStringList Scan(const char* scanMode, const char* grayCompress, int format,
                     const QString& extension) {
        e2e::WriteSettings(
            e2e::Ini({{"Check",
                       {{"Side", "1"},
                        {"ScanWidth", "1728"},
                        {"ScanLines1", "800"},
                        {"ScanMode1", scanMode},
                        {"CompressMode", "0"}}},
                      {"Misc", {{"MicrDetect", "1"}, {"GrayTifCompress", grayCompress}}}}));
        OrvoScan_ImageFormat(format);
        QStringList pages;
        if (OrvoScan_StartBatch("Check") != 0) return pages;
        for (const char* side : {"F", "R"}) {
            const QString path =
                out_ + QStringLiteral("page%1%2.%3").arg(scanMode, side, extension);
            int height = 0;
            if (OrvoScan_GetOneImage(path.toLocal8Bit().constData(), &height) == 0) pages << path;
        }
        OrvoScan_EndBatch();
        return pages;
    }

    static void Compare(const QString& path, const Grey& expected) {
        ImageView view;
        view.setImagePath(path);
        view.display();
        QVERIFY2(view.imageDisplayed(), qPrintable(path + ": " + view.statusText()));
        QVERIFY(expected.width > 0);
        const QString diff =
            testimages::FirstDifference(testimages::FromImage(view.shownImage()), expected);
        QVERIFY2(diff.isEmpty(), qPrintable(path + ": " + diff));
        QCOMPARE(view.imageWidth(), 1728);
    }

  private slots:
    void initTestCase() {
        fixture::UseVirtualScanner(e2e::ChequeIni("Check", 1, 0, 0));
        orvo::sim::Scenario s =
            orvo::sim::LoadScenarioFile(ORVO_SCENARIO_DIR "/two_sided_gray.json");
        s.latency = orvo::sim::kNoLatency;
        s.documents.resize(1);
        TheScanner().SetScenario(s);
        QCOMPARE(OrvoScan_Init(), 0);
        out_ = fixture::OutputDir();
    }

    void tiffPages_data() {
        QTest::addColumn<QString>("scanMode");
        QTest::addColumn<QString>("compress");
        QTest::newRow("bilevel Group 4") << "0"
                                         << "1";
        QTest::newRow("gray 4-bit uncompressed") << "3"
                                                 << "0";
        QTest::newRow("gray 4-bit LZW") << "3"
                                        << "1";
        QTest::newRow("gray 4-bit PackBits") << "3"
                                             << "2";
        QTest::newRow("gray 8-bit uncompressed") << "4"
                                                 << "0";
        QTest::newRow("gray 8-bit LZW") << "4"
                                        << "1";
        QTest::newRow("gray 8-bit PackBits") << "4"
                                             << "2";
    }
    void tiffPages() {
        QFETCH(QString, scanMode);
        QFETCH(QString, compress);
        const QStringList pages =
            Scan(scanMode.toLatin1().constData(), compress.toLatin1().constData(),
                 ORVOSCAN_FORMAT_TIFF, QStringLiteral("tif"));
        QCOMPARE(pages.size(), 2);
        const int bits = scanMode == "0" ? 1 : scanMode == "3" ? 4 : 8;
        const int compression = bits == 1         ? COMPRESSION_CCITTFAX4
                                : compress == "0" ? COMPRESSION_NONE
                                : compress == "1" ? COMPRESSION_LZW
                                                  : COMPRESSION_PACKBITS;
        for (const QString& page : pages) {
            // The file is of the kind this row is about.
            TIFF* tif = TIFFOpen(page.toLocal8Bit().constData(), "r");
            QVERIFY(tif != nullptr);
            uint16_t fileBits = 0;
            uint16_t fileCompression = 0;
            TIFFGetField(tif, TIFFTAG_BITSPERSAMPLE, &fileBits);
            TIFFGetField(tif, TIFFTAG_COMPRESSION, &fileCompression);
            TIFFClose(tif);
            QCOMPARE(int(fileBits), bits);
            QCOMPARE(int(fileCompression), compression);
            Compare(page, testimages::ReadWithLibtiff(page.toStdString()));
        }
    }

    void bitmapPages_data() {
        QTest::addColumn<QString>("scanMode");
        QTest::newRow("1-bit") << "0";
        QTest::newRow("4-bit") << "3";
        QTest::newRow("8-bit") << "4";
    }
    void bitmapPages() {
        QFETCH(QString, scanMode);
        const QStringList pages =
            Scan(scanMode.toLatin1().constData(), "1", ORVOSCAN_FORMAT_DIB, QStringLiteral("bmp"));
        QCOMPARE(pages.size(), 2);
        const int bits = scanMode == "0" ? 1 : scanMode == "3" ? 4 : 8;
        for (const QString& page : pages) {
            const QByteArray file = fixture::ReadFile(page);
            QCOMPARE(int(static_cast<uint8_t>(file.at(28))), bits);
            Compare(page, ReadBmp(file));
        }
    }
};

ORVO_QT_TEST(DriverPagesTest);
#include "driver_pages_test.moc"
