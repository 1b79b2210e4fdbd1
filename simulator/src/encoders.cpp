#include "orvo/sim/encoders.h"

#include <cstdlib>

namespace orvo::sim {

void BitWriter::PutBit(bool bit) {
    if (bits_ % 8 == 0) bytes_.push_back(0);
    if (bit) bytes_.back() |= static_cast<uint8_t>(0x80u >> (bits_ % 8));
    ++bits_;
}

void BitWriter::PutBits(uint32_t bits, int count) {
    for (int i = count - 1; i >= 0; --i) PutBit((bits >> i) & 1u);
}

void BitWriter::FillToAlign(int then) {
    while ((bits_ + static_cast<size_t>(then)) % 8 != 0) PutBit(false);
}

namespace {

void PutEol(BitWriter& out, const CodingOptions& options) {
    if (options.alignEol) out.FillToAlign(codes::kEol.length);
    out.Put(codes::kEol);
}

void PutRtc(BitWriter& out, const CodingOptions& options, CodedPage* page) {
    if (options.alignEol) out.FillToAlign(codes::kEol.length);
    page->rtcBit = out.bitCount();
    for (int i = 0; i < 6; ++i) PutEol(out, options);
}

// One run of a colour: make-up codes of 2560 while more than 2560 + 63
// remain, then at most one further make-up code and the terminating code.
void PutRun(BitWriter& out, bool black, int run) {
    while (run >= 2560 + 64) {
        out.Put(codes::MhMakeUp(black, 2560));
        run -= 2560;
    }
    if (run >= 64) {
        int makeUp = run / 64 * 64;
        out.Put(codes::MhMakeUp(black, makeUp));
        run -= makeUp;
    }
    out.Put(black ? codes::kBlackTerminating[run] : codes::kWhiteTerminating[run]);
}

// Sign bit and magnitude of one gray difference (8-bit code).
void PutGray8(BitWriter& out, int v) {
    out.PutBit(v >= 0);
    int m = std::abs(v);
    if (m >= 64) {
        int i = m / 64 - 1;  // 64, 128, 192
        out.Put(codes::kGrayMakeUp[i]);
        m -= (i + 1) * 64;
    }
    out.Put(codes::kGrayTerminating[m]);
}

}  // namespace

void EncodeMhLine(BitWriter& out, const uint8_t* pixels, int width) {
    bool black = false;
    int x = 0;
    while (x < width) {
        int run = 0;
        while (x + run < width && (pixels[x + run] != 0) == black) ++run;
        PutRun(out, black, run);
        x += run;
        black = !black;
    }
    if (width == 0) PutRun(out, false, 0);
}

namespace {

// Every coding frames its lines the same way: an EOL before each line, an
// RTC after the last.
template <typename LineCoder>
CodedPage EncodePage(const std::vector<uint8_t>& pixels, int width, int height,
                     const CodingOptions& options, LineCoder codeLine) {
    BitWriter out;
    CodedPage page;
    for (int y = 0; y < height; ++y) {
        PutEol(out, options);
        codeLine(out, pixels.data() + static_cast<size_t>(y) * width, width);
    }
    PutRtc(out, options, &page);
    page.bytes = out.Take();
    return page;
}

void EncodeGray8Line(BitWriter& out, const uint8_t* row, int width) {
    int prev = 0;
    for (int x = 0; x < width; ++x) {
        PutGray8(out, prev - row[x]);
        prev = row[x];
    }
}

void EncodeGray4Line(BitWriter& out, const uint8_t* row, int width) {
    int prev = 0;
    for (int x = 0; x < width; ++x) {
        // Only the low four bits of the decoded value count, so the
        // difference is taken modulo 16 in the range -8..7.
        int d = ((prev - (row[x] & 0x0F)) % 16 + 16) % 16;
        if (d >= 8) d -= 16;
        out.PutBit(d >= 0);
        out.Put(codes::kGray4[std::abs(d)]);
        prev = row[x] & 0x0F;
    }
}

}  // namespace

CodedPage EncodeMh(const std::vector<uint8_t>& pixels, int width, int height,
                   const CodingOptions& options) {
    return EncodePage(pixels, width, height, options, EncodeMhLine);
}

CodedPage EncodeGray8(const std::vector<uint8_t>& pixels, int width, int height,
                      const CodingOptions& options) {
    return EncodePage(pixels, width, height, options, EncodeGray8Line);
}

CodedPage EncodeGray4(const std::vector<uint8_t>& pixels, int width, int height,
                      const CodingOptions& options) {
    return EncodePage(pixels, width, height, options, EncodeGray4Line);
}

}  // namespace orvo::sim
