// Helpers of the image tests: a bit writer that codes lines the way the
// scanner does, and code tables built from the code words.
#pragma once

#include <cstdint>
#include <cstdlib>
#include <random>
#include <string>
#include <vector>

#include "orvo/codes/codes.h"
#include "orvo/image/code_tables.h"

namespace orvo::test {

class Bits {
  public:
    Bits& Put(codes::CodeWord c) {
        for (int i = c.length - 1; i >= 0; --i) Bit((c.bits >> i) & 1);
        return *this;
    }
    Bits& Bit(int b) {
        if (used_ % 8 == 0) bytes_.push_back(0);
        if (b) bytes_.back() |= static_cast<uint8_t>(0x80 >> (used_ % 8));
        ++used_;
        return *this;
    }
    Bits& Text(const std::string& s) {
        for (char ch : s) Bit(ch == '1');
        return *this;
    }
    Bits& Eol(int fill = 0) {
        for (int i = 0; i < fill; ++i) Bit(0);
        return Put(codes::kEol);
    }
    Bits& Rtc() {
        for (int i = 0; i < 6; ++i) Eol();
        return *this;
    }
    // One MH run; runs above 2560 take more than one make-up code.
    Bits& Run(bool black, int run) {
        while (run > 2560 + 63) {
            Put(codes::MhMakeUp(black, 2560));
            run -= 2560;
        }
        if (run >= 64) {
            Put(codes::MhMakeUp(black, run / 64 * 64));
            run %= 64;
        }
        return Put(black ? codes::kBlackTerminating[run] : codes::kWhiteTerminating[run]);
    }
    // A line of alternating runs, white first.
    Bits& MhLine(const std::vector<int>& runs) {
        Eol();
        for (std::size_t i = 0; i < runs.size(); ++i) Run(i % 2 == 1, runs[i]);
        return *this;
    }
    // One 8-bit gray difference (sign bit, then the magnitude's code words).
    Bits& Gray8(int value) {
        Bit(value >= 0 ? 1 : 0);
        int m = std::abs(value);
        if (m >= 64) {
            Put(codes::kGrayMakeUp[m / 64 - 1]);
            m %= 64;
        }
        return Put(codes::kGrayTerminating[m]);
    }
    Bits& Gray4(int value) {
        Bit(value >= 0 ? 1 : 0);
        return Put(codes::kGray4[std::abs(value)]);
    }
    Bits& Pad(int bit = 0) {
        while (used_ % 8 != 0) Bit(bit);
        return *this;
    }
    std::size_t bitCount() const { return used_; }
    const std::vector<uint8_t>& bytes() const { return bytes_; }

  private:
    std::vector<uint8_t> bytes_;
    std::size_t used_ = 0;
};

inline const CodeTables& GeneratedTables() {
    static const CodeTables tables = [] {
        CodeTables t;
        const auto w = codes::BuildMhTable(false);
        const auto b = codes::BuildMhTable(true);
        const auto g = codes::BuildGrayTable();
        for (std::size_t i = 0; i < kMhCodeTableSize; ++i) {
            t.white[i] = w[i];
            t.black[i] = b[i];
        }
        for (std::size_t i = 0; i < kGrayCodeTableSize; ++i) t.gray[i] = g[i];
        return t;
    }();
    return tables;
}

// Decoder input for the fast-against-reference tests: `good` with `flips`
// bits flipped at random places and, when `cut`, cut at a random length.
inline std::vector<uint8_t> DamagedData(std::vector<uint8_t> data, int flips, bool cut,
                                        std::mt19937& rng) {
    for (int k = 0; k < flips; ++k) {
        data[rng() % data.size()] ^= static_cast<uint8_t>(1u << (rng() % 8));
    }
    if (cut) data.resize(rng() % data.size());
    return data;
}

// Random bytes, fewer than `maxBytes`, with a random share of set bits:
// sparse bits make long zero runs (EOLs and fill), dense ones codes of every
// kind.
inline std::vector<uint8_t> RandomBitData(std::size_t maxBytes, std::mt19937& rng) {
    std::vector<uint8_t> data(rng() % maxBytes);
    const uint32_t density = 1 + rng() % 8;
    for (auto& x : data) {
        x = 0;
        for (int bit = 0; bit < 8; ++bit) {
            if (rng() % 8 < density) x |= static_cast<uint8_t>(1u << bit);
        }
    }
    return data;
}

}  // namespace orvo::test
