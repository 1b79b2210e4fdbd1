#include "orvo/code_tables.h"

#include <cstdio>

namespace orvo {

namespace {

CodeTables g_tables;

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

}  // namespace

int LoadCodeTables(const std::string& systemDir) {
    std::string dir = systemDir;
    if (!dir.empty() && dir.back() != '/' && dir.back() != '\\') dir += '/';
    if (!ReadTable(dir + "huffmanb.dat", g_tables.black, kMhCodeTableSize)) return -1;
    if (!ReadTable(dir + "huffmanw.dat", g_tables.white, kMhCodeTableSize)) return -1;
    if (!ReadTable(dir + "huffmang.dat", g_tables.gray, kGrayCodeTableSize)) return -1;
    return 0;
}

const CodeTables& LoadedCodeTables() {
    return g_tables;
}

}  // namespace orvo
