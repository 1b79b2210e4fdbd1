#include "orvo/code_tables.h"

#include <cstdio>

namespace orvo {

namespace {

CodeTables g_tables;
MhFastTables g_fast;

// Reads the first `size` bytes of `path` into `table`; the table is changed
// only when all of them could be read.
bool ReadTable(const std::string& path, uint8_t* table, std::size_t size) {
    std::FILE* f = std::fopen(path.c_str(), "rb");
    if (f == nullptr) return false;
    if (std::fseek(f, 0, SEEK_SET) != 0) {
        std::fclose(f);
        return false;
    }
    uint8_t buffer[kMhCodeTableSize];
    const std::size_t got = std::fread(buffer, 1, size, f);
    std::fclose(f);
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

int LoadCodeTables(const std::string& systemDir) {
    const int result = ReadAll(systemDir);
    DeriveMhFastTables(g_tables, g_fast);
    return result;
}

const CodeTables& LoadedCodeTables() {
    return g_tables;
}

const MhFastTables& LoadedMhFastTables() {
    return g_fast;
}

}  // namespace orvo
