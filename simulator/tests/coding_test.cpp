// The coders checked against independent decoders: libtiff's own Group 3
// fax decoder for the bilevel code, a plain bit-by-bit decoder for the gray
// codes.
#include <gtest/gtest.h>
#include <tiffio.h>

#include <unistd.h>
#include <cstdio>
#include <map>
#include <random>
#include <string>

#include "orvo/codes/codes.h"
#include "orvo/sim/encoders.h"

namespace orvo::sim {
namespace {

// Bilevel page with long runs, short runs and full-width lines of both colours.
std::vector<uint8_t> BilevelPage(int w, int h, unsigned seed) {
    std::mt19937 rng(seed);
    std::vector<uint8_t> px(static_cast<size_t>(w) * h, 0);
    for (int y = 0; y < h; ++y) {
        uint8_t* row = &px[static_cast<size_t>(y) * w];
        switch (y % 5) {
            case 0:
                break;  // all white
            case 1:
                std::fill(row, row + w, 1);
                break;  // all black
            case 2:     // starts black
                for (int x = 0; x < w; ++x) row[x] = x < w / 3 ? 1 : (x % 7 == 0);
                break;
            default: {  // random runs of every length
                int x = 0;
                uint8_t c = rng() % 2;
                while (x < w) {
                    int run = 1 + static_cast<int>(rng() % (rng() % 4 == 0 ? 2700 : 70));
                    for (int i = 0; i < run && x < w; ++i, ++x) row[x] = c;
                    c ^= 1;
                }
            }
        }
    }
    return px;
}

// Wraps coded lines in a Group 3 one-dimensional TIFF and reads the rows back
// with libtiff's decoder; pixels as 1 = black.
std::vector<uint8_t> DecodeWithLibtiff(const std::vector<uint8_t>& coded, int w, int h) {
    char name[] = "/tmp/orvosim_mhXXXXXX";
    int fd = mkstemp(name);
    EXPECT_GE(fd, 0);
    close(fd);
    TIFF* out = TIFFOpen(name, "w");
    EXPECT_NE(out, nullptr);
    TIFFSetField(out, TIFFTAG_IMAGEWIDTH, static_cast<uint32_t>(w));
    TIFFSetField(out, TIFFTAG_IMAGELENGTH, static_cast<uint32_t>(h));
    TIFFSetField(out, TIFFTAG_BITSPERSAMPLE, 1);
    TIFFSetField(out, TIFFTAG_SAMPLESPERPIXEL, 1);
    TIFFSetField(out, TIFFTAG_COMPRESSION, COMPRESSION_CCITTFAX3);
    TIFFSetField(out, TIFFTAG_GROUP3OPTIONS, 0);
    TIFFSetField(out, TIFFTAG_FILLORDER, FILLORDER_MSB2LSB);
    TIFFSetField(out, TIFFTAG_PHOTOMETRIC, PHOTOMETRIC_MINISWHITE);
    TIFFSetField(out, TIFFTAG_ROWSPERSTRIP, static_cast<uint32_t>(h));
    TIFFWriteRawStrip(out, 0, const_cast<uint8_t*>(coded.data()),
                      static_cast<tmsize_t>(coded.size()));
    TIFFClose(out);

    std::vector<uint8_t> px(static_cast<size_t>(w) * h, 0);
    TIFF* in = TIFFOpen(name, "r");
    EXPECT_NE(in, nullptr);
    std::vector<uint8_t> line(static_cast<size_t>(TIFFScanlineSize(in)));
    for (int y = 0; y < h; ++y) {
        EXPECT_EQ(TIFFReadScanline(in, line.data(), static_cast<uint32_t>(y)), 1) << "row " << y;
        for (int x = 0; x < w; ++x)
            px[static_cast<size_t>(y) * w + x] = (line[x / 8] >> (7 - x % 8)) & 1;
    }
    TIFFClose(in);
    unlink(name);
    return px;
}

// Counts EOLs (eleven or more 0 bits, then a 1) and the longest 0 run that
// is not part of one.
struct Framing {
    int eols = 0;
    int longestInnerZeros = 0;
};
Framing Scan(const std::vector<uint8_t>& bytes) {
    Framing f;
    int zeros = 0;
    for (size_t i = 0; i < bytes.size() * 8; ++i) {
        if ((bytes[i / 8] >> (7 - i % 8)) & 1) {
            if (zeros >= 11)
                ++f.eols;
            else
                f.longestInnerZeros = std::max(f.longestInnerZeros, zeros);
            zeros = 0;
        } else {
            ++zeros;
        }
    }
    return f;
}

bool SixEolsAt(const std::vector<uint8_t>& bytes, size_t bit) {
    auto get = [&](size_t i) {
        return i < bytes.size() * 8 && ((bytes[i / 8] >> (7 - i % 8)) & 1);
    };
    for (int e = 0; e < 6; ++e) {
        int zeros = 0;
        while (!get(bit)) {
            if (bit >= bytes.size() * 8) return false;
            ++zeros;
            ++bit;
        }
        if (zeros < 11) return false;
        ++bit;
    }
    return true;
}

TEST(MhCoder, LibtiffDecodesEveryWidthBitForBit) {
    for (int w :
         {1, 7, 8, 63, 64, 65, 127, 1727, 1728, 1729, 1791, 1792, 2559, 2560, 2561, 2591, 2592}) {
        for (bool align : {false, true}) {
            SCOPED_TRACE("width " + std::to_string(w) + (align ? " aligned" : ""));
            int h = 23;
            auto px = BilevelPage(w, h, static_cast<unsigned>(w));
            CodedPage page = EncodeMh(px, w, h, {align});
            EXPECT_EQ(DecodeWithLibtiff(page.bytes, w, h), px);
            Framing f = Scan(page.bytes);
            EXPECT_EQ(f.eols, h + 6);
            EXPECT_LT(f.longestInnerZeros, 11);
            EXPECT_TRUE(SixEolsAt(page.bytes, page.rtcBit));
            if (align) {
                // Every EOL ends on a byte boundary: its final 1 is a byte's last bit.
                EXPECT_EQ(page.bytes.back(), 0x01);
                EXPECT_EQ(page.rtcBit % 8, 4u);
            }
        }
    }
}

TEST(MhCoder, RunsBeyondTheLongestMakeUpCode) {
    // Lines wider than 2560 + 63 need several make-up codes in one run.
    for (int w : {2623, 2624, 2700, 5184}) {
        SCOPED_TRACE(w);
        std::vector<uint8_t> px(static_cast<size_t>(w) * 4, 0);
        std::fill(px.begin() + w, px.begin() + 2 * w, 1);  // one black run of w
        std::fill(px.begin() + 3 * w + 1, px.end(), 1);    // white 1, black w - 1
        CodedPage page = EncodeMh(px, w, 4);
        EXPECT_EQ(DecodeWithLibtiff(page.bytes, w, 4), px);
    }
}

// A plain decoder of the differential gray codes, written from the code
// word lists.
class GrayDecoder {
  public:
    GrayDecoder(const std::vector<uint8_t>& bytes, bool fourBit)
        : bytes_(bytes), fourBit_(fourBit) {
        if (fourBit) {
            for (int m = 0; m < 16; ++m) term_[Key(codes::kGray4[m])] = m;
        } else {
            for (int m = 0; m < 64; ++m) term_[Key(codes::kGrayTerminating[m])] = m;
            for (int i = 0; i < 3; ++i) makeUp_[Key(codes::kGrayMakeUp[i])] = 64 * (i + 1);
        }
    }
    // Reads one EOL (any fill before it), then w values; false on a fault.
    bool Line(int w, std::vector<uint8_t>* pixels) {
        if (!Eol()) return false;
        int p = 0;
        zerosInLine_ = 0;
        for (int x = 0; x < w; ++x) {
            int sign = Bit();
            int m = Magnitude();
            if (sign < 0 || m < 0) return false;
            if (sign == 0 && m == 0) return false;  // an early line end is never sent
            int v = sign ? m : -m;
            p = (p - v) & 0xFF;
            pixels->push_back(static_cast<uint8_t>(fourBit_ ? p & 0x0F : p));
        }
        return true;
    }
    bool Rtc() {
        for (int i = 0; i < 6; ++i)
            if (!Eol()) return false;
        return true;
    }
    int longestZerosInLines() const { return longestZeros_; }

