#include "orvo/scanrun/driver_messages.h"

#include <gtest/gtest.h>

namespace orvo::scanrun {
namespace {

TEST(DriverMessages, CodesAndTheirTexts) {
    EXPECT_EQ(DriverErrorText(-1, 0),
              "Error occurred!! Check the scanner..\n\n  Scanner not found..");
    EXPECT_EQ(DriverErrorText(-10, 0),
              "Error occurred!! Check the scanner..\n\n  Illegal endorser format error..");
    EXPECT_EQ(DriverErrorText(-6, 0),
              "Error occurred!! Check the scanner..\n\n  No SCSI surpport error..");
    EXPECT_EQ(DriverErrorText(-12, 0),
              "Error occurred!! Check the scanner..\n\n  Page file writing error..");
    EXPECT_EQ(DriverErrorText(-13, 0),
              "Error occurred!! Check the scanner..\n\n  Scanner in use error..");
    EXPECT_EQ(DriverErrorText(-14, 0),
              "Error occurred!! Check the scanner..\n\n  Settings file writing error..");
    EXPECT_EQ(DriverErrorText(-5, 0), "");
    EXPECT_FALSE(ReportsDriverResult(-3));
    EXPECT_FALSE(ReportsDriverResult(0));
    EXPECT_TRUE(ReportsDriverResult(-5));
    EXPECT_TRUE(ReportsDriverResult(-100));
}

TEST(DriverMessages, DeviceErrorLines) {
    // "No document" only when nothing more specific is set.
    EXPECT_EQ(DriverErrorText(-100, 0x81),
              "Error occurred!! Check the scanner..\n\n  Scanner device error..\n  -JAM1 error..");
    EXPECT_EQ(DeviceErrorLines(0x80), "\n  -No document error..");
    EXPECT_EQ(DeviceErrorLines(0x80000080u), "\n  -Unknown device error..");
    EXPECT_EQ(DeviceErrorLines(0x180), "\n  -Cover open error..");
    EXPECT_EQ(DeviceErrorLines(0x0), "");
    EXPECT_EQ(DeviceErrorLines(0x442),
              "\n  -JAM2 error..\n  -Double feed error..\n  -QXS scanner model error..");
    EXPECT_EQ(DeviceErrorLines(0x230),
              "\n  -Elevation setup error..\n  -Elevation home position error..\n  -MICR "
              "detect error..");
}

}  // namespace
}  // namespace orvo::scanrun
