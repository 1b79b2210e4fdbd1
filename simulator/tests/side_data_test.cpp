// Side data parsed back the way the host reads it: header fields, block
// padding, MICR field, and the end of the coded data found by the host's
// RTC search at the place the coder put it.
#include <gtest/gtest.h>

#include <algorithm>

#include "orvo/sim/side_data.h"

namespace orvo::sim {
namespace {

// The host's EOL anchor test and RTC search over a byte sequence.
bool Anchor(const std::vector<uint8_t>& d, size_t n, size_t i) {
    unsigned a = d[i], c = i == 0 ? 0xFF : d[i - 1], e = i + 1 < n ? d[i + 1] : 0;
    if (a & 0x0F) return false;
    return ((a & 0xF0) == 0 && (e & 0xF0) == 0x10) || ((a & 0x70) == 0 && (e & 0xF8) == 0x08) ||
           ((a & 0x30) == 0 && (e & 0xFC) == 0x04) || ((a & 0x10) == 0 && (e & 0xFE) == 0x02) ||
           e == 0x01 || ((a & 0xF0) == 0 && (e & 0x80) && (c & 0x07) == 0) ||
           ((a & 0xF0) == 0 && (e & 0xC0) == 0x40 && (c & 0x03) == 0) ||
           ((a & 0xF0) == 0 && (e & 0xE0) == 0x20 && (c & 0x01) == 0);
}
long RtcSearch(const std::vector<uint8_t>& d, size_t from, size_t n) {
    std::vector<uint8_t> s(d.begin() + static_cast<ptrdiff_t>(from),
                           d.begin() + static_cast<ptrdiff_t>(from + n));
    size_t last = 0;
    int run = 0;
    for (size_t i = 0; i < n; ++i) {
        if (i > last + 2) run = 0;
        if (Anchor(s, n, i)) {
            ++run;
            last = i;
            if (run == 6) return static_cast<long>(i + 1);
        }
    }
    return -1;
}
int EolCount(const std::vector<uint8_t>& d, size_t from, size_t n) {
    std::vector<uint8_t> s(d.begin() + static_cast<ptrdiff_t>(from),
                           d.begin() + static_cast<ptrdiff_t>(from + n));
    int count = 0;
    for (size_t i = 0; i < n; ++i) count += Anchor(s, n, i);
    return count - 6;
}

uint16_t Blocks(const std::vector<uint8_t>& b, size_t at) {
    return b[at + 2] | (b[at + 3] << 8);
}
// ActualImageSize: the image data in 16-bit words.
uint32_t ImageWords(const std::vector<uint8_t>& b, size_t at) {
    return (uint32_t{b[at + 4]} << 24) | (b[at + 5] << 16) | (b[at + 6] << 8) | b[at + 7];
}
std::string Micr(const std::vector<uint8_t>& b, size_t at) {
    std::string s;
    for (size_t i = at + kMicrOffset; i < at + kSideHeaderSize && b[i] != 0x0D; ++i)
        s.push_back(static_cast<char>(b[i]));
    return s;
}

WindowSettings Window(int mode, int compress, int width, int lines, bool micr = true) {
    WindowSettings w = WindowSettings::PowerOn();
    w.scanMode[0] = mode;
    w.compressMode = compress;
    w.scanWidth = width;
    w.scanLines[0] = lines;
    w.micrDetect = micr ? 1 : 0;
    w.bwSlice[0] = 128;
    return w;
}

TEST(SideData, CodedSidesEndWhereTheHostFindsTheRtc) {
    Image page = SyntheticCheque(4, true);
    for (int mode : {0, 1, 2, 3, 4}) {
        for (bool align : {false, true}) {
            SCOPED_TRACE("mode " + std::to_string(mode) + (align ? " aligned" : ""));
            SideOptions o;
            o.micr = "T021000021T 1234567890U 0101";
            o.alignEol = align;
            SideData s = BuildSide(page, true, Window(mode, 0, 1728, 600), o);
            const auto& b = s.bytes;
            EXPECT_EQ(b[0], 0x55);
            EXPECT_EQ(b[1], 0x55);
            EXPECT_EQ(b.size() % kBlockSize, 0u);
            EXPECT_EQ(Blocks(b, 0), b.size() / kBlockSize);
            EXPECT_EQ(s.blocks, b.size() / kBlockSize);
            EXPECT_EQ(ImageWords(b, 0), (s.rtcEnd - kSideHeaderSize) / 2);
            EXPECT_EQ(s.imageBytes, s.rtcEnd - kSideHeaderSize);
            EXPECT_LT(s.rtcEnd, b.size());
            EXPECT_GT(s.rtcEnd + kBlockSize, b.size());  // no wasted block
            EXPECT_EQ(Micr(b, 0), o.micr);
            // Only zeros after the data.
            EXPECT_TRUE(std::all_of(b.begin() + static_cast<ptrdiff_t>(s.rtcEnd), b.end(),
                                    [](uint8_t v) { return v == 0; }));
            // The host searches from the header's first byte over all blocks.
            // The side file the host keeps ends with the RTC's last byte.
            EXPECT_EQ(RtcSearch(b, 0, b.size()) + 1, static_cast<long>(s.rtcEnd));
            EXPECT_EQ(EolCount(b, kSideHeaderSize, s.rtcEnd - kSideHeaderSize), 600);
        }
    }
}

TEST(SideData, UncompressedRowsInEachDepth) {
    Image page(20, 3, 255);
    page.at(0, 0) = 0;     // black
    page.at(19, 2) = 100;  // dark gray: black at slice 128
    page.at(1, 1) = 0xA7;
    struct Case {
        int mode;
        size_t rowBytes;
    };
    for (Case c : {Case{0, 3}, Case{3, 10}, Case{4, 20}}) {
        SideData s = BuildSide(page, false, Window(c.mode, 1, 20, 3, false), {});
        const auto& b = s.bytes;
        EXPECT_EQ(b[0], 0xAA);
        EXPECT_EQ(b[1], 0xAA);
        EXPECT_EQ(ImageWords(b, 0), 3 * c.rowBytes / 2);
        EXPECT_EQ(b[kMicrOffset], 0) << "no MICR field when MicrDetect is off";
        const uint8_t* d = b.data() + kSideHeaderSize;
        if (c.mode == 0) {
            EXPECT_EQ(d[0], 0x80);
            EXPECT_EQ(d[3], 0x00);
            EXPECT_EQ(d[6 + 2], 0x10);  // pixel 19 of row 2
        } else if (c.mode == 3) {
            EXPECT_EQ(d[0], 0x0F);
            EXPECT_EQ(d[10], 0xFA);  // 0xA7 >> 4 in the low nibble of byte 0 of row 1
            EXPECT_EQ(d[29], 0xF6);
        } else {
            EXPECT_EQ(d[0], 0);
            EXPECT_EQ(d[21], 0xA7);
            EXPECT_EQ(d[59], 100);
        }
    }
}

TEST(SideData, FitsThePageToTheWindow) {
    Image page(10, 4, 0);  // all black
    Image v = SideValues(page, Window(0, 0, 16, 6));
    ASSERT_EQ(v.width, 16);
    ASSERT_EQ(v.height, 6);
    EXPECT_EQ(v.at(9, 3), 1);
    EXPECT_EQ(v.at(10, 3), 0);  // padded white
    EXPECT_EQ(v.at(9, 4), 0);
    Image cropped = SideValues(page, Window(4, 0, 8, 2));
    EXPECT_EQ(cropped.width, 8);
    EXPECT_EQ(cropped.height, 2);
    Image own = SideValues(page, Window(4, 0, 0, 0));
    EXPECT_EQ(own.width, 10);
    EXPECT_EQ(own.height, 4);
    // The slice level decides black and white.
    Image gray(2, 1, 120);
    gray.at(1, 0) = 121;
    WindowSettings w = Window(0, 1, 2, 1);
    w.bwSlice[0] = 121;
    Image bw = SideValues(gray, w);
    EXPECT_EQ(bw.at(0, 0), 1);
    EXPECT_EQ(bw.at(1, 0), 0);
}

TEST(SideData, MicrFieldLimitsAndFaults) {
    Image page(64, 8, 255);
    SideOptions o;
    o.micr = std::string(60, '1');
    SideData s = BuildSide(page, true, Window(0, 0, 64, 8), o);
    EXPECT_EQ(Micr(s.bytes, 0), std::string(46, '1'));
    EXPECT_EQ(s.bytes[kMicrOffset + 46], 0x0D);

    o.micr = "T12?456_89T";
    o.micrNoCr = true;
    s = BuildSide(page, true, Window(0, 0, 64, 8), o);
    for (size_t i = kMicrOffset; i < kSideHeaderSize; ++i) EXPECT_NE(s.bytes[i], 0x0D);
    EXPECT_EQ(std::string(s.bytes.begin() + kMicrOffset, s.bytes.begin() + kMicrOffset + 11),
              o.micr);

    SideOptions bad;
    bad.wrongMarkers = true;
    bad.claimBlocks = 1500;
    bad.omitRtc = true;
    s = BuildSide(page, false, Window(0, 0, 64, 8), bad);
    EXPECT_EQ(s.bytes[0], 0xAA);
    EXPECT_EQ(s.bytes[1], 0x55);
    EXPECT_EQ(Blocks(s.bytes, 0), 1500);
    EXPECT_EQ(RtcSearch(s.bytes, 0, s.bytes.size()), -1);
    EXPECT_EQ(EolCount(s.bytes, kSideHeaderSize, s.imageBytes), 8 - 6);  // line EOLs stay
}

TEST(SideData, DocumentHoldsFrontThenRearOnBlockBoundaries) {
    Image front = SyntheticCheque(1, true), rear = SyntheticCheque(1, false);
    WindowSettings w = Window(4, 1, 1728, 700);  // 8-bit rows: several blocks per side
    SideOptions fo, ro;
    fo.micr = ro.micr = "T1T";
    DocumentData d = BuildDocument(front, fo, &rear, ro, w);
    size_t sideBlocks = (kSideHeaderSize + 1728 * 700 + kBlockSize - 1) / kBlockSize;
    EXPECT_EQ(d.frontBlocks, sideBlocks);
    EXPECT_EQ(d.rearBlocks, sideBlocks);
    ASSERT_EQ(d.bytes.size(), 2 * sideBlocks * kBlockSize);
    size_t rearAt = d.frontBlocks * kBlockSize;
    EXPECT_EQ(d.bytes[rearAt], 0xAA);
    EXPECT_EQ(Blocks(d.bytes, rearAt), sideBlocks);
    EXPECT_EQ(ImageWords(d.bytes, rearAt), 1728u * 700u / 2);

    w.frontOnly = true;
    DocumentData one = BuildDocument(front, fo, &rear, ro, w);
    EXPECT_EQ(one.rearBlocks, 0u);
    EXPECT_EQ(one.bytes.size(), sideBlocks * kBlockSize);
}

}  // namespace
}  // namespace orvo::sim
