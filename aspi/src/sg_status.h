// How the outcome of an SG_IO request reads in ASPI terms.
#pragma once

#include <cstdint>

namespace orvo::aspi::detail {

struct AspiOutcome {
    uint8_t srbStatus;  // SS_COMP or SS_ERR
    uint8_t haStat;
    uint8_t targStat;
};

// From the status fields of a finished sg_io_hdr: host_status, driver_status,
// the SCSI status byte, masked_status and the number of sense bytes written.
AspiOutcome OutcomeFromSgStatus(uint16_t hostStatus, uint16_t driverStatus, uint8_t status,
                                uint8_t maskedStatus, uint8_t senseWritten);

// For an SG_IO ioctl (or the open before it) that failed with `error`.
AspiOutcome OutcomeFromSgError(int error);

}  // namespace orvo::aspi::detail
