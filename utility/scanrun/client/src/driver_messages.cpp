#include "orvo/scanrun/driver_messages.h"

#include "orvoscan.h"

namespace orvo::scanrun {

bool ReportsDriverResult(int code) {
    return code != ORVOSCAN_OK && code != ORVOSCAN_NO_PAGE;
}

std::string DeviceErrorLines(uint32_t deviceError) {
    struct Line {
        uint32_t bit;
        const char* text;
    };
    static constexpr Line kLines[] = {
        {ORVOSCAN_DEV_JAM1, "\n  -JAM1 error.."},
        {ORVOSCAN_DEV_JAM2, "\n  -JAM2 error.."},
        {ORVOSCAN_DEV_JAM3, "\n  -JAM3 error.."},
        {ORVOSCAN_DEV_JAM4, "\n  -JAM4 error.."},
        {ORVOSCAN_DEV_ELEVATION_SETUP, "\n  -Elevation setup error.."},
        {ORVOSCAN_DEV_ELEVATION_HOME, "\n  -Elevation home position error.."},
        {ORVOSCAN_DEV_DOUBLE_FEED, "\n  -Double feed error.."},
        {ORVOSCAN_DEV_NO_DOCUMENT, "\n  -No document error.."},
        {ORVOSCAN_DEV_COVER_OPEN, "\n  -Cover open error.."},
        {ORVOSCAN_DEV_MICR_DETECT, "\n  -MICR detect error.."},
        {ORVOSCAN_DEV_MODEL, "\n  -QXS scanner model error.."},
        {ORVOSCAN_DEV_UNKNOWN, "\n  -Unknown device error.."},
    };
    std::string text;
    for (const Line& line : kLines) {
        if ((deviceError & line.bit) == 0) continue;
        // "No document" is what a stopped feed also reports; it is named only
        // when nothing more specific is set.
        if (line.bit == ORVOSCAN_DEV_NO_DOCUMENT && (deviceError & 0x80000F7Fu) != 0) continue;
        text += line.text;
    }
    return text;
}

std::string DriverErrorText(int code, uint32_t deviceError) {
    const char* what = nullptr;
    switch (code) {
        case ORVOSCAN_ERR_NO_SCANNER:
            what = "Scanner not found..";
            break;
        case ORVOSCAN_ERR_DRIVER:
            what = "Driver error..";
            break;
        case ORVOSCAN_ERR_NO_SCSI:
            what = "No SCSI surpport error..";
            break;
        case ORVOSCAN_ERR_CODE_TABLE:
            what = "MH code file loading error..";
            break;
        case ORVOSCAN_ERR_MEMORY:
            what = "Memory allocation error..";
            break;
        case ORVOSCAN_ERR_RESOURCE:
            what = "libK4TRRsrc.so loading error..";
            break;
        case ORVOSCAN_ERR_ENDORSER:
            what = "Illegal endorser format error..";
            break;
        case ORVOSCAN_ERR_QA_LIBRARY:
            what = "libK4TRQa.so loading error..";
            break;
        case ORVOSCAN_ERR_PAGE_FILE:
            what = "Page file writing error..";
            break;
        case ORVOSCAN_ERR_BUSY:
            what = "Scanner in use error..";
            break;
        case ORVOSCAN_ERR_SETTINGS:
            what = "Settings file writing error..";
            break;
        case ORVOSCAN_ERR_DEVICE:
            what = "Scanner device error..";
            break;
        default:
            return std::string();
    }
    std::string text = "Error occurred!! Check the scanner..\n\n  ";
    text += what;
    if (code == ORVOSCAN_ERR_DEVICE) text += DeviceErrorLines(deviceError);
    return text;
}

}  // namespace orvo::scanrun
