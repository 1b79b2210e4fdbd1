// The scanner driven over the backend interface as the host drives it:
// discovery, window, feed, polls and block reads, and each scenario fault
// where the scenario puts it.
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <thread>

#include "orvo/sim/aspi_backend.h"
#include "orvo/sim/scanner.h"

namespace orvo::sim {
namespace {

using aspi::Direction;
using aspi::Reply;
using aspi::Request;

constexpr uint8_t kTarget = 3;

Request Cmd(std::initializer_list<uint8_t> cdb, Direction dir = Direction::Out, uint32_t len = 0,
            std::vector<uint8_t> out = {}, uint8_t target = kTarget, uint8_t adapter = 0) {
    Request r;
    r.adapter = adapter;
    r.target = target;
    std::copy(cdb.begin(), cdb.end(), r.cdb.begin());
    r.cdbLength = static_cast<uint8_t>(cdb.size());
    r.direction = dir;
    r.transferLength = len;
    r.dataOut = std::move(out);
    return r;
}

struct WindowValues {
    int mode = 0, compress = 1, width = 160, lines = 40, micr = 1;
    bool frontOnly = false;
    int limit = -1;
};
std::vector<uint8_t> WindowBlock(const WindowValues& v) {
    std::vector<uint8_t> b(70, 0);
    b[7] = 70;
    std::fill(b.begin() + 10, b.begin() + 30, ' ');
    std::fill(b.begin() + 60, b.end(), ' ');
    b[10] = 'A';
    b[30] = 5;
    b[31] = v.frontOnly ? 1 : 0;
    b[35] = static_cast<uint8_t>(v.micr);
    b[37] = static_cast<uint8_t>(v.mode);
    b[40] = static_cast<uint8_t>(v.compress);
    b[42] = 128;
    b[46] = static_cast<uint8_t>(v.width >> 8);
    b[47] = static_cast<uint8_t>(v.width);
    if (v.limit >= 0) {
        b[48] = static_cast<uint8_t>(0x80 | (v.limit >> 8));
        b[49] = static_cast<uint8_t>(v.limit);
    }
    b[50] = 0x34;
    b[51] = 0x56;
    b[52] = 0x12;
    b[53] = static_cast<uint8_t>(v.lines >> 8);
    b[54] = static_cast<uint8_t>(v.lines);
    return b;
}

Request SetWindow(const WindowValues& v) {
    return Cmd({0x24, 0, 0, 0, 0, 0, 0, 0, 0x46, 0}, Direction::Out, 70, WindowBlock(v));
}
Request Poll() {
    return Cmd({0x34, 0, 0, 0, 0, 0, 0, 0, 0x0C, 0}, Direction::In, 12);
}
Request Read(uint32_t block) {
    uint32_t off = block * 32768;
    return Cmd({0x3C, 0x01, 0, static_cast<uint8_t>(off >> 16), static_cast<uint8_t>(off >> 8),
                static_cast<uint8_t>(off), 0, 0x28, 0, 0},
               Direction::In, 32768);
}
Request Scan() {
    return Cmd({0x1B, 0, 0, 0, 0, 0, 0, 0, 0, 0});
}
Request Tur() {
    return Cmd({0, 0, 0, 0, 0, 0, 0, 0, 0, 0});
}
Request Terminate() {
    return Cmd({0x42, 0, 0, 0, 0, 0, 0, 0, 0, 0});
}

bool Clean(const Reply& r) {
    return r.completes && r.srbStatus == 1 && r.haStat == 0 && r.targStat == 0;
}

struct Side {
    uint8_t b1 = 0, b2 = 0;
    std::string micr;
};

class Conversation : public ::testing::Test {
  protected:
    void Use(Scenario s) {
        s.latency = {0, 0, 0};
        TheScanner().SetScenario(std::move(s));
        backend_ = MakeAspiBackend();
    }
    void Start(const WindowValues& v = {}) {
        ASSERT_TRUE(Clean(backend_->execute(Tur())));
        ASSERT_TRUE(Clean(backend_->execute(SetWindow(v))));
        ASSERT_TRUE(Clean(backend_->execute(Scan())));
    }
    // Polls (bounded) until data or the end; returns byte 3, or -1 on a
    // request that did not complete cleanly (kept in last_).
    int PollOnce() {
        for (int i = 0; i < 100000; ++i) {
            last_ = backend_->execute(Poll());
            if (!Clean(last_)) return -1;
            if (last_.dataIn.size() == 12 && last_.dataIn[3] != 0) return last_.dataIn[3];
        }
        return 0;
    }
    static Side SideAt(const std::vector<uint8_t>& b) {
        Side s;
        s.b1 = b[0];
        s.b2 = b[1];
        for (size_t i = 17; i < 64 && b[i] != 0x0D; ++i) s.micr.push_back(static_cast<char>(b[i]));
        return s;
    }
    // Reads one document the way the host does: the front's blocks as its
    // header announces, then the rear's from the following block.
    std::vector<Side> ReadDocument(bool twoSided) {
        std::vector<Side> sides;
        uint32_t k = 0;
        for (int side = 0; side < (twoSided ? 2 : 1); ++side) {
            Reply first = backend_->execute(Read(k));
            EXPECT_TRUE(Clean(first));
            if (!Clean(first)) return sides;
            uint32_t n = first.dataIn[2] | (first.dataIn[3] << 8);
            sides.push_back(SideAt(first.dataIn));
            for (uint32_t i = 1; i < n; ++i) EXPECT_TRUE(Clean(backend_->execute(Read(k + i))));
            k += std::max<uint32_t>(n, 1);
        }
        return sides;
    }

