// The 70-byte window block of SET WINDOW and its decoded fields. Multi-byte
// fields are high byte first; the serial number is sent middle, low, high.
#pragma once

#include <array>
#include <cstdint>
#include <string>

#include "orvo/transport/command_set.h"

namespace orvo::sim {

using commandset::kWindowBlockSize;

struct WindowSettings {
    std::array<uint8_t, kWindowBlockSize> raw{};
    int blockLength = 0;           // bytes 6-7
    std::string endorser;          // bytes 10-29 and 60-69 (30 characters)
    int brightness = 0;            // byte 30 (bit 4 = photo)
    bool frontOnly = false;        // byte 31 == 1
    int dfDetect = 0;              // 32
    int endorserMode = 0;          // 33
    int led = 0;                   // 34
    int micrDetect = 0;            // 35
    int documentType = 0;          // 36
    int scanMode[3] = {0, 0, 0};   // 37-39
    int compressMode = 0;          // 40
    int resolution = 0;            // 41
    int bwSlice[3] = {0, 0, 0};    // 42-44
    int leftOffset = 0;            // 45
    int scanWidth = 0;             // 46-47
    bool limitScanCount = false;   // 48 bit 7
    int scanCount = 0;             // 48 bits 0-6, 49
    uint32_t serialNo = 0;         // 50 (bits 8-15), 51 (0-7), 52 (16-23)
    int scanLines[3] = {0, 0, 0};  // 53-54, 55-56, 57-58
    int topMargin = 0;             // 59

    static WindowSettings Decode(const uint8_t* block);
    // The device's settings before any SET WINDOW: bilevel, coded, both
    // sides, MICR on, image size taken from the page.
    static WindowSettings PowerOn();
};

}  // namespace orvo::sim
