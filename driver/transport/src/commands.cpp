#include "orvo/commands.h"

#include <cstring>

#include "orvo/driver_state.h"

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
    WithData(srb, SRB_DIR_OUT, nullptr, 0, 10);
    srb.CDBByte[0] = opcode;
}

uint8_t Low(int v) {
    return static_cast<uint8_t>(v & 0xFF);
}

}  // namespace

void ComposeWindowBlock(const Settings& s, int documentType, const std::string& endorser,
                        uint8_t (&b)[kWindowBlockSize]) {
    std::memset(b, 0, sizeof b);
    b[6] = 0x00;
    b[7] = 0x46;
    auto endorserChar = [&](std::size_t i) -> uint8_t {
        return i < endorser.size() ? static_cast<uint8_t>(endorser[i]) : 0x20;
    };
    for (std::size_t i = 0; i < 20; ++i) b[10 + i] = endorserChar(i);
    for (std::size_t i = 0; i < 10; ++i) b[60 + i] = endorserChar(20 + i);
    b[30] = 5;  // brightness; the photo bit (0x10) is never set
    b[31] = s.Side == 0 ? 1 : 0;
    b[32] = Low(s.DFDetect);
    b[33] = Low(s.Endorser);
    b[34] = Low(s.LED);
    b[35] = Low(s.MicrDetect);
    b[36] = Low(documentType);
    b[37] = Low(s.ScanMode[0]);
    b[38] = Low(s.ScanMode[1]);
    b[39] = Low(s.ScanMode[2]);
    b[40] = Low(s.CompressMode);
    b[41] = Low(s.Resolution);
    b[42] = Low(s.BWSlice[0]);
    b[43] = Low(s.BWSlice[1]);
    b[44] = Low(s.BWSlice[2]);
    b[45] = Low(s.LeftOffset);
    b[46] = Low(s.ScanWidth / 256);
    b[47] = Low(s.ScanWidth % 256);
    b[48] = static_cast<uint8_t>(((s.ScanCount / 256) & 0x7F) | (s.LimitScanCount == 1 ? 0x80 : 0));
    b[49] = Low(s.ScanCount % 256);
    b[50] = Low(s.SerialNo >> 8);
    b[51] = Low(s.SerialNo);
    b[52] = Low(s.SerialNo >> 16);
    b[53] = Low(s.ScanLines[0] / 256);
    b[54] = Low(s.ScanLines[0] % 256);
    b[55] = Low(s.ScanLines[1] / 256);
    b[56] = Low(s.ScanLines[1] % 256);
    b[57] = Low(s.ScanLines[2] / 256);
    b[58] = Low(s.ScanLines[2] % 256);
    b[59] = Low(s.TopMargin);
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
    srb.SRB_CDBLen = 6;
    const uint8_t cdb[6] = {0x12, 0x00, 0x00, 0x00, 0x38, 0x00};
    std::memcpy(srb.CDBByte, cdb, sizeof cdb);
}

void BuildTestUnitReady(SRB_ExecSCSICmd& srb) {
    NoData(srb, 0x00);
}

void BuildSetWindow(SRB_ExecSCSICmd& srb, uint8_t (&block)[kWindowBlockSize]) {
    WithData(srb, SRB_DIR_OUT, block, kWindowBlockSize, 10);
    srb.CDBByte[0] = 0x24;
    srb.CDBByte[8] = 0x46;
}

void BuildScan(SRB_ExecSCSICmd& srb) {
    NoData(srb, 0x1B);
}

void BuildGetDataBufferStatus(SRB_ExecSCSICmd& srb, uint8_t* reply) {
    WithData(srb, SRB_DIR_IN, reply, kBufferStatusSize, 10);
    srb.CDBByte[0] = 0x34;
    srb.CDBByte[8] = 0x0C;
}

void BuildReadBuffer(SRB_ExecSCSICmd& srb, uint8_t* scanBuf, uint32_t blockIndex) {
    WithData(srb, SRB_DIR_IN, scanBuf + static_cast<std::size_t>(blockIndex) * kBlockSize,
             kBlockSize, 10);
    const uint32_t offset = (blockIndex * kBlockSize) & 0xFFFFFF;
    srb.CDBByte[0] = 0x3C;
    srb.CDBByte[1] = 0x01;
    srb.CDBByte[3] = static_cast<uint8_t>(offset >> 16);
    srb.CDBByte[4] = static_cast<uint8_t>(offset >> 8);
    srb.CDBByte[5] = static_cast<uint8_t>(offset);
    srb.CDBByte[7] = 0x28;  // bytes 6-8 always 00 28 00
}

void BuildTerminate(SRB_ExecSCSICmd& srb) {
    NoData(srb, 0x42);
}

void BuildQaAction(SRB_ExecSCSICmd& srb, int selector) {
    NoData(srb, selector == 1 ? 0x41 : 0x40);
}

void BuildQaRead(SRB_ExecSCSICmd& srb, uint8_t (&reply)[kQaBlockSize]) {
    WithData(srb, SRB_DIR_IN, reply, kQaBlockSize, 6);
    srb.CDBByte[0] = 0x81;
    srb.CDBByte[4] = 0x0C;
}

void BuildQaWrite(SRB_ExecSCSICmd& srb, const uint8_t* qa10, uint8_t (&block)[kQaBlockSize]) {
    std::memcpy(block, qa10, 10);
    block[10] = 0;
    block[11] = 0;
    WithData(srb, SRB_DIR_OUT, block, kQaBlockSize, 6);
    srb.CDBByte[0] = 0x80;
    srb.CDBByte[4] = 0x0C;
}

}  // namespace orvo
