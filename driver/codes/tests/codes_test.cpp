// The code words against ITU-T T.4 (through libtiff's own fax decoder), the
// table file images against the code words, and the gray code's properties.
#include "orvo/codes/codes.h"

#include <gtest/gtest.h>
#include <tiffio.h>
#include <unistd.h>

#include <cstdlib>
#include <random>
#include <string>
#include <vector>

namespace orvo::codes {
namespace {

std::string Bits(CodeWord c) {
    std::string s;
    for (int i = c.length - 1; i >= 0; --i) s += ((c.bits >> i) & 1) ? '1' : '0';
    return s;
}

// Walks the table the way the bilevel decoder does and returns the entry that
// ends the code, or 0 when some bit before the last one already ended it.
uint8_t WalkMh(const std::vector<uint8_t>& table, const std::string& bits) {
    uint32_t state = 1;
    for (std::size_t i = 0; i < bits.size(); ++i) {
        state = ((state & 0x1FFF) << 1) | (bits[i] == '1' ? 1u : 0u);
        if (i + 1 >= 14) state |= 0x2000;
        const uint8_t entry = table.at(state);
        if (i + 1 < bits.size() && (entry & 0xC0) != 0) return 0;
        if (i + 1 == bits.size()) return entry;
    }
    return 0;
}

uint8_t WalkGray(const std::vector<uint8_t>& table, const std::string& bits) {
    uint32_t state = 1;
    for (std::size_t i = 0; i < bits.size(); ++i) {
        state = ((state & 0xFF) << 1) | (bits[i] == '1' ? 1u : 0u);
        const uint8_t entry = table.at(state);
        if (i + 1 < bits.size() && (entry & 0xC0) != 0) return 0;
        if (i + 1 == bits.size()) return entry;
    }
    return 0;
}

TEST(MhTable, EveryCodeWordDecodesToItsRun) {
    for (bool black : {false, true}) {
        SCOPED_TRACE(black ? "black" : "white");
        const auto table = BuildMhTable(black);
        ASSERT_EQ(table.size(), kMhTableSize);
        const CodeWord* term = black ? kBlackTerminating : kWhiteTerminating;
        for (int run = 0; run < 64; ++run) {
            EXPECT_EQ(WalkMh(table, Bits(term[run])), 0x80 | run) << "run " << run;
        }
        for (int run = 64; run <= 2560; run += 64) {
            EXPECT_EQ(WalkMh(table, Bits(MhMakeUp(black, run))), 0xC0 | (run / 64))
                << "make-up " << run;
        }
        // An EOL, with or without fill bits before it.
        for (int fill = 0; fill <= 24; ++fill) {
            EXPECT_EQ(WalkMh(table, std::string(fill, '0') + Bits(kEol)), 0x40) << "fill " << fill;
        }
        EXPECT_EQ(table[4097], 0x40);
        EXPECT_EQ(table[8193], 0x40);
        int marked = 0;
        for (uint8_t e : table) marked += e != 0;
        EXPECT_EQ(marked, 64 + 40 + 2);  // codes, make-ups, the two EOL states
    }
}

TEST(MhTable, MakeUpCodesOutsideTheirRangeAreEmpty) {
    EXPECT_EQ(MhMakeUp(false, 0).length, 0);
    EXPECT_EQ(MhMakeUp(false, 65).length, 0);
    EXPECT_EQ(MhMakeUp(true, 2624).length, 0);
    EXPECT_EQ(Bits(MhMakeUp(true, 1792)), Bits(MhMakeUp(false, 1792)));
}

class BitWriter {
  public:
    void Put(CodeWord c) {
        for (int i = c.length - 1; i >= 0; --i) PutBit((c.bits >> i) & 1);
    }
    void PutBit(int bit) {
        if (used_ % 8 == 0) bytes_.push_back(0);
        if (bit) bytes_.back() |= static_cast<uint8_t>(0x80 >> (used_ % 8));
        ++used_;
    }
    void Run(bool black, int run) {
        if (run >= 64) {
            Put(MhMakeUp(black, run / 64 * 64));
            run %= 64;
        }
        Put(black ? kBlackTerminating[run] : kWhiteTerminating[run]);
    }
    std::vector<uint8_t>& bytes() { return bytes_; }

