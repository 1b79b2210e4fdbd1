#include "orvo/scanrun/driver_messages.h"

namespace orvo::scanrun {

bool ReportsDriverResult(int code) {
    return code != 0 && code != -3;
}

std::string DeviceErrorLines(uint32_t deviceError) {
    struct Line {
        uint32_t bit;
        const char* text;
    };
    static constexpr Line kLines[] = {
        {0x1, "\n  -JAM1 error.."},
        {0x2, "\n  -JAM2 error.."},
        {0x4, "\n  -JAM3 error.."},
        {0x8, "\n  -JAM4 error.."},
        {0x10, "\n  -Elevation setup error.."},
        {0x20, "\n  -Elevation home position error.."},
        {0x40, "\n  -Double feed error.."},
        {0x80, "\n  -No document error.."},
        {0x100, "\n  -Cover open error.."},
        {0x200, "\n  -MICR detect error.."},
        {0x400, "\n  -QXS scanner model error.."},
        {0x80000000u, "\n  -Unknown device error.."},
    };
    std::string text;
    for (const Line& line : kLines) {
        if ((deviceError & line.bit) == 0) continue;
        // "No document" is what a stopped feed also reports; it is named only
        // when nothing more specific is set.
        if (line.bit == 0x80 && (deviceError & 0x80000F7Fu) != 0) continue;
        text += line.text;
    }
    return text;
}

std::string DriverErrorText(int code, uint32_t deviceError) {
    const char* what = nullptr;
    switch (code) {
        case -1:
            what = "Scanner not found..";
            break;
        case -2:
            what = "Driver error..";
            break;
        case -6:
            what = "No SCSI surpport error..";
            break;
        case -7:
            what = "MH code file loading error..";
            break;
        case -8:
            what = "Memory allocation error..";
            break;
        case -9:
            what = "K4TRRsrc.dll loading error..";
            break;
        case -10:
            what = "Illegal endorser format error..";
            break;
        case -11:
            what = "K4TRQA.dll loading error..";
            break;
        case -12:
            what = "Page file writing error..";
            break;
        case -13:
            what = "Scanner in use error..";
            break;
        case -14:
            what = "Settings file writing error..";
            break;
        case -100:
            what = "Scanner device error..";
            break;
        default:
            return std::string();
    }
    std::string text = "Error occurred!! Check the scanner..\n\n  ";
    text += what;
    if (code == -100) text += DeviceErrorLines(deviceError);
    return text;
}

}  // namespace orvo::scanrun
