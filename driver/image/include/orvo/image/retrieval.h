// Page retrieval: turns one temporary page file of a batch into an image
// file (with the side's MICR text) or into the in-memory page. The callers
// own the batch; everything a retrieval needs is handed in a PageContext.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

#include "orvo/core/settings.h"

namespace orvo {

inline constexpr std::size_t kPageHeaderSize = 64;
inline constexpr std::size_t kMicrFieldOffset = 17;
inline constexpr std::size_t kMicrMaxChars = 42;
inline constexpr std::size_t kMicrAreaSize = 50;
inline constexpr std::size_t kGrayBufSize = 15'728'640;
inline constexpr long kMaxMhLines = 4000;

// A buffer the retrieval may use: never read or written beyond size bytes.
struct PageBuffer {
    uint8_t* data = nullptr;
    std::size_t size = 0;
};

struct PageContext {
    std::string pageFile;  // the temporary page file to take
    PageBuffer imageBuf;   // receives the page file
    PageBuffer decodeBuf;  // decoded rows (row 0 left to the caller)
    PageBuffer workImage;  // packed output rows, decoder work area
    PageBuffer rowBuffer;  // one TIFF row at a time
    // The batch settings: ScanWidth, Resolution, CompressMode, BWSlice[0],
    // ImageFileFormat, GrayTifCompress, MicrDetect, ScanLines[0].
    Settings settings;
    int tempScanMode = 0;  // the batch's scan mode as the client asked for it
    int pageNumber = 0;    // number of the trace lines
};

// Takes the page file into an image file at outputPath, as the chosen
// ImageFileFormat says, and the MICR text from its header when MicrDetect is
// on. Writes the retrieval's trace lines from "OrvoScan_IsPageLoaded" up to
// the conversion. Returns the caller's height value: the image rows (H - 1),
// -1 when no rows were made (raw output included), 0 when the file could not
// be opened or holds no image data. *written (when given) tells whether an
// image file was written at outputPath.
int RetrievePageToFile(const PageContext& context, const std::string& outputPath,
                       bool* written = nullptr);

// The MICR text area (characters, CR, LF, zeros): null until a page has been
// taken with MicrDetect on; the size counts the characters before the CR.
char* MicrDataBufPtr();
int MicrDataSize();

// The in-memory page and its description.
struct MemoryPage {
    int size = 0;      // height x pitchSrc
    int width = 0;     // pixels
    int height = 0;    // rows
    int pitchSrc = 0;  // bytes from one row to the next in the page block
    int pitchDst = 0;  // row length of a client's own bitmap
    uint8_t bitsPerPixel = 0;
};

// Takes the page file into a new page block (the previous block is freed).
// Returns the image height; 0 when the file was missing, held no page data
// or no image rows, in which case the stored page is left as it was.
int RetrievePageToMemory(const PageContext& context);

// Releases the page block; always 1. The description keeps its values.
int ClearOneImageBuf();
uint8_t* MemoryPageData();
const MemoryPage& MemoryPageInfo();

// Widening of Resolution-1 rows by 1.5 (exposed for tests): three values from
// s[0], s[1] and s[2] for the source pair s[0], s[1]. At the end of a row the
// values past the row are the row's last value.
void WidenPair(const uint8_t* s, uint8_t out[3]);

// The ordered-dither threshold for image row r and column c.
uint8_t DitherThreshold(std::size_t row, std::size_t column);

}  // namespace orvo
