#include "retrieval_page_file.h"

#include <algorithm>
#include <cstdio>

#include "orvo/image/framing.h"

namespace orvo::retrieval {

LoadedPage LoadPageFile(const std::string& path, PageBuffer imageBuf) {
    LoadedPage page;
    std::FILE* f = std::fopen(path.c_str(), "rb");
    if (f == nullptr) return page;
    page.opened = true;
    if (std::fseek(f, 0, SEEK_END) == 0) page.fileSize = std::ftell(f);
    if (page.fileSize < 0) page.fileSize = 0;
    std::rewind(f);
    const std::size_t capacity = imageBuf.data == nullptr ? 0 : imageBuf.size;
    page.oversize = static_cast<unsigned long long>(page.fileSize) > capacity;
    const std::size_t wanted =
        std::min<unsigned long long>(static_cast<unsigned long long>(page.fileSize), capacity);
    if (wanted > 0) page.bytes = std::fread(imageBuf.data, 1, wanted, f);
    std::fclose(f);
    return page;
}

uint32_t ActualImageSize(const uint8_t* page, std::size_t bytes) {
    if (page == nullptr || bytes < kPageHeaderSize) return 0;
    return (static_cast<uint32_t>(page[4]) << 24) | (static_cast<uint32_t>(page[5]) << 16) |
           (static_cast<uint32_t>(page[6]) << 8) | static_cast<uint32_t>(page[7]);
}

long FitRows(long rows, std::size_t pitch, std::size_t extent, std::size_t avail) {
    if (rows <= 0 || extent > avail) return 0;
    if (pitch == 0) return rows;
    const std::size_t fit = (avail - extent) / pitch + 1;
    return static_cast<std::size_t>(rows) < fit ? rows : static_cast<long>(fit);
}

void CopySecondPixelToFirst(uint8_t* rows, std::size_t pitch, long count) {
    for (long r = 0; r < count; ++r) {
        uint8_t& first = rows[static_cast<std::size_t>(r) * pitch];
        first = static_cast<uint8_t>((first & 0x7F) | ((first & 0x40) << 1));
    }
}

CodedGray MeasureCodedGray(const uint8_t* data, std::size_t n) {
    CodedGray coded;
    // The byte after the RTC's sixth anchor is never an anchor itself (its
    // successor counts as 0 there), so the anchors passed are all of them.
    const RtcScan scan = RtcSearchCounting(data, n);
    coded.length = scan.rtc < 0 ? 0 : std::min(static_cast<std::size_t>(scan.rtc) + 1, n);
    coded.lines = scan.rtc < 0 ? EolCount(data, 0) : scan.anchors - 6;
    return coded;
}

}  // namespace orvo::retrieval