    std::unique_ptr<aspi::Backend> backend_;
    Reply last_;
};

Scenario Stack(int n) {
    Scenario s;
    s.documents = DefaultStack(n);
    return s;
}

TEST_F(Conversation, DiscoveryFindsOnlyTheScanner) {
    Use(Stack(1));
    EXPECT_EQ(backend_->supportInfo(), 0x0101u);
    for (uint8_t t = 0; t < 8; ++t) {
        Reply r = backend_->execute(Cmd({0x12, 0, 0, 0, 0x38, 0}, Direction::In, 56, {}, t));
        if (t == kTarget) {
            ASSERT_TRUE(Clean(r));
            ASSERT_EQ(r.dataIn.size(), 56u);
            EXPECT_EQ(std::string(r.dataIn.begin() + 8, r.dataIn.begin() + 16), "OrvoData");
            EXPECT_EQ(std::string(r.dataIn.begin() + 16, r.dataIn.begin() + 32),
                      "QXS-7100 (QV710)");
        } else {
            EXPECT_EQ(r.srbStatus, 0x04);
            EXPECT_EQ(r.haStat, 0x11);
        }
    }
    Reply other = backend_->execute(Cmd({0x12, 0, 0, 0, 0x38, 0}, Direction::In, 56, {}, 3, 1));
    EXPECT_EQ(other.srbStatus, 0x81);
}

TEST_F(Conversation, FeedsTheStackThenReportsTheEnd) {
    Scenario s = Stack(3);
    Use(s);
    Start();
    for (int d = 0; d < 3; ++d) {
        ASSERT_EQ(PollOnce(), 0x01) << "document " << d;
        auto sides = ReadDocument(true);
        ASSERT_EQ(sides.size(), 2u);
        EXPECT_EQ(sides[0].b1, 0x55);
        EXPECT_EQ(sides[0].b2, 0x55);
        EXPECT_EQ(sides[1].b1, 0xAA);
        EXPECT_EQ(sides[1].b2, 0xAA);
        EXPECT_EQ(sides[0].micr, s.documents[static_cast<size_t>(d)].micr);
    }
    EXPECT_EQ(PollOnce(), 0x80);
    EXPECT_EQ(PollOnce(), 0x80);
    EXPECT_TRUE(Clean(backend_->execute(Terminate())));
    EXPECT_EQ(TheScanner().DocumentsAnnounced(), 3);

    auto windows = TheScanner().Windows();
    ASSERT_EQ(windows.size(), 1u);
    EXPECT_EQ(windows[0].scanWidth, 160);
    EXPECT_EQ(windows[0].scanLines[0], 40);
    EXPECT_EQ(windows[0].serialNo, 0x123456u);
    EXPECT_EQ(windows[0].endorser.substr(0, 2), "A ");
    EXPECT_EQ(windows[0].endorser.size(), 30u);
    auto log = TheScanner().CommandLog();
    ASSERT_GE(log.size(), 4u);
    EXPECT_EQ(log[0].opcode, 0x00);
    EXPECT_EQ(log[1].opcode, 0x24);
    EXPECT_EQ(log[2].opcode, 0x1B);
    EXPECT_EQ(log.back().opcode, 0x42);
}

TEST_F(Conversation, ScanCountLimitAndFrontOnly) {
    Use(Stack(5));
    WindowValues v;
    v.limit = 2;
    v.frontOnly = true;
    v.compress = 0;
    Start(v);
    for (int d = 0; d < 2; ++d) {
        ASSERT_EQ(PollOnce(), 0x01);
        Reply first = backend_->execute(Read(0));
        uint32_t n = first.dataIn[2] | (first.dataIn[3] << 8);
        Reply after = backend_->execute(Read(n));
        EXPECT_TRUE(std::all_of(after.dataIn.begin(), after.dataIn.end(), [](uint8_t b) {
            return b == 0;
        })) << "no rear side after the front";
    }
    EXPECT_EQ(PollOnce(), 0x80);
}

TEST_F(Conversation, EachScanFeedsTheStackFromItsStart) {
    Use(Stack(2));
    Start();
    ASSERT_EQ(PollOnce(), 0x01);
    std::string firstMicr = ReadDocument(true)[0].micr;
    ASSERT_TRUE(Clean(backend_->execute(Terminate())));
    ASSERT_TRUE(Clean(backend_->execute(Scan())));
    ASSERT_EQ(PollOnce(), 0x01);
    EXPECT_EQ(ReadDocument(true)[0].micr, firstMicr);
}

TEST_F(Conversation, JamAtADocument) {
    Scenario s = Stack(3);
    s.documents[1].jam = true;
    s.documents[1].jamSense = {0x01, 0};
    Use(s);
    Start();
    ASSERT_EQ(PollOnce(), 0x01);
    ReadDocument(true);
    EXPECT_EQ(PollOnce(), -1);
    EXPECT_EQ(last_.targStat, 0x02);
    ASSERT_GE(last_.sense.size(), 5u);
    EXPECT_EQ(last_.sense[3], 0x01);
    EXPECT_EQ(last_.sense[4], 0x00);
}

TEST_F(Conversation, CommandFaultsAtTheirOccurrence) {
    Scenario s = Stack(2);
    CommandFault busy;
    busy.opcode = 0x00;
    busy.count = 2;
    busy.action = FaultAction::NotClean;
    CommandFault hang;
    hang.opcode = 0x3C;
    hang.occurrence = 2;
    hang.action = FaultAction::NoCompletion;
    CommandFault cover;
    cover.opcode = 0x1B;
    cover.sense = {0, 0x01};
    s.commandFaults = {busy, hang, cover};
    Use(s);
    Reply r = backend_->execute(Tur());
    EXPECT_EQ(r.srbStatus, 0x04);
    EXPECT_EQ(r.haStat, 0);
    EXPECT_EQ(r.targStat, 0x08);
    EXPECT_FALSE(Clean(backend_->execute(Tur())));
    EXPECT_TRUE(Clean(backend_->execute(Tur())));
    ASSERT_TRUE(Clean(backend_->execute(SetWindow({}))));
    r = backend_->execute(Scan());
    EXPECT_EQ(r.targStat, 0x02);
    EXPECT_EQ(r.sense[3], 0);
    EXPECT_EQ(r.sense[4], 0x01);
    ASSERT_TRUE(Clean(backend_->execute(Scan())));
    ASSERT_EQ(PollOnce(), 0x01);
    EXPECT_TRUE(Clean(backend_->execute(Read(0))));
    EXPECT_FALSE(backend_->execute(Read(1)).completes);
    EXPECT_TRUE(backend_->execute(Read(1)).completes);

    auto log = TheScanner().CommandLog();
    int hung = 0;
    for (const auto& rec : log) hung += rec.outcome == Outcome::NoCompletion;
    EXPECT_EQ(hung, 1);
}

TEST_F(Conversation, SelectionTimeoutAndAbsentScanner) {
    Scenario s = Stack(1);
    CommandFault sel;
    sel.opcode = 0x24;
    sel.action = FaultAction::SelectionTimeout;
    s.commandFaults = {sel};
    Use(s);
    Reply r = backend_->execute(SetWindow({}));
    EXPECT_EQ(r.srbStatus, 0x04);
    EXPECT_EQ(r.haStat, 0x11);
    s.present = false;
    s.commandFaults.clear();
    Use(s);
    EXPECT_EQ(backend_->execute(Tur()).haStat, 0x11);
}

TEST_F(Conversation, SideFaultsOnceAndAlways) {
    Scenario s = Stack(1);
    s.documents[0].frontFaults.wrongMarkers = Repeat::Once;
    s.documents[0].rearFaults.noRtc = Repeat::Always;
    s.documents[0].rearFaults.claimBlocks = 1100;
    Use(s);
    WindowValues v;
    v.compress = 0;
    Start(v);
    ASSERT_EQ(PollOnce(), 0x01);
    Reply first = backend_->execute(Read(0));
    EXPECT_EQ(first.dataIn[0], 0x55);
    EXPECT_EQ(first.dataIn[1], 0xAA);
    Reply again = backend_->execute(Read(0));
    EXPECT_EQ(again.dataIn[1], 0x55) << "a re-read gets good markers";
    uint32_t n = again.dataIn[2] | (again.dataIn[3] << 8);
    Reply rear = backend_->execute(Read(n));
    EXPECT_EQ(rear.dataIn[0], 0xAA);
    EXPECT_EQ(rear.dataIn[2] | (rear.dataIn[3] << 8), 1100);
}

TEST_F(Conversation, MalformedRequestsDrawCheckConditionWithoutErrorBits) {
    Use(Stack(1));
    std::vector<Request> bad = {
        Cmd({0x24, 0, 0, 0, 0, 0, 0, 0, 0x45, 0}, Direction::Out, 69, std::vector<uint8_t>(69)),
        Cmd({0x24, 0, 0, 0, 0, 0, 0, 0, 0x46, 0}, Direction::Out, 70, std::vector<uint8_t>(70)),
        Cmd({0x3C, 0x01, 0, 0, 0, 0, 0, 0x80, 0, 0}, Direction::In, 32768),
        Cmd({0x3C, 0x01, 0, 0, 0x10, 0, 0, 0x28, 0, 0}, Direction::In, 32768),
        Cmd({0x34, 0, 0, 0, 0, 0, 0, 0, 0x0C, 0}, Direction::In, 57),
        Cmd({0x1B, 1, 0, 0, 0, 0, 0, 0, 0, 0}),
        Cmd({0x81, 0, 0, 0, 0x0C, 0}, Direction::In, 10),
        Cmd({0x55, 0, 0, 0, 0, 0}),
        Read(0),  // no document waiting
    };
    for (size_t i = 0; i < bad.size(); ++i) {
        Reply r = backend_->execute(bad[i]);
        EXPECT_EQ(r.targStat, 0x02) << i;
        ASSERT_GE(r.sense.size(), 5u) << i;
        EXPECT_EQ(r.sense[3], 0) << i;
        EXPECT_EQ(r.sense[4], 0) << i;
    }
    EXPECT_TRUE(TheScanner().Windows().empty());
}

TEST_F(Conversation, QaBlockAndActions) {
    Use(Stack(1));
    std::vector<uint8_t> qa = {1, 2, 3, 4, 5, 6, 7, 8, 9, 1, 0, 0};
    ASSERT_TRUE(Clean(backend_->execute(Cmd({0x80, 0, 0, 0, 0x0C, 0}, Direction::Out, 12, qa))));
    Reply r = backend_->execute(Cmd({0x81, 0, 0, 0, 0x0C, 0}, Direction::In, 12));
    ASSERT_TRUE(Clean(r));
    EXPECT_EQ(r.dataIn, qa);
    EXPECT_TRUE(Clean(backend_->execute(Cmd({0x41, 0, 0, 0, 0, 0, 0, 0, 0, 0}))));
    EXPECT_EQ(TheScanner().QaActions(), std::vector<uint8_t>{0x41});
    ASSERT_EQ(TheScanner().QaWrites().size(), 1u);
    EXPECT_EQ(TheScanner().QaWrites()[0][8], 9);
}

TEST_F(Conversation, TerminateAtFirstPollAndPauseBeforeADocument) {
    Scenario s = Stack(2);
    s.terminateAtFirstPoll = true;
    Use(s);
    Start();
    EXPECT_EQ(PollOnce(), 0x80);

    s.terminateAtFirstPoll = false;
    s.documents[0].pauseBeforeMs = 3600000;  // far beyond any idle time-out
    Use(s);
    Start();
    Reply r = backend_->execute(Poll());
    ASSERT_TRUE(Clean(r));
    EXPECT_EQ(r.dataIn[3], 0) << "nothing fed yet";
    EXPECT_TRUE(Clean(backend_->execute(Terminate())));
}

TEST_F(Conversation, ThePollThatAnnouncesADocumentSaysHowLongItWasReady) {
    Scenario s = Stack(3);
    s.latency = {0, 0, 0};
    Use(s);
    Start();
    for (int d = 0; d < 3; ++d) {
        ASSERT_EQ(PollOnce(), 0x01);
        ReadDocument(true);
    }
    EXPECT_EQ(PollOnce(), 0x80);
    int announced = 0;
    for (const CommandRecord& r : TheScanner().CommandLog()) {
        const bool announces = r.opcode == 0x34 && r.statusByte3 == 0x01 && r.readyForMs >= 0;
        announced += announces ? 1 : 0;
        if (!announces) {
            EXPECT_EQ(r.readyForMs, -1);
        }
    }
    // Each document is announced once; later polls while it is read say
    // nothing of its readiness.
    EXPECT_EQ(announced, 3);
}

// What the scanner promises the ASPI layer: its command time, plus the block
// time for a block read, and no bound for a poll that may announce a
// document, which first builds the document's images.
TEST_F(Conversation, AnswerBoundsFollowTheLatencies) {
    Scenario s = Stack(2);
    s.documents[0].pauseBeforeMs = 3600000;
    s.latency = {3, 7, 0};
    TheScanner().SetScenario(s);
    backend_ = MakeAspiBackend();
    EXPECT_EQ(backend_->answerBoundMs(Tur()), 3u);
    EXPECT_EQ(backend_->answerBoundMs(Poll()), 3u) << "no feed yet";
    EXPECT_EQ(backend_->answerBoundMs(Read(0)), 10u);
    Start();
    EXPECT_EQ(backend_->answerBoundMs(Poll()), 3u) << "the first document is far off";

    s.documents[0].pauseBeforeMs = 0;
    TheScanner().SetScenario(s);
    Start();
    EXPECT_EQ(backend_->answerBoundMs(Poll()), aspi::Backend::kNoAnswerBound);
    Reply r = backend_->execute(Poll());
    ASSERT_TRUE(Clean(r));
    ASSERT_EQ(r.dataIn[3], 0x01);
    EXPECT_EQ(backend_->answerBoundMs(Poll()), 3u) << "announced, not yet read";
    EXPECT_EQ(backend_->answerBoundMs(Read(1)), 10u);
    ReadDocument(true);
    EXPECT_EQ(backend_->answerBoundMs(Poll()), aspi::Backend::kNoAnswerBound)
        << "the next document may come at once";
}

TEST_F(Conversation, RecordsCanBeReadWhileTheDeviceWorks) {
    Use(Stack(4));
    std::atomic<bool> done{false};
    std::thread reader([&] {
        while (!done) {
            (void)TheScanner().CommandLog().size();
            (void)TheScanner().DocumentsAnnounced();
        }
    });
    Start();
    int docs = 0;
    while (PollOnce() == 0x01) {
        ReadDocument(true);
        ++docs;
    }
    done = true;
    reader.join();
    EXPECT_EQ(docs, 4);
}

}  // namespace
}  // namespace orvo::sim
