// Driver start and end, version, output format and device error word.
#include <unistd.h>

#include <cstdio>
#include <new>

#include "orvo/batch/batch.h"
#include "orvo/batch/page_dir.h"
#include "orvo/core/driver_state.h"
#include "orvo/core/scan_kinds.h"
#include "orvo/core/settings.h"
#include "orvo/core/trace.h"
#include "orvo/image/code_tables.h"
#include "orvo/platform/dirs.h"
#include "orvo/transport/transport.h"
#include "orvoscan.h"
#include "wnaspi32.h"

namespace {

constexpr char kVersion[] = "QXS.1.00.00.71QS.03.04.28";

// The system directory: ORVOSCAN_SYSTEM_DIR, else the directory this library
// was loaded from (an installed library: its directory "orvoscan/" beside it).
// It must hold the driver library itself, under its file name or linked by
// its unversioned name (libK4TR.so).
bool SettleSystemDir(orvo::DriverState& state) {
    std::string ownFile;
    const std::string dir = orvo::platform::ConfiguredSystemDir(
        orvo::platform::LibrarySystemDir(reinterpret_cast<const void*>(&OrvoScan_Init), &ownFile));
    if (dir.empty()) return false;
    std::string ownName = ownFile.substr(ownFile.rfind('/') + 1);
    if (ownName.empty()) ownName = "libK4TR.so";
    for (const std::string& name : {ownName, orvo::platform::UnversionedLibraryName(ownName)}) {
        if (access((dir + name).c_str(), R_OK) == 0) {
            state.systemDir = dir;
            return true;
        }
    }
    return false;
}

// A refused private directory is named with its reason in log.txt. Without
// a trace directory of its own (ORVOSCAN_TRACE_DIR) the trace would live in
// the refused directory itself, so the line goes to stderr instead.
void ReportRefusedTempDir(const std::string& why) {
    const std::string line = "temporary directory refused: " + why;
    if (!orvo::TracePath(orvo::TraceFile::Log).empty()) {
        orvo::Trace(orvo::TraceFile::Log, 0, line.c_str(), ORVOSCAN_ERR_DRIVER);
    } else {
        std::fprintf(stderr, "libK4TR: %s\n", line.c_str());
    }
}

}  // namespace

extern "C" {

ORVOSCAN_API int OrvoScan_Init(void) {
    orvo::DriverState& state = orvo::State();
    // The scanner has one request block: a batch still running is ended
    // before discovery talks to the scanner again.
    const orvo::BatchState& batch = orvo::Batch();
    if (batch.hasWorker && !batch.workerDone.load(std::memory_order_acquire)) orvo::EndBatchNow();
    if (state.systemDir.empty() && !SettleSystemDir(state)) return ORVOSCAN_ERR_DRIVER;
    if (state.tempDir.empty()) {
        std::string why;
        state.tempDir = orvo::platform::PrivateTempDir(&why);
        // A temporary directory that is not private to this user is refused.
        if (state.tempDir.empty()) {
            ReportRefusedTempDir(why);
            return ORVOSCAN_ERR_DRIVER;
        }
    }
    // This process's page directory; a batch start makes it when it cannot
    // be made now. Those of ended processes (killed in a batch) go now.
    orvo::ProcessPageDir(state.tempDir);
    orvo::SweepEndedPageDirs(state.tempDir);
    if (state.settingsPath.empty()) state.settingsPath = state.systemDir + "OrvoScan.ini";

    const uint32_t info = GetASPI32SupportInfo();
    const uint32_t status = (info >> 8) & 0xFF;
    const int adapters = static_cast<int>(info & 0xFF);
    if (status != SS_COMP || adapters == 0) return ORVOSCAN_ERR_NO_SCSI;

    if (!orvo::DiscoverScanner(adapters)) return ORVOSCAN_ERR_NO_SCANNER;
    if (orvo::LoadCodeTables(state.systemDir) != 0) return ORVOSCAN_ERR_CODE_TABLE;

    // A second start replaces the buffers of the first.
    state.workImage.reset(new (std::nothrow) uint8_t[orvo::kWorkImageBufferSize]);
    state.rowBuffer.reset(new (std::nothrow) uint8_t[orvo::kRowBufferSize]);
    if (!state.workImage || !state.rowBuffer) {
        state.workImage.reset();
        state.rowBuffer.reset();
        return ORVOSCAN_ERR_MEMORY;
    }
    return ORVOSCAN_OK;
}

ORVOSCAN_API int OrvoScan_End(void) {
    orvo::DriverState& state = orvo::State();
    // A batch still open ends here, and no page of it stays on disk.
    if (orvo::Batch().hasWorker) orvo::EndBatchNow();
    orvo::RemoveProcessPageDir();
    state.workImage.reset();
    state.rowBuffer.reset();
    return 0;
}

ORVOSCAN_API const char* OrvoScan_Version(void) {
    return kVersion;
}

ORVOSCAN_API int OrvoScan_ImageFormat(int format) {
    orvo::DriverState& state = orvo::State();
    if (orvo::IsImageFormat(format)) state.settings.ImageFileFormat = format;
    if (!orvo::StoreInt("Misc", "ImageFileFormat", state.settings.ImageFileFormat,
                        state.settingsPath)) {
        // Pages are still written in the chosen format; the caller learns
        // that the choice is not kept in the settings file.
        state.unstoredImageFormat = state.settings.ImageFileFormat;
        return ORVOSCAN_ERR_SETTINGS;
    }
    state.unstoredImageFormat = -1;
    return 1;
}

ORVOSCAN_API uint32_t OrvoScan_GetDeviceError(void) {
    return orvo::State().deviceError.load(std::memory_order_acquire);
}

}  // extern "C"
