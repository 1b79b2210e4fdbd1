#include "strip_coders.h"

#include <algorithm>
#include <bit>
#include <cstring>
#include <memory>

#include "orvo/codes/codes.h"

namespace orvo {

namespace {

// Appends codes most significant bit first.
class BitSink {
  public:
    explicit BitSink(std::vector<uint8_t>& out) : out_(out) {}
    // count is at most 32.
    void Put(uint32_t bits, unsigned count) {
        acc_ = (acc_ << count) | bits;
        pending_ += count;
        while (pending_ >= 8) {
            pending_ -= 8;
            out_.push_back(static_cast<uint8_t>(acc_ >> pending_));
        }
    }
    void Put(codes::CodeWord c) { Put(c.bits, c.length); }
    // Pads the last byte with 0 bits.
    void Flush() {
        if (pending_ > 0) out_.push_back(static_cast<uint8_t>(acc_ << (8 - pending_)));
        pending_ = 0;
    }

  private:
    std::vector<uint8_t>& out_;
    uint64_t acc_ = 0;
    unsigned pending_ = 0;
};

// ---- Group 4 ----

// The next 8 bytes of a row from byte `at` on, most significant first; bytes
// past rowBytes read as 0.
uint64_t RowWord(const uint8_t* row, std::size_t rowBytes, std::size_t at) {
    uint64_t word = 0;
    if (at + 8 <= rowBytes) {
        std::memcpy(&word, row + at, sizeof word);
        return __builtin_bswap64(word);
    }
    for (std::size_t i = 0; i < 8; ++i) {
        word = (word << 8) | (at + i < rowBytes ? row[at + i] : 0u);
    }
    return word;
}

// The pixels where the colour of a row changes (the row starts after a white
// pixel), in order, then the width twice as end marks. Returns the number of
// changes.
std::size_t Changes(const uint8_t* row, std::size_t rowBytes, int width, int32_t* out) {
    std::size_t count = 0;
    uint64_t before = 0;  // the pixel before the word, in the top bit
    for (int x = 0; x < width; x += 64) {
        const uint64_t word = RowWord(row, rowBytes, static_cast<std::size_t>(x) / 8);
        uint64_t changes = word ^ ((word >> 1) | before);
        before = word << 63;
        if (width - x < 64) changes &= ~(~uint64_t{0} >> (width - x));  // past the width
        while (changes != 0) {
            const int bit = __builtin_clzll(changes);
            out[count++] = x + bit;
            changes &= ~(uint64_t{1} << (63 - bit));
        }
    }
    out[count] = out[count + 1] = width;
    return count;
}

// One run of a colour: make-up codes of 2560 while more than 2560 + 63 are
// left, then a make-up code for the rest's multiple of 64, then the
// terminating code.
void PutRun(BitSink& sink, bool black, int run) {
    while (run >= 2560 + 64) {
        sink.Put(codes::MhMakeUp(black, 2560));
        run -= 2560;
    }
    if (run >= 64) {
        sink.Put(codes::MhMakeUp(black, run / 64 * 64));
        run %= 64;
    }
    sink.Put(black ? codes::kBlackTerminating[run] : codes::kWhiteTerminating[run]);
}

constexpr codes::CodeWord kPass{0x1, 4};        // 0001
constexpr codes::CodeWord kHorizontal{0x1, 3};  // 001
// Vertical modes by a1 - b1 = -3 .. 3.
constexpr codes::CodeWord kVertical[7] = {
    {0x02, 7}, {0x02, 6}, {0x2, 3}, {0x1, 1}, {0x3, 3}, {0x03, 6}, {0x03, 7},
};

// One row by its changes `a` against the changes `b` of the row above (both
// ended by two end marks).
void CodeG4Row(const int32_t* a, const int32_t* b, int width, BitSink& sink) {
    int a0 = -1;         // before the first pixel
    bool black = false;  // the colour at a0
    std::size_t ia = 0;  // a[ia] is the first change after a0
    std::size_t ib = 0;  // b[ib] is the first change after a0 on the row above
    while (a0 < width) {
        while (a[ia] <= a0) ++ia;
        const int a1 = a[ia];
        // b1: the first change after a0 on the row above to the colour
        // opposite a0's (change j turns black when j is even), or the end of
        // the row; b2 the change after it. The colours alternate, so b1 is
        // the first change after a0 or the one after that.
        while (b[ib] <= a0) ++ib;
        std::size_t j = ib;
        if (b[j] < width && (j % 2 == 0) == black) ++j;
        const int b1 = b[j];
        const int b2 = b[j + 1];
        if (b2 < a1) {
            sink.Put(kPass);
            a0 = b2;
            continue;
        }
        const int d = a1 - b1;
        if (d >= -3 && d <= 3) {
            sink.Put(kVertical[d + 3]);
            a0 = a1;
            black = !black;
            continue;
        }
        const int a2 = a[ia + 1];
        sink.Put(kHorizontal);
        PutRun(sink, black, a1 - std::max(a0, 0));
        PutRun(sink, !black, a2 - a1);
        a0 = a2;
    }
}

// ---- LZW ----

constexpr unsigned kCodeClear = 256;
constexpr unsigned kCodeEoi = 257;
constexpr unsigned kCodeFirst = 258;
constexpr unsigned kCodeMax = 4095;  // largest code of 12 bits
constexpr unsigned kBitsMin = 9;
constexpr uint16_t kNone = 0;  // no child / no sibling (code 0 is never a child)

// How many bytes from p[0] on, at most n, equal c.
std::size_t RunLength(const uint8_t* p, std::size_t n, uint8_t c) {
    const uint64_t same = 0x0101010101010101ull * c;
    std::size_t r = 0;
    for (; r + 8 <= n; r += 8) {
        uint64_t word;
        std::memcpy(&word, p + r, sizeof word);
        const uint64_t differ = word ^ same;
        if (differ != 0) {
            if constexpr (std::endian::native == std::endian::little) {
                return r + static_cast<std::size_t>(std::countr_zero(differ)) / 8;
            }
            break;
        }
    }
    while (r < n && p[r] == c) ++r;
    return r;
}

class LzwCoder {
  public:
    explicit LzwCoder(std::vector<uint8_t>& out) : sink_(out), t_(TheTables()) { Reset(); }