  private:
    static uint32_t Key(codes::CodeWord c) { return codes::CodeState(c); }
    int Bit() {
        if (pos_ >= bytes_.size() * 8) return -1;
        int b = (bytes_[pos_ / 8] >> (7 - pos_ % 8)) & 1;
        ++pos_;
        zerosInLine_ = b ? 0 : zerosInLine_ + 1;
        longestZeros_ = std::max(longestZeros_, zerosInLine_);
        return b;
    }
    bool Eol() {
        int zeros = 0, b, longest = longestZeros_;
        while ((b = Bit()) == 0) ++zeros;
        zerosInLine_ = 0;
        longestZeros_ = longest;  // the EOL's own zeros do not count
        return b == 1 && zeros >= 11;
    }
    int Code(bool* makeUp) {
        uint32_t state = 1;
        for (int n = 0; n < 13; ++n) {
            int b = Bit();
            if (b < 0) return -1;
            state = (state << 1) | static_cast<uint32_t>(b);
            if (auto it = term_.find(state); it != term_.end()) {
                *makeUp = false;
                return it->second;
            }
            if (auto it = makeUp_.find(state); it != makeUp_.end()) {
                *makeUp = true;
                return it->second;
            }
        }
        return -1;
    }
    int Magnitude() {
        bool makeUp = false;
        int m = Code(&makeUp);
        if (m < 0 || !makeUp) return m;
        int rest = Code(&makeUp);
        if (rest < 0 || makeUp) return -1;
        return m + rest;
    }

