#include "orvo/sim/window.h"

#include <algorithm>

namespace orvo::sim {

WindowSettings WindowSettings::Decode(const uint8_t* b) {
    WindowSettings w;
    std::copy_n(b, kWindowBlockSize, w.raw.begin());
    auto be16 = [b](int i) { return (b[i] << 8) | b[i + 1]; };
    w.blockLength = be16(6);
    w.endorser.assign(reinterpret_cast<const char*>(b + 10), 20);
    w.endorser.append(reinterpret_cast<const char*>(b + 60), 10);
    w.brightness = b[30];
    w.frontOnly = b[31] == 1;
    w.dfDetect = b[32];
    w.endorserMode = b[33];
    w.led = b[34];
    w.micrDetect = b[35];
    w.documentType = b[36];
    for (int i = 0; i < 3; ++i) {
        w.scanMode[i] = b[37 + i];
        w.bwSlice[i] = b[42 + i];
        w.scanLines[i] = be16(53 + 2 * i);
    }
    w.compressMode = b[40];
    w.resolution = b[41];
    w.leftOffset = b[45];
    w.scanWidth = be16(46);
    w.limitScanCount = (b[48] & 0x80) != 0;
    w.scanCount = ((b[48] & 0x7F) << 8) | b[49];
    w.serialNo = (static_cast<uint32_t>(b[52]) << 16) | (static_cast<uint32_t>(b[50]) << 8) | b[51];
    w.topMargin = b[59];
    return w;
}

WindowSettings WindowSettings::PowerOn() {
    std::array<uint8_t, kWindowBlockSize> b{};
    b[7] = 70;
    std::fill(b.begin() + 10, b.begin() + 30, ' ');
    std::fill(b.begin() + 60, b.end(), ' ');
    b[30] = 5;
    b[35] = 1;
    b[42] = 128;
    return Decode(b.data());
}

}  // namespace orvo::sim
