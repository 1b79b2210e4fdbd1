#include "sg_status.h"

#include <cerrno>

#include "wnaspi32.h"

namespace orvo::aspi::detail {

namespace {

// Host status codes of the Linux SCSI midlayer.
constexpr uint16_t kDidOk = 0x00;
constexpr uint16_t kDidNoConnect = 0x01;
constexpr uint16_t kDidBusBusy = 0x02;
constexpr uint16_t kDidTimeOut = 0x03;
constexpr uint16_t kDidBadTarget = 0x04;
constexpr uint16_t kDidAbort = 0x05;
constexpr uint16_t kDidReset = 0x08;

// Driver status: errors in the low nibble, DRIVER_SENSE flags sense data.
constexpr uint16_t kDriverErrorMask = 0x07;
constexpr uint16_t kDriverTimeout = 0x06;
constexpr uint16_t kDriverSense = 0x08;

uint8_t HaStatFromHost(uint16_t host) {
    switch (host & 0xFF) {
        case kDidOk:
            return HASTAT_OK;
        case kDidNoConnect:
        case kDidBadTarget:
            return HASTAT_SEL_TO;
        case kDidTimeOut:
            return HASTAT_COMMAND_TIMEOUT;
        case kDidAbort:
            return HASTAT_TIMEOUT;
        case kDidBusBusy:
        case kDidReset:
            return HASTAT_BUS_FREE;
        default:
            return HASTAT_PHASE_ERR;
    }
}

}  // namespace

AspiOutcome OutcomeFromSgStatus(uint16_t hostStatus, uint16_t driverStatus, uint8_t status,
                                uint8_t maskedStatus, uint8_t senseWritten) {
    AspiOutcome out{SS_COMP, HASTAT_OK, STATUS_GOOD};
    out.targStat = static_cast<uint8_t>(status & 0x3E);
    if (out.targStat == 0) out.targStat = static_cast<uint8_t>((maskedStatus << 1) & 0x3E);
    if (out.targStat == 0 && (driverStatus & kDriverSense) != 0 && senseWritten > 0) {
        out.targStat = STATUS_CHKCOND;
    }

    out.haStat = HaStatFromHost(hostStatus);
    if (out.haStat == HASTAT_OK) {
        const uint16_t driverError = driverStatus & kDriverErrorMask;
        if (driverError == kDriverTimeout) {
            out.haStat = HASTAT_COMMAND_TIMEOUT;
        } else if (driverError != 0) {
            out.haStat = HASTAT_PHASE_ERR;
        }
    }
    if (out.haStat != HASTAT_OK || out.targStat != STATUS_GOOD) out.srbStatus = SS_ERR;
    return out;
}

AspiOutcome OutcomeFromSgError(int error) {
    switch (error) {
        case ENOENT:
        case ENODEV:
        case ENXIO:
        case EACCES:
        case EPERM:
            return {SS_ERR, HASTAT_SEL_TO, STATUS_GOOD};
        case EBUSY:
        case EAGAIN:
            return {SS_ERR, HASTAT_BUS_FREE, STATUS_GOOD};
        default:
            return {SS_ERR, HASTAT_PHASE_ERR, STATUS_GOOD};
    }
}

}  // namespace orvo::aspi::detail