    void Add(const uint8_t* p, std::size_t n) {
        std::size_t i = 0;
        if (n > 0 && ent_ < 0) {
            sink_.Put(kCodeClear, nbits_);
            StartString(p[0]);
            i = 1;
        }
        while (i < n) {
            const uint8_t c = p[i];
            if (run_ && c == runByte_) {
                // A run of the string's own byte: the strings of 1 to
                // longest[c] bytes c are all in the table, one after the
                // other, so the run is taken a whole stretch at a time.
                const std::size_t r = RunLength(p + i, n - i, c);
                i += r;
                TakeRun(c, r);
                continue;
            }
            const unsigned next = Find(static_cast<unsigned>(ent_), c);
            if (next != kNone) {
                ent_ = static_cast<int>(next);
                run_ = false;
            } else {
                Emit(static_cast<unsigned>(ent_), c);
                StartString(c);
            }
            ++i;
        }
    }

    void Finish() {
        if (ent_ >= 0) {
            sink_.Put(static_cast<unsigned>(ent_), nbits_);
            // The reader adds a table entry on this code too: its width for
            // EOI follows from that entry.
            ++freeEnt_;
            if (freeEnt_ == kCodeMax - 1) {
                sink_.Put(kCodeClear, nbits_);
                nbits_ = kBitsMin;
            } else if (freeEnt_ > maxCode_) {
                ++nbits_;
            }
        }
        sink_.Put(kCodeEoi, nbits_);
        sink_.Flush();
    }

  private:
    struct Tables {
        // The string table as a tree: the strings one byte longer than
        // string x are its children, a list through nextSibling.
        uint16_t firstChild[kCodeMax + 1];
        uint16_t nextSibling[kCodeMax + 1];
        uint8_t last[kCodeMax + 1];  // the byte that ends the string
        // runCode[b][k]: the code of the string of k bytes b, k = 1 to
        // longest[b].
        uint16_t runCode[256][kCodeMax + 1];
        uint16_t longest[256];
    };

