// The scanner's command set on the wire: operation codes, the fixed bytes of
// each command block, the size of every block a command moves and where each
// field sits in the 70-byte window block. The driver's transport encodes with
// these names and the virtual scanner decodes with them; both read the bytes
// themselves, so neither side's mistake hides the other's.
#pragma once

#include <cstddef>
#include <cstdint>

namespace orvo::commandset {

// Operation codes (byte 0 of the command block).
namespace op {
inline constexpr uint8_t kTestUnitReady = 0x00;
inline constexpr uint8_t kInquiry = 0x12;
inline constexpr uint8_t kScan = 0x1B;
inline constexpr uint8_t kSetWindow = 0x24;
inline constexpr uint8_t kGetDataBufferStatus = 0x34;
inline constexpr uint8_t kReadBuffer = 0x3C;
inline constexpr uint8_t kQaAction0 = 0x40;
inline constexpr uint8_t kQaAction1 = 0x41;
inline constexpr uint8_t kTerminate = 0x42;
inline constexpr uint8_t kQaWrite = 0x80;
inline constexpr uint8_t kQaRead = 0x81;
}  // namespace op

// Command block lengths: INQUIRY and the QA transfers are 6-byte commands,
// everything else 10 bytes (TEST UNIT READY is accepted in either length).
inline constexpr uint8_t kShortCdbLength = 6;
inline constexpr uint8_t kCdbLength = 10;

// Sizes of the blocks the commands move.
inline constexpr uint32_t kBlockSize = 32768;         // READ BUFFER: one block of a document
inline constexpr std::size_t kWindowBlockSize = 70;   // SET WINDOW
inline constexpr std::size_t kInquirySize = 56;       // INQUIRY reply
inline constexpr std::size_t kBufferStatusSize = 12;  // GET DATA BUFFER STATUS reply
inline constexpr std::size_t kQaBlockSize = 12;       // QA READ / QA WRITE

// Fixed bytes of the command blocks.
namespace cdb {
inline constexpr int kInquiryLengthByte = 4;       // allocation length, 0x38
inline constexpr int kSetWindowLengthByte = 8;     // parameter list length, 0x46
inline constexpr int kBufferStatusLengthByte = 8;  // allocation length, 0x0C
inline constexpr int kQaLengthByte = 4;            // QA READ / WRITE length, 0x0C
inline constexpr uint8_t kReadBufferMode = 0x01;   // byte 1
inline constexpr int kReadBufferOffsetByte = 3;    // bytes 3-5: byte offset, high first
inline constexpr int kReadBufferLengthByte = 7;    // bytes 6-8 always 00 28 00
inline constexpr uint8_t kReadBufferLengthValue = 0x28;
}  // namespace cdb

// The scanner's answer to GET DATA BUFFER STATUS, byte 3.
namespace status {
inline constexpr int kByte = 3;
inline constexpr uint8_t kDocumentReady = 0x01;
inline constexpr uint8_t kFeedEnded = 0x80;
}  // namespace status

// Fields of the window block (offsets). Multi-byte numbers are high byte
// first; the serial number goes middle, low, high.
namespace window {
inline constexpr int kLength = 6;         // 2 bytes: the block's length, 70
inline constexpr int kEndorserHead = 10;  // 20 characters
inline constexpr int kEndorserHeadLength = 20;
inline constexpr int kBrightness = 30;  // bit 4: photo
inline constexpr int kFrontOnly = 31;   // 1: front side only
inline constexpr int kDfDetect = 32;
inline constexpr int kEndorser = 33;
inline constexpr int kLed = 34;
inline constexpr int kMicrDetect = 35;
inline constexpr int kDocumentType = 36;
inline constexpr int kScanMode = 37;  // 3 bytes, one per resolution step
inline constexpr int kCompressMode = 40;
inline constexpr int kResolution = 41;
inline constexpr int kBwSlice = 42;  // 3 bytes
inline constexpr int kLeftOffset = 45;
inline constexpr int kScanWidth = 46;  // 2 bytes
inline constexpr int kScanCount = 48;  // 2 bytes; bit 7 of the first: limit on
inline constexpr uint8_t kLimitScanCountBit = 0x80;
inline constexpr int kSerialNo = 50;   // 3 bytes: bits 8-15, 0-7, 16-23
inline constexpr int kScanLines = 53;  // 3 x 2 bytes
inline constexpr int kTopMargin = 59;
inline constexpr int kEndorserTail = 60;  // 10 characters
inline constexpr int kEndorserTailLength = 10;
}  // namespace window

}  // namespace orvo::commandset
