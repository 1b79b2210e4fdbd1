// Driver results as a SANE frontend sees them.
#include <gtest/gtest.h>

#include "orvo/sane/status.h"
#include "orvoscan.h"

namespace orvo::sane {
namespace {

TEST(Status, NormalEndOfTheStackIsAnEmptyFeeder) {
    EXPECT_EQ(StatusFor(ORVOSCAN_OK, 0), SANE_STATUS_GOOD);
    EXPECT_EQ(StatusFor(ORVOSCAN_NO_PAGE, 0), SANE_STATUS_NO_DOCS);
    EXPECT_EQ(StatusFor(ORVOSCAN_ERR_DEVICE, ORVOSCAN_DEV_NO_DOCUMENT), SANE_STATUS_NO_DOCS);
}

TEST(Status, DeviceErrorBits) {
    for (uint32_t jam : {ORVOSCAN_DEV_JAM1, ORVOSCAN_DEV_JAM2, ORVOSCAN_DEV_JAM3, ORVOSCAN_DEV_JAM4,
                         ORVOSCAN_DEV_DOUBLE_FEED}) {
        EXPECT_EQ(StatusFor(ORVOSCAN_ERR_DEVICE, jam), SANE_STATUS_JAMMED) << jam;
    }
    EXPECT_EQ(StatusFor(ORVOSCAN_ERR_DEVICE, ORVOSCAN_DEV_COVER_OPEN), SANE_STATUS_COVER_OPEN);
    for (uint32_t other :
         {ORVOSCAN_DEV_ELEVATION_SETUP, ORVOSCAN_DEV_ELEVATION_HOME, ORVOSCAN_DEV_MICR_DETECT,
          ORVOSCAN_DEV_MODEL, ORVOSCAN_DEV_UNKNOWN, 0u}) {
        EXPECT_EQ(StatusFor(ORVOSCAN_ERR_DEVICE, other), SANE_STATUS_IO_ERROR) << other;
    }
}

TEST(Status, TheCauseToSeeToFirstWins) {
    // A jam reported with "no document" (sense byte 3 = 0x81) is a jam.
    EXPECT_EQ(StatusFor(ORVOSCAN_ERR_DEVICE, ORVOSCAN_DEV_JAM1 | ORVOSCAN_DEV_NO_DOCUMENT),
              SANE_STATUS_JAMMED);
    EXPECT_EQ(StatusFor(ORVOSCAN_ERR_DEVICE, ORVOSCAN_DEV_COVER_OPEN | ORVOSCAN_DEV_JAM2),
              SANE_STATUS_COVER_OPEN);
    EXPECT_EQ(StatusFor(ORVOSCAN_ERR_DEVICE, ORVOSCAN_DEV_UNKNOWN | ORVOSCAN_DEV_DOUBLE_FEED),
              SANE_STATUS_JAMMED);
}

TEST(Status, DriverFailures) {
    EXPECT_EQ(StatusFor(ORVOSCAN_ERR_BUSY, 0), SANE_STATUS_DEVICE_BUSY);
    EXPECT_EQ(StatusFor(ORVOSCAN_ERR_NO_SCANNER, 0), SANE_STATUS_INVAL);
    EXPECT_EQ(StatusFor(ORVOSCAN_ERR_ENDORSER, 0), SANE_STATUS_INVAL);
    EXPECT_EQ(StatusFor(ORVOSCAN_ERR_MEMORY, 0), SANE_STATUS_NO_MEM);
    for (int code : {ORVOSCAN_ERR_DRIVER, ORVOSCAN_ERR_NO_SCSI, ORVOSCAN_ERR_CODE_TABLE,
                     ORVOSCAN_ERR_PAGE_FILE, -55}) {
        EXPECT_EQ(StatusFor(code, 0), SANE_STATUS_IO_ERROR) << code;
    }
    // A device error word read with another result does not change it.
    EXPECT_EQ(StatusFor(ORVOSCAN_ERR_PAGE_FILE, ORVOSCAN_DEV_JAM1), SANE_STATUS_IO_ERROR);
}

}  // namespace
}  // namespace orvo::sane
