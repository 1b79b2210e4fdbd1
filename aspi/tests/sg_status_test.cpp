#include "sg_status.h"

#include <gtest/gtest.h>

#include <cerrno>

#include "wnaspi32.h"

namespace orvo::aspi::detail {
namespace {

struct StatusCase {
    const char* what;
    uint16_t host;
    uint16_t driver;
    uint8_t status;
    uint8_t masked;
    uint8_t senseWritten;
    uint8_t srbStatus;
    uint8_t haStat;
    uint8_t targStat;
};

TEST(SgStatusTest, MapsHostDriverAndTargetStatus) {
    const StatusCase cases[] = {
        {"clean", 0x00, 0x00, 0x00, 0x00, 0, SS_COMP, HASTAT_OK, STATUS_GOOD},
        {"no connect", 0x01, 0x00, 0x00, 0x00, 0, SS_ERR, HASTAT_SEL_TO, STATUS_GOOD},
        {"bad target", 0x04, 0x00, 0x00, 0x00, 0, SS_ERR, HASTAT_SEL_TO, STATUS_GOOD},
        {"time out", 0x03, 0x00, 0x00, 0x00, 0, SS_ERR, HASTAT_COMMAND_TIMEOUT, STATUS_GOOD},
        {"bus busy", 0x02, 0x00, 0x00, 0x00, 0, SS_ERR, HASTAT_BUS_FREE, STATUS_GOOD},
        {"reset", 0x08, 0x00, 0x00, 0x00, 0, SS_ERR, HASTAT_BUS_FREE, STATUS_GOOD},
        {"abort", 0x05, 0x00, 0x00, 0x00, 0, SS_ERR, HASTAT_TIMEOUT, STATUS_GOOD},
        {"other host error", 0x07, 0x00, 0x00, 0x00, 0, SS_ERR, HASTAT_PHASE_ERR, STATUS_GOOD},
        {"check condition", 0x00, 0x08, 0x02, 0x01, 18, SS_ERR, HASTAT_OK, STATUS_CHKCOND},
        {"masked only", 0x00, 0x00, 0x00, 0x01, 0, SS_ERR, HASTAT_OK, STATUS_CHKCOND},
        {"sense flag only", 0x00, 0x08, 0x00, 0x00, 18, SS_ERR, HASTAT_OK, STATUS_CHKCOND},
        {"sense flag, no sense", 0x00, 0x08, 0x00, 0x00, 0, SS_COMP, HASTAT_OK, STATUS_GOOD},
        {"busy", 0x00, 0x00, 0x08, 0x04, 0, SS_ERR, HASTAT_OK, STATUS_BUSY},
        {"driver time-out", 0x00, 0x06, 0x00, 0x00, 0, SS_ERR, HASTAT_COMMAND_TIMEOUT, STATUS_GOOD},
        {"driver error", 0x00, 0x04, 0x00, 0x00, 0, SS_ERR, HASTAT_PHASE_ERR, STATUS_GOOD},
        {"selection and check", 0x01, 0x08, 0x02, 0x01, 18, SS_ERR, HASTAT_SEL_TO, STATUS_CHKCOND},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        const AspiOutcome out =
            OutcomeFromSgStatus(c.host, c.driver, c.status, c.masked, c.senseWritten);
        EXPECT_EQ(out.srbStatus, c.srbStatus);
        EXPECT_EQ(out.haStat, c.haStat);
        EXPECT_EQ(out.targStat, c.targStat);
    }
}

TEST(SgStatusTest, FailedIoctlOrOpenIsAnError) {
    EXPECT_EQ(OutcomeFromSgError(ENODEV).haStat, HASTAT_SEL_TO);
    EXPECT_EQ(OutcomeFromSgError(ENOENT).haStat, HASTAT_SEL_TO);
    EXPECT_EQ(OutcomeFromSgError(EACCES).haStat, HASTAT_SEL_TO);
    EXPECT_EQ(OutcomeFromSgError(EBUSY).haStat, HASTAT_BUS_FREE);
    EXPECT_EQ(OutcomeFromSgError(EIO).haStat, HASTAT_PHASE_ERR);
    for (int error : {ENODEV, EBUSY, EIO, EINVAL}) {
        EXPECT_EQ(OutcomeFromSgError(error).srbStatus, SS_ERR);
    }
}

}  // namespace
}  // namespace orvo::aspi::detail