    const std::vector<uint8_t>& bytes_;
    bool fourBit_;
    size_t pos_ = 0;
    int zerosInLine_ = 0;
    int longestZeros_ = 0;
    std::map<uint32_t, int> term_, makeUp_;
};

std::vector<uint8_t> GrayPage(int w, int h, int maxValue, unsigned seed) {
    std::mt19937 rng(seed);
    std::vector<uint8_t> px(static_cast<size_t>(w) * h);
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x) {
            int v;
            switch (y % 4) {
                case 0:
                    v = (x * 3 + y) % (maxValue + 1);
                    break;  // gradient
                case 1:
                    v = (x % 2) ? maxValue : 0;
                    break;  // extreme steps
                case 2:
                    v = static_cast<int>(rng() % (maxValue + 1));
                    break;  // noise
                default:
                    v = maxValue;
                    break;  // flat white
            }
            px[static_cast<size_t>(y) * w + x] = static_cast<uint8_t>(v);
        }
    return px;
}

void RoundTrip(bool fourBit, int w, int h, bool align) {
    auto px = GrayPage(w, h, fourBit ? 15 : 255, static_cast<unsigned>(w * 31 + h));
    CodedPage page = fourBit ? EncodeGray4(px, w, h, {align}) : EncodeGray8(px, w, h, {align});
    GrayDecoder dec(page.bytes, fourBit);
    std::vector<uint8_t> got;
    for (int y = 0; y < h; ++y) ASSERT_TRUE(dec.Line(w, &got)) << "line " << y;
    EXPECT_TRUE(dec.Rtc());
    EXPECT_EQ(got, px);
    EXPECT_LT(dec.longestZerosInLines(), 11) << "an EOL look-alike inside a line";
    EXPECT_TRUE(SixEolsAt(page.bytes, page.rtcBit));
    EXPECT_EQ(Scan(page.bytes).eols, h + 6);
}

TEST(GrayCoders, EightBitRoundTripWithoutElevenZeroRuns) {
    for (int w : {1, 2, 5, 64, 1728, 2592})
        for (bool align : {false, true}) {
            SCOPED_TRACE(std::to_string(w) + (align ? " aligned" : ""));
            RoundTrip(false, w, 9, align);
        }
}

TEST(GrayCoders, FourBitRoundTripWithoutElevenZeroRuns) {
    for (int w : {1, 3, 64, 1727, 2592})
        for (bool align : {false, true}) {
            SCOPED_TRACE(std::to_string(w) + (align ? " aligned" : ""));
            RoundTrip(true, w, 9, align);
        }
}

}  // namespace
}  // namespace orvo::sim
