#include "orvo/image/code_tables.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>

#include "orvo/platform/files.h"

namespace orvo {

namespace {

CodeTables g_tables;
FastTables g_fast;

// Reads the first `size` bytes of `path` into `table`; the table is changed
// only when all of them could be read. Only a regular file is read: a FIFO
// in its place is refused at once instead of blocking driver start.
bool ReadTable(const std::string& path, uint8_t* table, std::size_t size) {
    const int fd = platform::OpenRegularFile(path, O_RDONLY);
    if (fd < 0) return false;
    uint8_t buffer[kMhCodeTableSize];
    std::size_t got = 0;
    while (got < size) {
        const ssize_t n = read(fd, buffer + got, size - got);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) break;
        got += static_cast<std::size_t>(n);
    }
    close(fd);
    if (got < size) return false;
    for (std::size_t i = 0; i < size; ++i) table[i] = buffer[i];
    return true;
}

int ReadAll(const std::string& systemDir) {
    std::string dir = systemDir;
    if (!dir.empty() && dir.back() != '/' && dir.back() != '\\') dir += '/';
    if (!ReadTable(dir + "huffmanb.dat", g_tables.black, kMhCodeTableSize)) return -1;
    if (!ReadTable(dir + "huffmanw.dat", g_tables.white, kMhCodeTableSize)) return -1;
    if (!ReadTable(dir + "huffmang.dat", g_tables.gray, kGrayCodeTableSize)) return -1;
    return 0;
}

}  // namespace

void DeriveMhFastTable(const uint8_t* table, uint16_t* fast) {
    for (std::size_t index = 0; index < kMhFastSize; ++index) {
        uint32_t state = 1;
        uint16_t result = 0;
        for (int n = 1; n <= kMhFastBits; ++n) {
            const uint32_t bit = (index >> (kMhFastBits - n)) & 1u;
            state = (state << 1) | bit;  // below 2^13: no folding yet
            const uint8_t entry = table[state];
            if ((entry & 0xC0) != 0) {
                result = static_cast<uint16_t>((n << 8) | entry);
                break;
            }
        }
        fast[index] = result;
    }
}

void DeriveMhFastTables(const CodeTables& tables, MhFastTables& fast) {
    DeriveMhFastTable(tables.white, fast.white);
    DeriveMhFastTable(tables.black, fast.black);
}

void DeriveGray8FastTables(const uint8_t* grayTable, GrayFastTables& fast) {
    // One code from code state 1, as the decoder walks it: at most 8 bits.
    for (uint32_t index = 0; index < 256; ++index) {
        uint32_t state = 1;
        uint16_t result = 8 << 8;  // no code within 8 bits: invalid
        for (int n = 1; n <= 8; ++n) {
            state = (state << 1) | ((index >> (8 - n)) & 1u);
            const uint8_t entry = grayTable[state];
            if ((entry & 0xC0) != 0) {
                result = static_cast<uint16_t>((n << 8) | entry);
                break;
            }
        }
        fast.code[index] = result;
    }
    for (uint32_t index = 0; index < kGrayFastSize; ++index) {
        auto put = [&](unsigned kind, unsigned bits, unsigned low) {
            fast.value[index] = (kind << 12) | (bits << 8) | (low & 0xFF);
        };
        // Eleven 0 bits ahead: an EOL (or fill bits before one) ends the line.
        if ((index >> (kGrayFastBits - 11)) == 0) {
            put(kGrayFastEolAhead, 0, 0);
            continue;
        }
        const unsigned sign = index >> (kGrayFastBits - 1);
        // The code starts right after the sign bit; it has at most 8 bits.
        const uint16_t code = fast.code[(index >> (kGrayFastBits - 9)) & 0xFF];
        const unsigned length = code >> 8;
        const uint8_t entry = static_cast<uint8_t>(code);
        const unsigned taken = 1 + length;
        if (taken > kGrayFastBits) {
            put(kGrayFastSlow, 0, 0);
        } else if ((entry & 0xC0) == 0x80) {
            const unsigned magnitude = entry & 0x3Fu;
            if (sign == 0 && magnitude == 0) {
                put(kGrayFastEnd, taken, 0);
            } else {
                put(kGrayFastValue, taken, sign ? magnitude : 0x100 - magnitude);
            }
        } else if ((entry & 0xC0) == 0xC0) {
            put(kGrayFastMakeUp, taken, entry & 0x3Fu);
        } else {
            put(kGrayFastEnd, taken, 0);  // EOL-class or invalid code
        }
    }
    // The zero difference: sign 1 and the shortest code of magnitude 0.
    fast.zeroRun = 0;
    fast.zeroLength = 0;
    for (uint32_t n = 1; n <= 7 && fast.zeroLength == 0; ++n) {
        for (uint32_t code = 0; code < (1u << n); ++code) {
            if (fast.code[(code << (8 - n)) & 0xFF] == ((n << 8) | 0x80)) {
                fast.zeroLength = n + 1;
                const uint64_t symbol = (uint64_t{1} << n) | code;
                for (unsigned at = 0; at + fast.zeroLength <= 64; at += fast.zeroLength) {
                    fast.zeroRun |= symbol << (64 - fast.zeroLength - at);
                }
                break;
            }
        }
    }
    for (unsigned bits = 0; bits <= 64; ++bits) {
        fast.zeroRuns[bits] =
            fast.zeroLength == 0 ? 0 : static_cast<uint8_t>(bits / fast.zeroLength);
    }
    PairGrayFastValues(fast);
}

void DeriveFastTables(const CodeTables& tables, FastTables& fast) {
    DeriveMhFastTables(tables, fast.mh);
    DeriveGray8FastTables(tables.gray, fast.gray8);
}

int LoadCodeTables(const std::string& systemDir) {
    const int result = ReadAll(systemDir);
    DeriveFastTables(g_tables, g_fast);
    return result;
}

const CodeTables& LoadedCodeTables() {
    return g_tables;
}

const FastTables& LoadedFastTables() {
    return g_fast;
}

}  // namespace orvo
