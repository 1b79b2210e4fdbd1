// What page retrieval to files and to memory share: reading a page file into
// ImageBuf and keeping row counts inside the buffers the rows come from.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

#include "orvo/image/retrieval.h"

namespace orvo::retrieval {

struct LoadedPage {
    bool opened = false;     // the file could be opened
    long long fileSize = 0;  // as the file system reports it
    bool oversize = false;   // larger than ImageBuf: only its first bytes were read
    std::size_t bytes = 0;   // bytes now in ImageBuf, header included
};

// Reads the file into imageBuf, at most imageBuf.size bytes.
LoadedPage LoadPageFile(const std::string& path, PageBuffer imageBuf);

// ActualImageSize of a complete header (most significant byte first), else 0.
uint32_t ActualImageSize(const uint8_t* page, std::size_t bytes);

// The largest row count up to `rows` (never below 0) for which every row
// 0..count-1, starting `pitch` bytes after the one before and reaching
// `extent` bytes from its start, lies inside `avail` bytes.
long FitRows(long rows, std::size_t pitch, std::size_t extent, std::size_t avail);

// In rows 0..count-1 the first pixel takes the value of the second.
void CopySecondPixelToFirst(uint8_t* rows, std::size_t pitch, long count);

// Coded gray data end with the page's RTC: the length through it (0 when
// there is none) and the lines it frames.
struct CodedGray {
    std::size_t length = 0;
    long lines = 0;
};
CodedGray MeasureCodedGray(const uint8_t* data, std::size_t n);

}  // namespace orvo::retrieval
