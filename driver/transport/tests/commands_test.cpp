// Wire formats of the scanner's commands and the status check.
#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "orvo/core/driver_state.h"
#include "orvo/transport/commands.h"
#include "orvo/transport/transport.h"

namespace orvo {
namespace {

SRB_ExecSCSICmd Blank() {
    SRB_ExecSCSICmd srb;
    std::memset(&srb, 0, sizeof srb);
    return srb;
}

TEST(WindowBlock, EndorserTextIsSplitAroundTheSettings) {
    Settings s;
    uint8_t block[kWindowBlockSize];
    const std::string text = "ABCDEFGHIJKLMNOPQRSTUVWXY";  // 25 characters
    ComposeWindowBlock(s, 0, text, block);
    EXPECT_EQ(0, std::memcmp(block + 10, "ABCDEFGHIJKLMNOPQRST", 20));
    EXPECT_EQ(0, std::memcmp(block + 60, "UVWXY     ", 10));
    EXPECT_EQ(block[6], 0x00);
    EXPECT_EQ(block[7], 0x46);
}

TEST(WindowBlock, OnlyThirtyEndorserCharactersAreSent) {
    Settings s;
    uint8_t block[kWindowBlockSize];
    ComposeWindowBlock(s, 0, std::string(35, 'Z'), block);
    for (int i = 10; i < 30; ++i) EXPECT_EQ(block[i], 'Z');
    for (int i = 60; i < 70; ++i) EXPECT_EQ(block[i], 'Z');
    EXPECT_EQ(block[30], 5);
}

TEST(WindowBlock, FieldsLandInTheirBytes) {
    Settings s;
    s.SerialNo = 1193046;  // 0x123456
    s.ScanCount = 300;
    s.LimitScanCount = 1;
    s.Side = 0;
    s.ScanWidth = 1704;
    s.ScanLines[0] = 900;
    s.ScanLines[1] = 0x0102;
    s.ScanLines[2] = 0x0304;
    s.ScanMode[0] = 4;
    s.ScanMode[1] = 1;
    s.ScanMode[2] = 2;
    s.LeftOffset = 0x1FF;
    s.TopMargin = 0x203;
    s.DFDetect = 2;
    s.Endorser = 3;
    s.LED = 1;
    s.MicrDetect = 1;
    s.CompressMode = 1;
    s.Resolution = 5;
    s.BWSlice[0] = 128;
    s.BWSlice[1] = 129;
    s.BWSlice[2] = 130;
    uint8_t b[kWindowBlockSize];
    ComposeWindowBlock(s, 7, "", b);
    EXPECT_EQ(b[50], 0x34);
    EXPECT_EQ(b[51], 0x56);
    EXPECT_EQ(b[52], 0x12);
    EXPECT_EQ(b[48], 0x81);
    EXPECT_EQ(b[49], 0x2C);
    EXPECT_EQ(b[31], 1);
    EXPECT_EQ(b[46], 1704 / 256);
    EXPECT_EQ(b[47], 1704 % 256);
    EXPECT_EQ(b[53], 900 / 256);
    EXPECT_EQ(b[54], 900 % 256);
    EXPECT_EQ(b[55], 1);
    EXPECT_EQ(b[56], 2);
    EXPECT_EQ(b[57], 3);
    EXPECT_EQ(b[58], 4);
    EXPECT_EQ(b[45], 0xFF);
    EXPECT_EQ(b[59], 0x03);
    EXPECT_EQ(b[32], 2);
    EXPECT_EQ(b[33], 3);
    EXPECT_EQ(b[34], 1);
    EXPECT_EQ(b[35], 1);
    EXPECT_EQ(b[36], 7);
    EXPECT_EQ(b[37], 4);
    EXPECT_EQ(b[38], 1);
    EXPECT_EQ(b[39], 2);
    EXPECT_EQ(b[40], 1);
    EXPECT_EQ(b[41], 5);
    EXPECT_EQ(b[42], 128);
    EXPECT_EQ(b[43], 129);
    EXPECT_EQ(b[44], 130);
    for (int i = 10; i < 30; ++i) EXPECT_EQ(b[i], ' ');
    s.Side = 1;
    s.LimitScanCount = 0;
    ComposeWindowBlock(s, 0, "", b);
    EXPECT_EQ(b[31], 0);
    EXPECT_EQ(b[48], 0x01);
}

TEST(Commands, CdbsAndDirections) {
    State().adapter = 2;
    State().target = 5;
    SRB_ExecSCSICmd srb = Blank();
    std::vector<uint8_t> scanBuf(5 * kBlockSize);
    BuildReadBuffer(srb, scanBuf.data(), 3);
    const uint8_t readCdb[10] = {0x3C, 0x01, 0x00, 0x01, 0x80, 0x00, 0x00, 0x28, 0x00, 0x00};
    EXPECT_EQ(0, std::memcmp(srb.CDBByte, readCdb, 10));
    EXPECT_EQ(srb.SRB_BufPointer, scanBuf.data() + 98304);
    EXPECT_EQ(srb.SRB_BufLen, 32768u);
    EXPECT_EQ(srb.SRB_Flags, 0x48);
    EXPECT_EQ(srb.SRB_HaId, 2);
    EXPECT_EQ(srb.SRB_Target, 5);
    EXPECT_EQ(srb.SRB_CDBLen, 10);
    EXPECT_EQ(srb.SRB_SenseLen, 128);

    // The offset keeps its low 24 bits only.
    srb = Blank();
    BuildReadBuffer(srb, nullptr, 512);  // 512 x 32768 = 0x1000000
    EXPECT_EQ(srb.CDBByte[3], 0);
    EXPECT_EQ(srb.CDBByte[4], 0);
    EXPECT_EQ(srb.CDBByte[5], 0);

    srb = Blank();
    uint8_t window[kWindowBlockSize] = {};
    BuildSetWindow(srb, window);
    const uint8_t setCdb[10] = {0x24, 0, 0, 0, 0, 0, 0, 0, 0x46, 0};
    EXPECT_EQ(0, std::memcmp(srb.CDBByte, setCdb, 10));
    EXPECT_EQ(srb.SRB_Flags, 0x50);
    EXPECT_EQ(srb.SRB_BufLen, 70u);

    srb = Blank();
    uint8_t status[57];
    BuildGetDataBufferStatus(srb, status);
    const uint8_t statCdb[10] = {0x34, 0, 0, 0, 0, 0, 0, 0, 0x0C, 0};
    EXPECT_EQ(0, std::memcmp(srb.CDBByte, statCdb, 10));
    EXPECT_EQ(srb.SRB_BufLen, 12u);

    using Builder = void (*)(SRB_ExecSCSICmd&);
    const std::pair<Builder, int> noData[] = {
        {BuildTestUnitReady, 0x00}, {BuildScan, 0x1B}, {BuildTerminate, 0x42}};
    for (auto [build, opcode] : noData) {
        srb = Blank();
        build(srb);
        EXPECT_EQ(srb.CDBByte[0], opcode);
        EXPECT_EQ(srb.SRB_CDBLen, 10);
        EXPECT_EQ(srb.SRB_Flags, 0x50);  // no data goes out
        EXPECT_EQ(srb.SRB_BufLen, 0u);
    }

    srb = Blank();
    BuildQaAction(srb, 1);
    EXPECT_EQ(srb.CDBByte[0], 0x41);
    srb = Blank();
    BuildQaAction(srb, 0);
    EXPECT_EQ(srb.CDBByte[0], 0x40);

    srb = Blank();
    uint8_t qa[kQaBlockSize];
    const uint8_t ten[10] = {1, 2, 3, 4, 5, 6, 7, 8, 9, 10};
    BuildQaWrite(srb, ten, qa);
    const uint8_t qaWriteCdb[6] = {0x80, 0, 0, 0, 0x0C, 0};
    EXPECT_EQ(0, std::memcmp(srb.CDBByte, qaWriteCdb, 6));
    EXPECT_EQ(qa[9], 10);
    EXPECT_EQ(qa[10], 0);
    EXPECT_EQ(qa[11], 0);
    EXPECT_EQ(srb.SRB_CDBLen, 6);

    srb = Blank();
    uint8_t inquiry[kInquirySize];
    BuildInquiry(srb, 1, 7, inquiry);
    const uint8_t inqCdb[6] = {0x12, 0, 0, 0, 0x38, 0};
    EXPECT_EQ(0, std::memcmp(srb.CDBByte, inqCdb, 6));
    EXPECT_EQ(srb.SRB_HaId, 1);
    EXPECT_EQ(srb.SRB_Target, 7);
    EXPECT_EQ(srb.SRB_BufLen, 56u);
}

SRB_ExecSCSICmd Finished(uint8_t status, uint8_t ha, uint8_t targ, uint8_t s3 = 0, uint8_t s4 = 0) {
    SRB_ExecSCSICmd srb = Blank();
    srb.SRB_Status = status;
    srb.SRB_HaStat = ha;
    srb.SRB_TargStat = targ;
    srb.SenseArea[3] = s3;
    srb.SenseArea[4] = s4;
    return srb;
}

TEST(StatusCheck, DeviceErrorWordFromSense) {
    uint32_t word = 123;
    EXPECT_TRUE(CheckStatus(Finished(SS_ERR, 0, STATUS_CHKCOND, 0x81, 0), false, word));
    EXPECT_EQ(word, 0x81u);
    EXPECT_TRUE(CheckStatus(Finished(SS_ERR, 0, STATUS_CHKCOND, 0x80, 0), false, word));
    EXPECT_EQ(word, 0x80u);
    EXPECT_TRUE(CheckStatus(Finished(SS_ERR, 0, STATUS_CHKCOND, 0, 0), false, word));
    EXPECT_EQ(word, 0x80000000u);
    // Bits 3-7 of sense byte 4 are not taken.
    EXPECT_TRUE(CheckStatus(Finished(SS_ERR, 0, STATUS_CHKCOND, 0, 0x08), false, word));
    EXPECT_EQ(word, 0x80000000u);
    EXPECT_TRUE(CheckStatus(Finished(SS_ERR, 0, STATUS_CHKCOND, 0x01, 0xFF), false, word));
    EXPECT_EQ(word, 0x701u);
}

TEST(StatusCheck, SelectionTimeOutCountsOnlyWithOptionA) {
    uint32_t word = 5;
    EXPECT_TRUE(CheckStatus(Finished(SS_ERR, HASTAT_SEL_TO, 0), true, word));
    EXPECT_EQ(word, 0x80000000u);
    EXPECT_FALSE(CheckStatus(Finished(SS_ERR, HASTAT_SEL_TO, 0), false, word));
    EXPECT_EQ(word, 0u);
    // Not clean without CHECK CONDITION is no error: the caller repeats.
    EXPECT_FALSE(CheckStatus(Finished(SS_ERR, 0, STATUS_BUSY), true, word));
    EXPECT_EQ(word, 0u);
    EXPECT_FALSE(CheckStatus(Finished(SS_COMP, 0, 0), true, word));
}

}  // namespace
}  // namespace orvo
