// Writes the seed corpus of the fuzz programs from the virtual scanner's
// pages: coded bilevel and gray page data, and whole page files with the
// batch settings they were scanned with.
//   orvo_fuzz_seeds <corpus dir>
#include <algorithm>
#include <cstdio>
#include <string>
#include <vector>

#include "../retrieval_input.h"
#include "orvo/core/scan_kinds.h"
#include "orvo/sim/image.h"
#include "orvo/sim/side_data.h"
#include "orvo/sim/window.h"

namespace {

using orvo::sim::WindowSettings;

bool Write(const std::string& path, const std::vector<uint8_t>& bytes) {
    std::FILE* f = std::fopen(path.c_str(), "wb");
    if (!f) {
        std::fprintf(stderr, "cannot write %s\n", path.c_str());
        return false;
    }
    const bool ok = std::fwrite(bytes.data(), 1, bytes.size(), f) == bytes.size();
    return std::fclose(f) == 0 && ok;
}

struct Case {
    int mode, compress, resolution, width, lines, seed;
    bool alignEol;
};

}  // namespace

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: %s <corpus dir>\n", argv[0]);
        return 2;
    }
    const std::string root = std::string(argv[1]) + "/";
    const Case cases[] = {
        {0, 0, 0, 256, 24, 1, false},   {0, 0, 0, 1728, 40, 2, false},
        {1, 0, 2, 1004, 30, 3, true},   {2, 0, 3, 512, 20, 4, false},
        {3, 0, 0, 256, 16, 5, false},   {3, 0, 2, 1001, 12, 6, true},
        {4, 0, 0, 256, 16, 7, false},   {4, 0, 3, 320, 12, 8, false},
        {4, 0, 1, 256, 24, 9, false},   {0, 1, 0, 256, 40, 10, false},
        {3, 1, 2, 1001, 20, 11, false}, {4, 1, 1, 256, 30, 12, false},
        {4, 1, 3, 256, 40, 13, false},
    };
    bool ok = true;
    for (const Case& c : cases) {
        WindowSettings w = WindowSettings::PowerOn();
        // At Resolution 1 the scanner is asked for 8-bit gray whatever the mode.
        w.scanMode[0] = orvo::ResolutionOf(c.resolution) == orvo::Resolution::kDpi300Widened
                            ? static_cast<int>(orvo::ScanMode::kGray256)
                            : c.mode;
        w.compressMode = c.compress;
        w.resolution = c.resolution;
        w.scanWidth = c.width;
        w.scanLines[0] = c.lines;
        w.bwSlice[0] = 128;
        w.micrDetect = 1;
        const orvo::sim::Image page = orvo::sim::SyntheticCheque(c.seed, c.seed % 2 == 1);
        orvo::sim::SideOptions options;
        options.micr = "T021000021T " + std::to_string(c.seed * 7919) + "U 0101";
        options.alignEol = c.alignEol;
        const orvo::sim::SideData side = orvo::sim::BuildSide(page, c.seed % 2 == 1, w, options);
        // The page file: through the RTC for coded bilevel data, whole blocks
        // otherwise (as the scan worker writes it).
        const bool mh = side.coded && orvo::sim::SideBitsPerPixel(w) == 1;
        std::vector<uint8_t> file(
            side.bytes.begin(),
            side.bytes.begin() + static_cast<long>(mh ? side.rtcEnd : side.bytes.size()));
        const std::string name = "m" + std::to_string(c.mode) + "c" + std::to_string(c.compress) +
                                 "r" + std::to_string(c.resolution) + "w" +
                                 std::to_string(c.width) + "l" + std::to_string(c.lines);
        if (side.coded) {
            const std::vector<uint8_t> data(file.begin() + orvo::sim::kSideHeaderSize,
                                            file.begin() + static_cast<long>(side.rtcEnd));
            ok &= Write(root + "framing_fuzz/" + name, data);
            // Decoder inputs: a shape byte (lines as counted, 61 rows), then
            // the data; the 8-bit gray target takes a table selector first
            // (0: the usual tables).
            const int bits = orvo::sim::SideBitsPerPixel(w);
            const std::size_t prefix = bits == 8 ? 2 : 1;
            std::vector<uint8_t> shaped(prefix + data.size(), 0x00);
            shaped[prefix - 1] = 0xF0;
            std::copy(data.begin(), data.end(), shaped.begin() + static_cast<long>(prefix));
            const char* target = bits == 1   ? "decode_mh_page_fuzz/"
                                 : bits == 4 ? "gray4_fast_vs_reference_fuzz/"
                                             : "gray8_fast_vs_reference_fuzz/";
            ok &= Write(root + target + name, shaped);
        }
        // Rows for the TIFF coders: kind (0 Group 4, 1 LZW 8-bit, 2 LZW
        // 4-bit), width, then up to 24 rows as the scanner's values give them.
        const orvo::ScanMode mode = orvo::ScanModeOf(c.mode);
        if (orvo::CompressionOf(c.compress) == orvo::Compression::kCoded &&
            (mode == orvo::ScanMode::kBilevel || orvo::IsGray(mode))) {
            const orvo::sim::Image values = orvo::sim::SideValues(page, w);
            const int kind = mode == orvo::ScanMode::kBilevel   ? 0
                             : mode == orvo::ScanMode::kGray256 ? 1
                                                                : 2;
            const int bits = kind == 0 ? 1 : kind == 1 ? 8 : 4;
            const std::size_t line = (static_cast<std::size_t>(values.width) * bits + 7) / 8;
            std::vector<uint8_t> rows{static_cast<uint8_t>(kind),
                                      static_cast<uint8_t>((values.width - 1) >> 8),
                                      static_cast<uint8_t>((values.width - 1) & 0xFF)};
            for (int y = 0; y < values.height && y < 24; ++y) {
                std::vector<uint8_t> row(line, 0);
                for (int x = 0; x < values.width; ++x) {
                    const uint8_t v = values.at(x, y);
                    if (bits == 1) row[x / 8] |= static_cast<uint8_t>((v & 1) << (7 - x % 8));
                    if (bits == 4)
                        row[x / 2] |= static_cast<uint8_t>((v & 0x0F) << (x % 2 ? 0 : 4));
                    if (bits == 8) row[x] = v;
                }
                rows.insert(rows.end(), row.begin(), row.end());
            }
            ok &= Write(root + "tiff_coders_fuzz/" + name, rows);
        }
        for (int format = 0; format <= 3; ++format) {
            // Uncompressed pages are whole 32 KB blocks: two formats suffice.
            if (!side.coded && format % 2 == 1) continue;
            orvo::fuzz::RetrievalSettings s;
            s.tempScanMode = c.mode;
            s.compressMode = c.compress;
            s.format = format;
            s.grayTifCompress = (c.seed + format) % 3;
            s.micrDetect = 1;
            s.resolution = c.resolution;
            s.scanWidth = c.width;
            s.scanLines = c.lines;
            s.imageSlack = 1;
            s.decodeRows = 64;
            std::vector<uint8_t> input(orvo::fuzz::kSettingsBytes);
            orvo::fuzz::EncodeSettings(s, input.data());
            input.insert(input.end(), file.begin(), file.end());
            ok &= Write(root + "retrieval_fuzz/" + name + "f" + std::to_string(format), input);
        }
    }
    return ok ? 0 : 1;
}
