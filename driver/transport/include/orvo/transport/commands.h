// The scanner's command set: one builder per command fills the request block
// (cleared before) with the CDB, direction, data buffer and length. The
// completion event is set by Exchange.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

#include "orvo/core/settings.h"
#include "orvo/transport/command_set.h"
#include "wnaspi32.h"

namespace orvo {

using commandset::kBlockSize;
using commandset::kBufferStatusSize;
using commandset::kInquirySize;
using commandset::kQaBlockSize;
using commandset::kWindowBlockSize;

// Waits (ms).
inline constexpr uint32_t kWaitLong = 60000;  // INQUIRY, TEST UNIT READY
inline constexpr uint32_t kWaitScan = 25000;  // SET WINDOW .. TERMINATE
inline constexpr uint32_t kWaitQaAction = 2500;
inline constexpr uint32_t kWaitQa = 1000;

inline constexpr char kVendor[] = "OrvoData";           // INQUIRY bytes 8-15
inline constexpr char kProduct[] = "QXS-7100 (QV710)";  // INQUIRY bytes 16-31

// The 70-byte window block for the current settings (ScanMode[0] as it is to be
// sent), the document-type index and the expanded endorser text.
void ComposeWindowBlock(const Settings& settings, int documentType, const std::string& endorser,
                        uint8_t (&block)[kWindowBlockSize]);

// Builders. Addressing comes from the driver state except for INQUIRY.
void BuildInquiry(SRB_ExecSCSICmd& srb, uint8_t adapter, uint8_t target,
                  uint8_t (&reply)[kInquirySize]);
void BuildTestUnitReady(SRB_ExecSCSICmd& srb);
// `block` must stay alive until the request has finished.
void BuildSetWindow(SRB_ExecSCSICmd& srb, uint8_t (&block)[kWindowBlockSize]);
void BuildScan(SRB_ExecSCSICmd& srb);
void BuildGetDataBufferStatus(SRB_ExecSCSICmd& srb, uint8_t* reply /* >= 12 bytes */);
void BuildReadBuffer(SRB_ExecSCSICmd& srb, uint8_t* scanBuf, uint32_t blockIndex);
void BuildTerminate(SRB_ExecSCSICmd& srb);
void BuildQaAction(SRB_ExecSCSICmd& srb, int selector);
void BuildQaRead(SRB_ExecSCSICmd& srb, uint8_t (&reply)[kQaBlockSize]);
// `block` receives bytes 0-9 followed by two zero bytes and is sent.
void BuildQaWrite(SRB_ExecSCSICmd& srb, const uint8_t* qa10, uint8_t (&block)[kQaBlockSize]);

}  // namespace orvo