    // One set of tables per thread, made on its first LZW strip and kept.
    static Tables& TheTables() {
        thread_local std::unique_ptr<Tables> tables;
        if (!tables) tables.reset(new Tables);  // every part is set before it is read
        return *tables;
    }

    void Reset() {
        Tables& t = t_;
        for (unsigned b = 0; b < 256; ++b) {
            t.firstChild[b] = kNone;
            t.runCode[b][1] = static_cast<uint16_t>(b);
            t.longest[b] = 1;
        }
        freeEnt_ = kCodeFirst;
        nbits_ = kBitsMin;
        maxCode_ = (1u << kBitsMin) - 1;
    }

    unsigned Find(unsigned prefix, uint8_t c) const {
        const Tables& t = t_;
        unsigned x = t.firstChild[prefix];
        while (x != kNone && t.last[x] != c) x = t.nextSibling[x];
        return x;
    }

    void StartString(uint8_t c) {
        ent_ = c;
        run_ = true;
        runByte_ = c;
        runLength_ = 1;
    }

    // Writes the current string's code and gives the string followed by c
    // the next free code (clearing the table once it is full).
    void Emit(unsigned code, uint8_t c) {
        Tables& t = t_;
        sink_.Put(code, nbits_);
        const unsigned entry = freeEnt_++;
        t.firstChild[entry] = kNone;
        t.last[entry] = c;
        t.nextSibling[entry] = t.firstChild[code];
        t.firstChild[code] = static_cast<uint16_t>(entry);
        if (run_ && c == runByte_) {
            t.runCode[c][runLength_ + 1] = static_cast<uint16_t>(entry);
            t.longest[c] = static_cast<uint16_t>(runLength_ + 1);
        }
        if (freeEnt_ == kCodeMax - 1) {
            sink_.Put(kCodeClear, nbits_);
            Reset();
        } else if (freeEnt_ > maxCode_) {
            ++nbits_;
            maxCode_ = (1u << nbits_) - 1;
        }
    }

    // The current string is runLength_ bytes c; r more bytes c follow.
    void TakeRun(uint8_t c, std::size_t r) {
        const Tables& t = t_;
        while (r > 0) {
            const std::size_t longest = t.longest[c];
            if (runLength_ + r <= longest) {
                runLength_ += r;
                ent_ = t.runCode[c][runLength_];
                return;
            }
            // Up to the longest string of c known, then one more byte c
            // that is not: the string is written and a longer one made.
            r -= longest - runLength_;
            runLength_ = longest;
            Emit(t.runCode[c][longest], c);
            StartString(c);
            --r;
        }
    }

    BitSink sink_;
    Tables& t_;
    unsigned freeEnt_ = kCodeFirst;
    unsigned nbits_ = kBitsMin;
    unsigned maxCode_ = 511;
    int ent_ = -1;  // the code of the string being matched, -1 before the first byte
    bool run_ = false;
    uint8_t runByte_ = 0;
    std::size_t runLength_ = 0;
};

}  // namespace

void CodeGroup4(const StripRows& rows, int width, std::vector<uint8_t>& out) {
    BitSink sink(out);
    if (width > 0 && rows.rows > 0) {
        const std::size_t marks = static_cast<std::size_t>(width) + 2;
        std::vector<int32_t> above(marks), current(marks);
        // The row above the first is white.
        above[0] = above[1] = width;
        for (int r = 0; r < rows.rows; ++r) {
            Changes(rows.data + static_cast<std::size_t>(r) * rows.step, rows.rowBytes, width,
                    current.data());
            CodeG4Row(current.data(), above.data(), width, sink);
            std::swap(above, current);
        }
    }
    // EOFB: two EOLs.
    sink.Put(codes::kEol);
    sink.Put(codes::kEol);
    sink.Flush();
}

void CodeLzw(const StripRows& rows, std::vector<uint8_t>& out) {
    LzwCoder coder(out);
    for (int r = 0; r < rows.rows; ++r) {
        coder.Add(rows.data + static_cast<std::size_t>(r) * rows.step, rows.rowBytes);
    }
    coder.Finish();
}

}  // namespace orvo
