#include "orvo/sane/status.h"

#include "orvoscan.h"

namespace orvo::sane {

namespace {

SANE_Status StatusForDeviceError(uint32_t word) {
    constexpr uint32_t kJams = ORVOSCAN_DEV_JAM1 | ORVOSCAN_DEV_JAM2 | ORVOSCAN_DEV_JAM3 |
                               ORVOSCAN_DEV_JAM4 | ORVOSCAN_DEV_DOUBLE_FEED;
    if ((word & ORVOSCAN_DEV_COVER_OPEN) != 0) return SANE_STATUS_COVER_OPEN;
    if ((word & kJams) != 0) return SANE_STATUS_JAMMED;
    if ((word & ORVOSCAN_DEV_NO_DOCUMENT) != 0) return SANE_STATUS_NO_DOCS;
    // Elevator, MICR reader, model and unknown faults.
    return SANE_STATUS_IO_ERROR;
}

}  // namespace

SANE_Status StatusFor(int driverResult, uint32_t deviceError) {
    switch (driverResult) {
        case ORVOSCAN_OK:
            return SANE_STATUS_GOOD;
        case ORVOSCAN_NO_PAGE:  // the stack is done
            return SANE_STATUS_NO_DOCS;
        case ORVOSCAN_ERR_DEVICE:
            return StatusForDeviceError(deviceError);
        case ORVOSCAN_ERR_BUSY:
            return SANE_STATUS_DEVICE_BUSY;
        case ORVOSCAN_ERR_NO_SCANNER:  // the device named at open is not there
        case ORVOSCAN_ERR_ENDORSER:    // the settings hold an illegal endorser format
            return SANE_STATUS_INVAL;
        case ORVOSCAN_ERR_MEMORY:
            return SANE_STATUS_NO_MEM;
        default:  // driver, SCSI, code table and page file failures
            return SANE_STATUS_IO_ERROR;
    }
}

}  // namespace orvo::sane
