// orvo-codegen DIR: writes the code table files the driver loads at start-up
// (huffmanw.dat, huffmanb.dat, huffmang.dat) into DIR.
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "orvo/codes/codes.h"

namespace {

void Usage(std::FILE* out) {
    std::fprintf(out,
                 "usage: orvo-codegen DIR\n"
                 "Writes the code table files huffmanw.dat, huffmanb.dat (16384 bytes each)\n"
                 "and huffmang.dat (512 bytes) into DIR.\n");
}

bool WriteFile(const std::string& path, const std::vector<uint8_t>& bytes) {
    const std::string part = path + ".part";
    std::FILE* f = std::fopen(part.c_str(), "wb");
    if (f == nullptr) {
        std::fprintf(stderr, "orvo-codegen: cannot create %s: %s\n", part.c_str(),
                     std::strerror(errno));
        return false;
    }
    const bool written = std::fwrite(bytes.data(), 1, bytes.size(), f) == bytes.size();
    const bool closed = std::fclose(f) == 0;
    if (!written || !closed || std::rename(part.c_str(), path.c_str()) != 0) {
        std::fprintf(stderr, "orvo-codegen: cannot write %s: %s\n", path.c_str(),
                     std::strerror(errno));
        std::remove(part.c_str());
        return false;
    }
    return true;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc == 2 && (std::strcmp(argv[1], "--help") == 0 || std::strcmp(argv[1], "-h") == 0)) {
        Usage(stdout);
        return 0;
    }
    if (argc != 2 || argv[1][0] == '\0') {
        Usage(stderr);
        return 2;
    }
    std::string dir = argv[1];
    if (dir.back() != '/') dir += '/';
    using namespace orvo::codes;
    const bool ok = WriteFile(dir + "huffmanw.dat", BuildMhTable(false)) &&
                    WriteFile(dir + "huffmanb.dat", BuildMhTable(true)) &&
                    WriteFile(dir + "huffmang.dat", BuildGrayTable());
    return ok ? 0 : 1;
}
