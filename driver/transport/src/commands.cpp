#include "orvo/transport/commands.h"

#include <cstring>

#include "orvo/core/driver_state.h"

namespace orvo {

namespace {

void Address(SRB_ExecSCSICmd& srb) {
    srb.SRB_Cmd = SC_EXEC_SCSI_CMD;
    srb.SRB_HaId = static_cast<uint8_t>(State().adapter);
    srb.SRB_Target = static_cast<uint8_t>(State().target);
    srb.SRB_Lun = 0;
    srb.SRB_SenseLen = ORVO_ASPI_SENSE_LEN;
}

// A command that moves `length` bytes of `data` in (SRB_DIR_IN) or out.
void WithData(SRB_ExecSCSICmd& srb, uint8_t direction, uint8_t* data, uint32_t length,
              uint8_t cdbLength) {
    Address(srb);
    srb.SRB_Flags = direction | SRB_EVENT_NOTIFY;
    srb.SRB_BufLen = length;
    srb.SRB_BufPointer = data;
    srb.SRB_CDBLen = cdbLength;
}

// Commands without data go out with SRB_DIR_OUT.
void NoData(SRB_ExecSCSICmd& srb, uint8_t opcode) {
    WithData(srb, SRB_DIR_OUT, nullptr, 0, commandset::kCdbLength);
    srb.CDBByte[0] = opcode;
}

uint8_t Low(int v) {
    return static_cast<uint8_t>(v & 0xFF);
}

}  // namespace

namespace w = commandset::window;
namespace cdb = commandset::cdb;
namespace op = commandset::op;

void ComposeWindowBlock(const Settings& s, int documentType, const std::string& endorser,
                        uint8_t (&b)[kWindowBlockSize]) {
    std::memset(b, 0, sizeof b);
    b[w::kLength] = 0x00;
    b[w::kLength + 1] = static_cast<uint8_t>(kWindowBlockSize);
    auto endorserChar = [&](std::size_t i) -> uint8_t {
        return i < endorser.size() ? static_cast<uint8_t>(endorser[i]) : 0x20;
    };
    for (std::size_t i = 0; i < w::kEndorserHeadLength; ++i)
        b[w::kEndorserHead + i] = endorserChar(i);
    for (std::size_t i = 0; i < w::kEndorserTailLength; ++i)
        b[w::kEndorserTail + i] = endorserChar(w::kEndorserHeadLength + i);
    b[w::kBrightness] = 5;  // the photo bit (0x10) is never set
    b[w::kFrontOnly] = s.Side == 0 ? 1 : 0;
    b[w::kDfDetect] = Low(s.DFDetect);
    b[w::kEndorser] = Low(s.Endorser);
    b[w::kLed] = Low(s.LED);
    b[w::kMicrDetect] = Low(s.MicrDetect);
    b[w::kDocumentType] = Low(documentType);
    for (int i = 0; i < 3; ++i) {
        b[w::kScanMode + i] = Low(s.ScanMode[i]);
        b[w::kBwSlice + i] = Low(s.BWSlice[i]);
        b[w::kScanLines + 2 * i] = Low(s.ScanLines[i] / 256);
        b[w::kScanLines + 2 * i + 1] = Low(s.ScanLines[i] % 256);
    }
    b[w::kCompressMode] = Low(s.CompressMode);
    b[w::kResolution] = Low(s.Resolution);
    b[w::kLeftOffset] = Low(s.LeftOffset);
    b[w::kScanWidth] = Low(s.ScanWidth / 256);
    b[w::kScanWidth + 1] = Low(s.ScanWidth % 256);
    b[w::kScanCount] = static_cast<uint8_t>(((s.ScanCount / 256) & 0x7F) |
                                            (s.LimitScanCount == 1 ? w::kLimitScanCountBit : 0));
    b[w::kScanCount + 1] = Low(s.ScanCount % 256);
    b[w::kSerialNo] = Low(s.SerialNo >> 8);
    b[w::kSerialNo + 1] = Low(s.SerialNo);
    b[w::kSerialNo + 2] = Low(s.SerialNo >> 16);
    b[w::kTopMargin] = Low(s.TopMargin);
}

void BuildInquiry(SRB_ExecSCSICmd& srb, uint8_t adapter, uint8_t target,
                  uint8_t (&reply)[kInquirySize]) {
    srb.SRB_Cmd = SC_EXEC_SCSI_CMD;
    srb.SRB_HaId = adapter;
    srb.SRB_Target = target;
    srb.SRB_Lun = 0;
    srb.SRB_SenseLen = ORVO_ASPI_SENSE_LEN;
    srb.SRB_Flags = SRB_DIR_IN | SRB_EVENT_NOTIFY;
    srb.SRB_BufLen = kInquirySize;
    srb.SRB_BufPointer = reply;
    srb.SRB_CDBLen = commandset::kShortCdbLength;
    std::memset(srb.CDBByte, 0, commandset::kShortCdbLength);
    srb.CDBByte[0] = op::kInquiry;
    srb.CDBByte[cdb::kInquiryLengthByte] = static_cast<uint8_t>(kInquirySize);
}

void BuildTestUnitReady(SRB_ExecSCSICmd& srb) {
    NoData(srb, op::kTestUnitReady);
}

void BuildSetWindow(SRB_ExecSCSICmd& srb, uint8_t (&block)[kWindowBlockSize]) {
    WithData(srb, SRB_DIR_OUT, block, kWindowBlockSize, commandset::kCdbLength);
    srb.CDBByte[0] = op::kSetWindow;
    srb.CDBByte[cdb::kSetWindowLengthByte] = static_cast<uint8_t>(kWindowBlockSize);
}

void BuildScan(SRB_ExecSCSICmd& srb) {
    NoData(srb, op::kScan);
}

void BuildGetDataBufferStatus(SRB_ExecSCSICmd& srb, uint8_t* reply) {
    WithData(srb, SRB_DIR_IN, reply, kBufferStatusSize, commandset::kCdbLength);
    srb.CDBByte[0] = op::kGetDataBufferStatus;
    srb.CDBByte[cdb::kBufferStatusLengthByte] = static_cast<uint8_t>(kBufferStatusSize);
}

void BuildReadBuffer(SRB_ExecSCSICmd& srb, uint8_t* scanBuf, uint32_t blockIndex) {
    uint8_t* block =
        scanBuf != nullptr ? scanBuf + static_cast<std::size_t>(blockIndex) * kBlockSize : nullptr;
    WithData(srb, SRB_DIR_IN, block, kBlockSize, commandset::kCdbLength);
    const uint32_t offset = (blockIndex * kBlockSize) & 0xFFFFFF;
    srb.CDBByte[0] = op::kReadBuffer;
    srb.CDBByte[1] = cdb::kReadBufferMode;
    srb.CDBByte[cdb::kReadBufferOffsetByte] = static_cast<uint8_t>(offset >> 16);
    srb.CDBByte[cdb::kReadBufferOffsetByte + 1] = static_cast<uint8_t>(offset >> 8);
    srb.CDBByte[cdb::kReadBufferOffsetByte + 2] = static_cast<uint8_t>(offset);
    srb.CDBByte[cdb::kReadBufferLengthByte] = cdb::kReadBufferLengthValue;
}

void BuildTerminate(SRB_ExecSCSICmd& srb) {
    NoData(srb, op::kTerminate);
}

void BuildQaAction(SRB_ExecSCSICmd& srb, int selector) {
    NoData(srb, selector == 1 ? op::kQaAction1 : op::kQaAction0);
}

void BuildQaRead(SRB_ExecSCSICmd& srb, uint8_t (&reply)[kQaBlockSize]) {
    WithData(srb, SRB_DIR_IN, reply, kQaBlockSize, commandset::kShortCdbLength);
    srb.CDBByte[0] = op::kQaRead;
    srb.CDBByte[cdb::kQaLengthByte] = static_cast<uint8_t>(kQaBlockSize);
}

void BuildQaWrite(SRB_ExecSCSICmd& srb, const uint8_t* qa10, uint8_t (&block)[kQaBlockSize]) {
    std::memcpy(block, qa10, 10);
    block[10] = 0;
    block[11] = 0;
    WithData(srb, SRB_DIR_OUT, block, kQaBlockSize, commandset::kShortCdbLength);
    srb.CDBByte[0] = op::kQaWrite;
    srb.CDBByte[cdb::kQaLengthByte] = static_cast<uint8_t>(kQaBlockSize);
}

}  // namespace orvo