  private:
    std::vector<uint8_t> bytes_;
    std::size_t used_ = 0;
};

void SetRun(std::vector<uint8_t>& row, int from, int count) {
    for (int x = from; x < from + count; ++x) row[x / 8] |= static_cast<uint8_t>(0x80 >> (x % 8));
}

// Every run length of both colours, coded with these tables as Group 3 1-D
// data, must come back from libtiff's fax decoder unchanged.
TEST(MhCodes, LibtiffDecodesEveryRunLength) {
    constexpr int kWidth = 2592;
    constexpr int kRowBytes = kWidth / 8;
    BitWriter w;
    std::vector<std::vector<uint8_t>> rows;
    for (int run = 0; run <= kWidth; ++run) {
        // White run `run`, then black for the rest.
        w.Put(kEol);
        w.Run(false, run);
        w.Run(true, kWidth - run);
        std::vector<uint8_t> a(kRowBytes, 0);
        SetRun(a, run, kWidth - run);
        rows.push_back(a);
        // White run 0, black run `run`, white for the rest.
        w.Put(kEol);
        w.Run(false, 0);
        w.Run(true, run);
        w.Run(false, kWidth - run);
        std::vector<uint8_t> b(kRowBytes, 0);
        SetRun(b, 0, run);
        rows.push_back(b);
    }
    for (int i = 0; i < 6; ++i) w.Put(kEol);

    char path[] = "/tmp/orvo-codes-XXXXXX";
    const int fd = mkstemp(path);
    ASSERT_GE(fd, 0);
    close(fd);
    TIFFSetWarningHandler(nullptr);
    TIFF* out = TIFFOpen(path, "w");
    ASSERT_NE(out, nullptr);
    TIFFSetField(out, TIFFTAG_IMAGEWIDTH, kWidth);
    TIFFSetField(out, TIFFTAG_IMAGELENGTH, static_cast<uint32_t>(rows.size()));
    TIFFSetField(out, TIFFTAG_BITSPERSAMPLE, 1);
    TIFFSetField(out, TIFFTAG_COMPRESSION, COMPRESSION_CCITTFAX3);
    TIFFSetField(out, TIFFTAG_GROUP3OPTIONS, 0);
    TIFFSetField(out, TIFFTAG_PHOTOMETRIC, PHOTOMETRIC_MINISWHITE);
    TIFFSetField(out, TIFFTAG_ROWSPERSTRIP, static_cast<uint32_t>(rows.size()));
    ASSERT_GT(TIFFWriteRawStrip(out, 0, w.bytes().data(), static_cast<tmsize_t>(w.bytes().size())),
              0);
    TIFFClose(out);

    TIFF* in = TIFFOpen(path, "r");
    ASSERT_NE(in, nullptr);
    std::vector<uint8_t> line(kRowBytes);
    int bad = 0;
    for (std::size_t r = 0; r < rows.size() && bad < 5; ++r) {
        ASSERT_EQ(TIFFReadScanline(in, line.data(), static_cast<uint32_t>(r), 0), 1) << r;
        if (line != rows[r]) {
            ++bad;
            ADD_FAILURE() << "row " << r << " (run " << r / 2 << (r % 2 ? " black" : " white")
                          << ") differs";
        }
    }
    TIFFClose(in);
    unlink(path);
}

TEST(GrayCode, IsPrefixFreeAndDecodesFromItsTable) {
    std::vector<std::string> words;
    for (const auto& c : kGrayTerminating) words.push_back(Bits(c));
    for (const auto& c : kGrayMakeUp) words.push_back(Bits(c));
    for (std::size_t i = 0; i < words.size(); ++i) {
        ASSERT_GE(words[i].size(), 1u);
        ASSERT_LE(words[i].size(), 8u);
        for (std::size_t j = 0; j < words.size(); ++j) {
            if (i != j) {
                EXPECT_NE(words[j].rfind(words[i], 0), 0u) << words[i] << " prefixes " << words[j];
            }
        }
    }
    const auto table = BuildGrayTable();
    ASSERT_EQ(table.size(), kGrayTableSize);
    for (int m = 0; m < 64; ++m) EXPECT_EQ(WalkGray(table, words[m]), 0x80 | m) << m;
    for (int i = 0; i < 3; ++i) EXPECT_EQ(WalkGray(table, words[64 + i]), 0xC0 | (i + 1));
    // Small magnitudes are never longer than large ones.
    for (int m = 1; m < 64; ++m) EXPECT_LE(words[m - 1].size(), words[m].size());
}

// Sign bits and code words must never hold eleven 0 bits in a row, or the
// decoder's look-ahead would take data for an EOL. The longest run is the
// trailing zeros of one word, a sign 0 (none after a make-up word) and the
// leading zeros of the next.
TEST(GrayCode, NeverHoldsElevenZerosInARow) {
    auto leading = [](const std::string& s) {
        return s.find('1') == std::string::npos ? s.size() : s.find('1');
    };
    auto trailing = [](const std::string& s) {
        const auto p = s.rfind('1');
        return p == std::string::npos ? s.size() : s.size() - 1 - p;
    };
    auto inner = [](const std::string& s) {
        std::size_t best = 0, cur = 0;
        for (char ch : s) best = std::max(best, cur = (ch == '0') ? cur + 1 : 0);
        return best;
    };
    std::size_t maxLead = 0, maxTrail = 0, maxInner = 0;
    auto add = [&](CodeWord c) {
        const std::string s = Bits(c);
        maxLead = std::max(maxLead, leading(s));
        maxTrail = std::max(maxTrail, trailing(s));
        maxInner = std::max(maxInner, inner(s));
    };
    for (const auto& c : kGrayTerminating) add(c);
    for (const auto& c : kGrayMakeUp) add(c);
    EXPECT_EQ(maxLead, 0u);  // every word starts with a 1
    EXPECT_LT(maxTrail + 1 + maxLead, 11u);
    EXPECT_LT(maxInner, 11u);

    // And a long random line, as the virtual scanner would code it.
    std::mt19937 rng(7);
    std::string line = "1";  // the EOL's final bit
    for (int i = 0; i < 20000; ++i) {
        const int v = static_cast<int>(rng() % 256) - 128;
        line += v >= 0 ? '1' : '0';
        int mag = std::abs(v);
        if (mag >= 64) {
            line += Bits(kGrayMakeUp[mag / 64 - 1]);
            mag %= 64;
        }
        line += Bits(kGrayTerminating[mag]);
    }
    EXPECT_EQ(line.find(std::string(11, '0')), std::string::npos);
}

TEST(Gray4Code, MatchesTheBuiltInTable) {
    const uint16_t stored[16] = {0x0002, 0x0006, 0x001C, 0x001E, 0x003A, 0x003B, 0x003F, 0x007C,
                                 0x00FA, 0x01F6, 0x03EE, 0x07DE, 0x0FBE, 0x3EFD, 0x1F7F, 0x3EFC};
    for (int m = 0; m < 16; ++m) EXPECT_EQ(CodeState(kGray4[m]), stored[m]) << m;
}

}  // namespace
}  // namespace orvo::codes
