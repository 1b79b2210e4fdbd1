// What the fuzz programs share: the code tables built in-process from the
// code words (no table files needed), and a reader of leading input bytes.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <vector>

#include "orvo/codes/codes.h"
#include "orvo/image/code_tables.h"
#include "orvo/image/decode.h"
#include "orvo/image/framing.h"

namespace orvo::fuzz {

// The tables the driver loads from huffmanb.dat, huffmanw.dat, huffmang.dat.
inline const CodeTables& Tables() {
    static const std::unique_ptr<CodeTables> tables = [] {
        auto t = std::make_unique<CodeTables>();
        const std::vector<uint8_t> black = codes::BuildMhTable(true);
        const std::vector<uint8_t> white = codes::BuildMhTable(false);
        const std::vector<uint8_t> gray = codes::BuildGrayTable();
        std::memcpy(t->black, black.data(), std::min(black.size(), sizeof t->black));
        std::memcpy(t->white, white.data(), std::min(white.size(), sizeof t->white));
        std::memcpy(t->gray, gray.data(), std::min(gray.size(), sizeof t->gray));
        return t;
    }();
    return *tables;
}

inline Decoder& TheDecoder() {
    static Decoder decoder(Tables());
    return decoder;
}

// Takes bytes from the front of the input; 0 once it is used up.
class Input {
  public:
    Input(const uint8_t* data, std::size_t size) : data_(data), size_(size) {}
    uint8_t Byte() {
        if (pos_ >= size_) return 0;
        return data_[pos_++];
    }
    uint16_t Word() { return static_cast<uint16_t>(Byte() << 8 | Byte()); }
    const uint8_t* rest() const { return data_ + pos_; }
    std::size_t restSize() const { return size_ - pos_; }

  private:
    const uint8_t* data_;
    std::size_t size_;
    std::size_t pos_ = 0;
};

// Decoded rows land in a buffer of exactly the size handed to the decoder, so
// that the sanitizer sees any write past it; its row count comes from the
// first input byte (a few rows up to more than the data can fill).
struct PageRun {
    long lines = 0;
    std::vector<uint8_t> dst;
    const uint8_t* data = nullptr;
    std::size_t length = 0;
};

inline PageRun PreparePage(const uint8_t* input, std::size_t size, std::size_t rowBytes,
                           long framedLines) {
    Input in(input, size);
    const uint8_t shape = in.Byte();
    PageRun run;
    run.data = in.rest();
    run.length = in.restSize();
    // Lines: as the callers count them (the EOL count), or a value of the
    // input's choosing, including 0, negative and far more than the data hold.
    switch (shape & 3) {
        case 0:
            run.lines = framedLines;
            break;
        case 1:
            run.lines = (shape >> 2) - 8;
            break;
        case 2:
            run.lines = framedLines + (shape >> 2);
            break;
        default:
            run.lines = 100000;
            break;
    }
    // Rows the destination holds: from one (row 0 only) to 64, or none.
    const std::size_t rows = (shape >> 4) == 0 ? 0 : static_cast<std::size_t>(shape >> 2) + 1;
    run.dst.assign(rows * rowBytes, 0xA5);
    return run;
}

// A gray page decoder and its bit-by-bit reference (Decoder::DecodeGray4Page
// and DecodeGray4PageReference, or the 8-bit pair) over arbitrary data, sized
// the way the callers size a gray page: the data cut at the RTC and the lines
// counted in front of it. Both must leave the same bytes in destinations of
// exactly the size handed to them.
using GrayPageDecoder = void (Decoder::*)(const uint8_t*, std::size_t, long, uint8_t*, std::size_t);
inline void FuzzGrayPage(Decoder& decoder, const uint8_t* input, std::size_t size,
                         GrayPageDecoder fast, GrayPageDecoder reference) {
    long framed = -6;
    std::size_t coded = 0;
    if (size > 1) {
        coded = static_cast<std::size_t>(RtcSearch(input + 1, size - 1) + 1);
        framed = EolCount(input + 1, coded);
    }
    PageRun run = PreparePage(input, size, kGrayRowBytes, framed);
    std::vector<uint8_t> refDst = run.dst;
    // Odd shapes decode all of the data, the others only up to the RTC.
    const std::size_t length = size > 0 && (input[0] & 0x80) != 0 ? run.length : coded;
    (decoder.*fast)(run.data, length, run.lines, run.dst.data(), run.dst.size());
    (decoder.*reference)(run.data, length, run.lines, refDst.data(), refDst.size());
    if (run.dst != refDst) std::abort();
}

}  // namespace orvo::fuzz
