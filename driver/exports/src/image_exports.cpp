// Page retrieval exports: the next page of the batch as an image file or as
// the in-memory page, and the accessors of the last page and its MICR text.
#include <string>

#include "orvo/batch/batch.h"
#include "orvo/core/driver_state.h"
#include "orvo/core/trace.h"
#include "orvo/image/retrieval.h"
#include "orvoscan.h"

namespace {

// Everything a retrieval of the page numbered nPageFetched needs. The
// settings are the batch's own, except the output format, which
// OrvoScan_ImageFormat may have changed since the batch started.
orvo::PageContext CurrentPage() {
    orvo::BatchState& batch = orvo::Batch();
    orvo::DriverState& state = orvo::State();
    orvo::PageContext c;
    c.pageFile = orvo::PageFileName(batch.pageDir, batch.nPageFetched);
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
    if (height != nullptr) *height = 0;
    // Admitted unless the batch is being ended from another thread.
    orvo::PageCall call;
    if (!call.admitted()) return ORVOSCAN_NO_PAGE;
    TraceGetOne("OrvoScan_GetOneImage START");
    const int loaded = orvo::WaitForPage();
    if (loaded != 0) return loaded;
    // The page's steps go to getone.txt in one write when the call returns.
    orvo::TraceBatch lines(orvo::TraceFile::GetOne);
    bool written = false;
    const int rows = orvo::RetrievePageToFile(CurrentPage(), path != nullptr ? path : "", &written);
    if (!written) TraceGetOne("page file not written");
    if (height != nullptr && written) *height = rows;
    TraceGetOne("OrvoScan_GetOneImage END");
    TraceGetOne("------------------------------");
    // Every page taken counts, whether or not an image could be made of it,
    // so that the caller's count stays aligned with fronts and rears; a page
    // whose file was not written is reported, never passed off as done.
    ++orvo::Batch().nPageFetched;
    return written ? 0 : ORVOSCAN_ERR_PAGE_FILE;
}

ORVOSCAN_API int OrvoScan_GetOneImageBufPtr(const char* path, int* height) {
    (void)path;  // accepted and not used
    if (height != nullptr) *height = 0;
    orvo::PageCall call;
    if (!call.admitted()) return ORVOSCAN_NO_PAGE;
    const int loaded = orvo::WaitForPage();
    if (loaded != 0) return loaded;
    orvo::TraceBatch lines(orvo::TraceFile::GetOne);
    const int rows = orvo::RetrievePageToMemory(CurrentPage());
    if (height != nullptr) *height = rows;
    ++orvo::Batch().nPageFetched;
    // No image could be made of the page: it is reported, not passed off as done.
    return rows > 0 ? 0 : ORVOSCAN_ERR_PAGE_FILE;
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
