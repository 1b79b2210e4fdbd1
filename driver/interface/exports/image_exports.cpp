// Page retrieval exports: the next page of the batch as an image file or as
// the in-memory page, and the accessors of the last page and its MICR text.
#include <string>

#include "orvo/batch.h"
#include "orvo/driver_state.h"
#include "orvo/retrieval.h"
#include "orvo/trace.h"
#include "orvoscan.h"

namespace {

// Everything a retrieval of the page numbered nPageFetched needs. The
// settings are the batch's own, except the output format, which
// OrvoScan_ImageFormat may have changed since the batch started.
orvo::PageContext CurrentPage() {
    orvo::BatchState& batch = orvo::Batch();
    orvo::DriverState& state = orvo::State();
    orvo::PageContext c;
    c.pageFile = orvo::PageFileName(state.tempDir, batch.nPageFetched);
    c.imageBuf = {batch.imageBuf.get(), batch.imageBuf ? batch.imageBufSize : 0};
    c.decodeBuf = {batch.decodeBuf.get(), batch.decodeBuf ? batch.decodeBufSize : 0};
    c.workImage = {state.workImage.get(), state.workImage ? orvo::kWorkImageBufferSize : 0};
    c.rowBuffer = {state.rowBuffer.get(), state.rowBuffer ? orvo::kRowBufferSize : 0};
    c.settings = batch.settings;
    c.settings.ImageFileFormat = state.settings.ImageFileFormat;
    c.tempScanMode = batch.TempScanMode;
    c.pageNumber = batch.nPageFetched;
    return c;
}

void TraceGetOne(const char* text) {
    orvo::Trace(orvo::TraceFile::GetOne, orvo::Batch().nPageFetched, text, 0);
}

}  // namespace

extern "C" {

ORVOSCAN_API int OrvoScan_GetOneImage(const char* path, int* height) {
    TraceGetOne("OrvoScan_GetOneImage START");
    if (height != nullptr) *height = 0;
    const int loaded = orvo::IsPageLoaded();
    if (loaded != 0) return loaded;
    const int rows = orvo::RetrievePageToFile(CurrentPage(), path != nullptr ? path : "");
    if (height != nullptr) *height = rows;
    TraceGetOne("OrvoScan_GetOneImage END");
    TraceGetOne("------------------------------");
    // Every page taken counts, whether or not an image could be made of it.
    ++orvo::Batch().nPageFetched;
    return 0;
}

ORVOSCAN_API int OrvoScan_GetOneImageBufPtr(const char* path, int* height) {
    (void)path;  // accepted and not used
    if (height != nullptr) *height = 0;
    const int loaded = orvo::IsPageLoaded();
    if (loaded != 0) return loaded;
    const int rows = orvo::RetrievePageToMemory(CurrentPage());
    if (height != nullptr) *height = rows;
    ++orvo::Batch().nPageFetched;
    return 0;
}

ORVOSCAN_API int OrvoScan_ClearOneImageBuf(void) {
    return orvo::ClearOneImageBuf();
}

ORVOSCAN_API unsigned char* OrvoScan_ImageBufPtr(void) {
    return orvo::MemoryPageData();
}

ORVOSCAN_API int OrvoScan_ImageSize(void) {
    return orvo::MemoryPageInfo().size;
}

ORVOSCAN_API int OrvoScan_ImageWidth(void) {
    return orvo::MemoryPageInfo().width;
}

ORVOSCAN_API int OrvoScan_ImageHeitgt(void) {
    return orvo::MemoryPageInfo().height;
}

ORVOSCAN_API int OrvoScan_ImagePitchSrc(void) {
    return orvo::MemoryPageInfo().pitchSrc;
}

ORVOSCAN_API int OrvoScan_ImagePitchDst(void) {
    return orvo::MemoryPageInfo().pitchDst;
}

ORVOSCAN_API unsigned char OrvoScan_ImageBitPerPixel(void) {
    return orvo::MemoryPageInfo().bitsPerPixel;
}

ORVOSCAN_API char* OrvoScan_MicrDataBufPtr(void) {
    return orvo::MicrDataBufPtr();
}

ORVOSCAN_API int OrvoScan_MicrDataSize(void) {
    return orvo::MicrDataSize();
}

}  // extern "C"
