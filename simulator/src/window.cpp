#include "orvo/sim/window.h"

#include <algorithm>

namespace orvo::sim {

namespace f = commandset::window;

WindowSettings WindowSettings::Decode(const uint8_t* b) {
    WindowSettings w;
    std::copy_n(b, kWindowBlockSize, w.raw.begin());
    auto be16 = [b](int i) { return (b[i] << 8) | b[i + 1]; };
    w.blockLength = be16(f::kLength);
    w.endorser.assign(reinterpret_cast<const char*>(b + f::kEndorserHead), f::kEndorserHeadLength);
    w.endorser.append(reinterpret_cast<const char*>(b + f::kEndorserTail), f::kEndorserTailLength);
    w.brightness = b[f::kBrightness];
    w.frontOnly = b[f::kFrontOnly] == 1;
    w.dfDetect = b[f::kDfDetect];
    w.endorserMode = b[f::kEndorser];
    w.led = b[f::kLed];
    w.micrDetect = b[f::kMicrDetect];
    w.documentType = b[f::kDocumentType];
    for (int i = 0; i < 3; ++i) {
        w.scanMode[i] = b[f::kScanMode + i];
        w.bwSlice[i] = b[f::kBwSlice + i];
        w.scanLines[i] = be16(f::kScanLines + 2 * i);
    }
    w.compressMode = b[f::kCompressMode];
    w.resolution = b[f::kResolution];
    w.leftOffset = b[f::kLeftOffset];
    w.scanWidth = be16(f::kScanWidth);
    w.limitScanCount = (b[f::kScanCount] & f::kLimitScanCountBit) != 0;
    w.scanCount = ((b[f::kScanCount] & 0x7F) << 8) | b[f::kScanCount + 1];
    w.serialNo = (static_cast<uint32_t>(b[f::kSerialNo + 2]) << 16) |
                 (static_cast<uint32_t>(b[f::kSerialNo]) << 8) | b[f::kSerialNo + 1];
    w.topMargin = b[f::kTopMargin];
    return w;
}

WindowSettings WindowSettings::PowerOn() {
    std::array<uint8_t, kWindowBlockSize> b{};
    b[f::kLength + 1] = static_cast<uint8_t>(kWindowBlockSize);
    std::fill_n(b.begin() + f::kEndorserHead, f::kEndorserHeadLength, ' ');
    std::fill_n(b.begin() + f::kEndorserTail, f::kEndorserTailLength, ' ');
    b[f::kBrightness] = 5;
    b[f::kMicrDetect] = 1;
    b[f::kBwSlice] = 128;
    return Decode(b.data());
}

}  // namespace orvo::sim
