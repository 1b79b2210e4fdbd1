#include "orvo/aspi/layer.h"

#include <unistd.h>

#include <gtest/gtest.h>

#include <chrono>
#include <condition_variable>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

#include "orvo/platform/event.h"
#include "orvo/testing/temp_dir.h"
#include "wnaspi32.h"

namespace orvo::aspi {
namespace {

using platform::CloseEvent;
using platform::CreateEvent;
using platform::WaitForEvent;
using platform::WaitResult;
using namespace std::chrono_literals;

// What the fake device does, shared between the test and its backend.
struct Device {
    std::mutex mutex;
    std::condition_variable changed;
    std::vector<Request> seen;
    int executing = 0;
    bool gateClosed = false;  // execute() waits until the test opens the gate
    Reply reply;
    uint32_t bound = Backend::kNoAnswerBound;  // what answerBoundMs() promises
    std::vector<std::thread::id> threads;      // where each request was executed

    void closeGate() {
        std::lock_guard lock(mutex);
        gateClosed = true;
    }
    void openGate() {
        std::lock_guard lock(mutex);
        gateClosed = false;
        changed.notify_all();
    }
    // Waits (bounded) until the device has started `count` requests.
    bool waitForStarted(std::size_t count) {
        std::unique_lock lock(mutex);
        return changed.wait_for(lock, 10s, [&] { return seen.size() >= count; });
    }
};

class FakeBackend : public Backend {
  public:
    FakeBackend(std::shared_ptr<Device> device, uint32_t info) : device_(device), info_(info) {}
    uint32_t supportInfo() override { return info_; }
    std::string name() const override { return "fake"; }
    Reply execute(const Request& request) override {
        std::unique_lock lock(device_->mutex);
        device_->seen.push_back(request);
        device_->threads.push_back(std::this_thread::get_id());
        ++device_->executing;
        device_->changed.notify_all();
        device_->changed.wait_for(lock, 20s, [&] { return !device_->gateClosed; });
        --device_->executing;
        return device_->reply;
    }
    uint32_t answerBoundMs(const Request&) override {
        std::lock_guard lock(device_->mutex);
        return device_->bound;
    }

  private:
    std::shared_ptr<Device> device_;
    uint32_t info_;
};

// Withdraws `srb` with SC_ABORT_SRB; returns what the layer answers.
uint32_t Abort(SRB_ExecSCSICmd* srb) {
    SRB_Abort abort{};
    abort.SRB_Cmd = SC_ABORT_SRB;
    abort.SRB_HaId = srb->SRB_HaId;
    abort.SRB_ToAbort = srb;
    return SendASPI32Command(&abort);
}

uint8_t Status(const SRB_ExecSCSICmd& srb) {
    return __atomic_load_n(&srb.SRB_Status, __ATOMIC_ACQUIRE);
}

class LayerTest : public ::testing::Test {
  protected:
    void SetUp() override {
        device_ = std::make_shared<Device>();
        UseBackend(std::make_unique<FakeBackend>(device_, (SS_COMP << 8) | 2));
        event_ = CreateEvent();
        ASSERT_GE(event_, 0);
    }
    void TearDown() override {
        device_->openGate();
        UseBackend(nullptr);
        CloseEvent(event_);
    }

    static void Fill(SRB_ExecSCSICmd* srb, uint8_t flags, uint8_t* buffer, uint32_t length,
                     int event) {
        std::memset(srb, 0, sizeof *srb);
        srb->SRB_Cmd = SC_EXEC_SCSI_CMD;
        srb->SRB_HaId = 1;
        srb->SRB_Flags = flags | SRB_EVENT_NOTIFY;
        srb->SRB_Target = 3;
        srb->SRB_BufLen = length;
        srb->SRB_BufPointer = buffer;
        srb->SRB_SenseLen = 128;
        srb->SRB_CDBLen = 6;
        srb->SRB_PostProc = ORVO_ASPI_EVENT_HANDLE(event);
        const uint8_t inquiry[6] = {0x12, 0, 0, 0, 0x38, 0};
        std::memcpy(srb->CDBByte, inquiry, sizeof inquiry);
    }

    // Runs one request that the device answers at once, to be sure every
    // earlier request has been dealt with by the dispatcher.
    void Flush() {
        int event = CreateEvent();
        SRB_ExecSCSICmd srb;
        Fill(&srb, SRB_DIR_OUT, nullptr, 0, event);
        {
            std::lock_guard lock(device_->mutex);
            device_->reply = Reply{};
        }
        ASSERT_EQ(SendASPI32Command(&srb), SS_PENDING);
        ASSERT_EQ(WaitForEvent(event, 10000), WaitResult::Signalled);
        CloseEvent(event);
    }

    std::shared_ptr<Device> device_;
    int event_ = -1;
};

TEST_F(LayerTest, CompletionFillsTheBlockAndSignalsTheEvent) {
    device_->reply.dataIn.assign(100, 0xAB);
    uint8_t buffer[60];
    std::memset(buffer, 0x11, sizeof buffer);
    SRB_ExecSCSICmd srb;
    Fill(&srb, SRB_DIR_IN, buffer, 56, event_);

    EXPECT_EQ(GetASPI32SupportInfo(), (SS_COMP << 8) | 2u);
    EXPECT_EQ(BackendName(), "fake");
    ASSERT_EQ(SendASPI32Command(&srb), SS_PENDING);
    ASSERT_EQ(WaitForEvent(event_, 10000), WaitResult::Signalled);
    EXPECT_EQ(Status(srb), SS_COMP);
    EXPECT_EQ(srb.SRB_HaStat, 0);
    EXPECT_EQ(srb.SRB_TargStat, 0);
    for (int i = 0; i < 56; ++i) ASSERT_EQ(buffer[i], 0xAB) << i;
    for (int i = 56; i < 60; ++i) ASSERT_EQ(buffer[i], 0x11) << "written past SRB_BufLen";

    ASSERT_EQ(device_->seen.size(), 1u);
    const Request& request = device_->seen[0];
    EXPECT_EQ(request.adapter, 1);
    EXPECT_EQ(request.target, 3);
    EXPECT_EQ(request.lun, 0);
    EXPECT_EQ(request.cdbLength, 6);
    EXPECT_EQ(request.cdb[0], 0x12);
    EXPECT_EQ(request.cdb[4], 0x38);
    EXPECT_EQ(request.direction, Direction::In);
    EXPECT_EQ(request.transferLength, 56u);
}

TEST_F(LayerTest, DataOutIsCopiedAtSubmission) {
    device_->closeGate();
    uint8_t buffer[12];
    std::memset(buffer, 0x5A, sizeof buffer);
    SRB_ExecSCSICmd srb;
    Fill(&srb, SRB_DIR_OUT, buffer, sizeof buffer, event_);
    ASSERT_EQ(SendASPI32Command(&srb), SS_PENDING);
    EXPECT_EQ(Status(srb), SS_PENDING);
    std::memset(buffer, 0, sizeof buffer);  // the caller changes its buffer meanwhile
    device_->openGate();
    ASSERT_EQ(WaitForEvent(event_, 10000), WaitResult::Signalled);
    ASSERT_EQ(device_->seen.size(), 1u);
    EXPECT_EQ(device_->seen[0].direction, Direction::Out);
    EXPECT_EQ(device_->seen[0].dataOut, std::vector<uint8_t>(12, 0x5A));
}

TEST_F(LayerTest, SenseIsDeliveredOnCheckConditionWithinBothLimits) {
    device_->reply.srbStatus = SS_ERR;
    device_->reply.targStat = STATUS_CHKCOND;
    device_->reply.sense.assign(200, 0x70);
    SRB_ExecSCSICmd srb;
    Fill(&srb, SRB_DIR_OUT, nullptr, 0, event_);
    srb.SRB_SenseLen = 255;
    ASSERT_EQ(SendASPI32Command(&srb), SS_PENDING);
    ASSERT_EQ(WaitForEvent(event_, 10000), WaitResult::Signalled);
    EXPECT_EQ(Status(srb), SS_ERR);
    EXPECT_EQ(srb.SRB_TargStat, STATUS_CHKCOND);
    for (int i = 0; i < ORVO_ASPI_SENSE_LEN; ++i) ASSERT_EQ(srb.SenseArea[i], 0x70) << i;
    EXPECT_EQ(srb.SenseArea[ORVO_ASPI_SENSE_LEN], 0);
    EXPECT_EQ(srb.SenseArea[ORVO_ASPI_SENSE_LEN + 1], 0);

    Fill(&srb, SRB_DIR_OUT, nullptr, 0, event_);
    srb.SRB_SenseLen = 18;
    ASSERT_EQ(SendASPI32Command(&srb), SS_PENDING);
    ASSERT_EQ(WaitForEvent(event_, 10000), WaitResult::Signalled);
    EXPECT_EQ(srb.SenseArea[17], 0x70);
    EXPECT_EQ(srb.SenseArea[18], 0);
}

TEST_F(LayerTest, SenseIsLeftAloneWithoutCheckCondition) {
    device_->reply.srbStatus = SS_ERR;
    device_->reply.haStat = HASTAT_SEL_TO;
    device_->reply.sense.assign(18, 0x70);
    SRB_ExecSCSICmd srb;
    Fill(&srb, SRB_DIR_OUT, nullptr, 0, event_);
    ASSERT_EQ(SendASPI32Command(&srb), SS_PENDING);
    ASSERT_EQ(WaitForEvent(event_, 10000), WaitResult::Signalled);
    EXPECT_EQ(Status(srb), SS_ERR);
    EXPECT_EQ(srb.SRB_HaStat, HASTAT_SEL_TO);
    EXPECT_EQ(srb.SenseArea[0], 0);
}

TEST_F(LayerTest, RequestsRefusedAtOnceStillSignal) {
    SRB_ExecSCSICmd srb;
    Fill(&srb, SRB_DIR_OUT, nullptr, 0, event_);
    srb.SRB_HaId = 2;  // two adapters: 0 and 1
    EXPECT_EQ(SendASPI32Command(&srb), SS_INVALID_HA);
    EXPECT_EQ(Status(srb), SS_INVALID_HA);
    EXPECT_EQ(WaitForEvent(event_, 0), WaitResult::Signalled);

    Fill(&srb, SRB_DIR_IN, nullptr, 56, event_);  // data wanted, but no buffer
    EXPECT_EQ(SendASPI32Command(&srb), SS_INVALID_SRB);
    EXPECT_EQ(WaitForEvent(event_, 0), WaitResult::Signalled);

    Fill(&srb, SRB_DIR_OUT, nullptr, 0, event_);
    srb.SRB_CDBLen = 17;
    EXPECT_EQ(SendASPI32Command(&srb), SS_INVALID_SRB);
    EXPECT_EQ(WaitForEvent(event_, 0), WaitResult::Signalled);

    int closed = CreateEvent();
    CloseEvent(closed);
    Fill(&srb, SRB_DIR_OUT, nullptr, 0, closed);  // not an open event
    EXPECT_EQ(SendASPI32Command(&srb), SS_INVALID_SRB);

    // A descriptor that is no event is never written to.
    char path[] = "/tmp/orvo-aspi-file-XXXXXX";
    int file = mkstemp(path);
    ASSERT_GE(file, 0);
    unlink(path);
    Fill(&srb, SRB_DIR_OUT, nullptr, 0, file);
    EXPECT_EQ(SendASPI32Command(&srb), SS_INVALID_SRB);
    EXPECT_EQ(lseek(file, 0, SEEK_END), 0);
    close(file);

    uint8_t unknown[16] = {0x07};
    EXPECT_EQ(SendASPI32Command(unknown), SS_INVALID_CMD);
    EXPECT_EQ(unknown[1], SS_INVALID_CMD);
    EXPECT_EQ(SendASPI32Command(nullptr), SS_INVALID_SRB);
    EXPECT_TRUE(device_->seen.empty());
}

// An event accepted once and then closed: a file that takes its number is
// refused and never written to, however often the event was used before.
TEST_F(LayerTest, AFileInTheNumberOfAnEarlierEventIsRefused) {
    device_->bound = 0;
    int event = CreateEvent();
    SRB_ExecSCSICmd srb;
    for (int i = 0; i < 3; ++i) {
        Fill(&srb, SRB_DIR_OUT, nullptr, 0, event);
        ASSERT_EQ(SendASPI32Command(&srb), SS_COMP);
        ASSERT_EQ(WaitForEvent(event, 0), WaitResult::Signalled);
    }
    char path[] = "/tmp/orvo-aspi-file-XXXXXX";
    const int file = mkstemp(path);
    ASSERT_GE(file, 0);
    unlink(path);
    ASSERT_EQ(dup2(file, event), event);  // closes the event, the file takes its number
    Fill(&srb, SRB_DIR_OUT, nullptr, 0, event);
    EXPECT_EQ(SendASPI32Command(&srb), SS_INVALID_SRB);
    EXPECT_EQ(lseek(file, 0, SEEK_END), 0);
    close(event);
    close(file);

    // A new event in that number is taken again.
    event = CreateEvent();
    Fill(&srb, SRB_DIR_OUT, nullptr, 0, event);
    EXPECT_EQ(SendASPI32Command(&srb), SS_COMP);
    EXPECT_EQ(WaitForEvent(event, 0), WaitResult::Signalled);
    CloseEvent(event);
    EXPECT_EQ(device_->seen.size(), 4u);
}

TEST_F(LayerTest, AbortOfABlockWithNothingPendingFails) {
    SRB_ExecSCSICmd idle;
    Fill(&idle, SRB_DIR_OUT, nullptr, 0, event_);
    SRB_Abort abort{};
    abort.SRB_Cmd = SC_ABORT_SRB;
    abort.SRB_ToAbort = &idle;
    EXPECT_EQ(SendASPI32Command(&abort), SS_ABORT_FAIL);
    EXPECT_EQ(abort.SRB_Status, SS_ABORT_FAIL);
    abort.SRB_ToAbort = nullptr;
    EXPECT_EQ(SendASPI32Command(&abort), SS_ABORT_FAIL);

    // A completed request has nothing pending either.
    ASSERT_EQ(SendASPI32Command(&idle), SS_PENDING);
    ASSERT_EQ(WaitForEvent(event_, 10000), WaitResult::Signalled);
    abort.SRB_ToAbort = &idle;
    EXPECT_EQ(SendASPI32Command(&abort), SS_ABORT_FAIL);
    EXPECT_EQ(Status(idle), SS_COMP);
}

// The device never answers; the caller gives up, aborts, frees its buffer and
// block and closes its event. The layer must touch none of them afterwards.
TEST_F(LayerTest, NeverAnsweredRequestIsWithdrawnByAbort) {
    device_->reply.completes = false;
    auto* srb = new SRB_ExecSCSICmd;
    auto* buffer = new uint8_t[32768];
    Fill(srb, SRB_DIR_IN, buffer, 32768, event_);
    ASSERT_EQ(SendASPI32Command(srb), SS_PENDING);
    ASSERT_TRUE(device_->waitForStarted(1));
    EXPECT_EQ(WaitForEvent(event_, 50), WaitResult::TimedOut);
    Flush();  // the unanswered request stays pending meanwhile
    EXPECT_EQ(Status(*srb), SS_PENDING);

    SRB_Abort abort{};
    abort.SRB_Cmd = SC_ABORT_SRB;
    abort.SRB_ToAbort = srb;
    EXPECT_EQ(SendASPI32Command(&abort), SS_COMP);
    EXPECT_EQ(abort.SRB_Status, SS_COMP);
    EXPECT_EQ(Status(*srb), SS_ABORTED);
    EXPECT_EQ(SendASPI32Command(&abort), SS_ABORT_FAIL);
    delete[] buffer;
    delete srb;
    Flush();
    EXPECT_EQ(WaitForEvent(event_, 0), WaitResult::TimedOut);
}

// The caller timed out and aborted while the device was still working on the
// request, then freed everything; the late answer must go nowhere.
TEST_F(LayerTest, LateAnswerAfterAbortIsDiscarded) {
    device_->closeGate();
    device_->reply.dataIn.assign(32768, 0xEE);
    device_->reply.targStat = STATUS_CHKCOND;
    device_->reply.sense.assign(18, 0x70);
    auto* srb = new SRB_ExecSCSICmd;
    auto* buffer = new uint8_t[32768];
    int event = CreateEvent();
    Fill(srb, SRB_DIR_IN, buffer, 32768, event);
    ASSERT_EQ(SendASPI32Command(srb), SS_PENDING);
    ASSERT_TRUE(device_->waitForStarted(1));
    EXPECT_EQ(WaitForEvent(event, 20), WaitResult::TimedOut);

    EXPECT_EQ(Abort(srb), SS_COMP);
    delete[] buffer;
    delete srb;
    CloseEvent(event);
    int reused = CreateEvent();  // most likely the same descriptor number

    device_->openGate();
    Flush();
    EXPECT_EQ(WaitForEvent(reused, 0), WaitResult::TimedOut);
    CloseEvent(reused);
}

// A caller that closes its event without aborting never gets a stranger's
// event signalled in its place.
TEST_F(LayerTest, ClosedCallerEventIsNeverConfusedWithANewOne) {
    device_->closeGate();
    SRB_ExecSCSICmd srb;
    int event = CreateEvent();
    Fill(&srb, SRB_DIR_OUT, nullptr, 0, event);
    ASSERT_EQ(SendASPI32Command(&srb), SS_PENDING);
    ASSERT_TRUE(device_->waitForStarted(1));
    CloseEvent(event);
    int reused = CreateEvent();
    device_->openGate();
    for (int i = 0; i < 1000 && Status(srb) == SS_PENDING; ++i) {
        std::this_thread::sleep_for(10ms);
    }
    EXPECT_EQ(Status(srb), SS_COMP);
    EXPECT_EQ(WaitForEvent(reused, 0), WaitResult::TimedOut);
    CloseEvent(reused);
}

TEST_F(LayerTest, ResubmittingAPendingBlockWithdrawsTheEarlierRequest) {
    device_->closeGate();
    device_->reply.dataIn.assign(64, 0xC3);
    SRB_ExecSCSICmd srb;
    auto* first = new uint8_t[64];
    std::memset(first, 0, 64);
    int firstEvent = CreateEvent();
    Fill(&srb, SRB_DIR_IN, first, 64, firstEvent);
    ASSERT_EQ(SendASPI32Command(&srb), SS_PENDING);
    ASSERT_TRUE(device_->waitForStarted(1));

    uint8_t second[64] = {};
    Fill(&srb, SRB_DIR_IN, second, 64, event_);
    srb.CDBByte[0] = 0x34;
    ASSERT_EQ(SendASPI32Command(&srb), SS_PENDING);
    delete[] first;  // the earlier request's buffer is no longer the layer's

    device_->openGate();
    ASSERT_EQ(WaitForEvent(event_, 10000), WaitResult::Signalled);
    EXPECT_EQ(Status(srb), SS_COMP);
    EXPECT_EQ(second[63], 0xC3);
    EXPECT_EQ(WaitForEvent(firstEvent, 0), WaitResult::TimedOut);
    CloseEvent(firstEvent);
    ASSERT_EQ(device_->seen.size(), 2u);
    EXPECT_EQ(device_->seen[1].cdb[0], 0x34);
}

TEST_F(LayerTest, ReplacingTheBackendEndsQueuedRequests) {
    device_->closeGate();
    SRB_ExecSCSICmd running;
    SRB_ExecSCSICmd queued;
    int queuedEvent = CreateEvent();
    Fill(&running, SRB_DIR_OUT, nullptr, 0, event_);
    Fill(&queued, SRB_DIR_OUT, nullptr, 0, queuedEvent);
    ASSERT_EQ(SendASPI32Command(&running), SS_PENDING);
    ASSERT_TRUE(device_->waitForStarted(1));
    ASSERT_EQ(SendASPI32Command(&queued), SS_PENDING);

    std::thread opener([this] {
        std::this_thread::sleep_for(20ms);
        device_->openGate();
    });
    auto next = std::make_shared<Device>();
    UseBackend(std::make_unique<FakeBackend>(next, (SS_COMP << 8) | 1));
    opener.join();
    EXPECT_EQ(WaitForEvent(event_, 10000), WaitResult::Signalled);
    EXPECT_EQ(Status(running), SS_COMP);  // finished on the old device
    EXPECT_EQ(WaitForEvent(queuedEvent, 10000), WaitResult::Signalled);
    EXPECT_EQ(Status(queued), SS_ABORTED);
    EXPECT_EQ(GetASPI32SupportInfo(), (SS_COMP << 8) | 1u);
    EXPECT_TRUE(next->seen.empty());
    CloseEvent(queuedEvent);
}

// A device that promises a quick answer is answered on the submitting
// thread: SendASPI32Command returns the final status, with the block filled
// and the event signalled as for any other request.
TEST_F(LayerTest, APromptAnswerIsGivenOnTheSubmittingThread) {
    device_->bound = 20;
    device_->reply.dataIn.assign(100, 0xAB);
    uint8_t buffer[60];
    std::memset(buffer, 0x11, sizeof buffer);
    SRB_ExecSCSICmd srb;
    Fill(&srb, SRB_DIR_IN, buffer, 56, event_);
    ASSERT_EQ(SendASPI32Command(&srb), SS_COMP);
    EXPECT_EQ(Status(srb), SS_COMP);
    EXPECT_EQ(WaitForEvent(event_, 0), WaitResult::Signalled);
    EXPECT_EQ(buffer[55], 0xAB);
    EXPECT_EQ(buffer[56], 0x11) << "written past SRB_BufLen";

    // A failure is the final status too, with its sense.
    device_->reply.srbStatus = SS_ERR;
    device_->reply.targStat = STATUS_CHKCOND;
    device_->reply.sense.assign(18, 0x70);
    Fill(&srb, SRB_DIR_IN, buffer, 56, event_);
    ASSERT_EQ(SendASPI32Command(&srb), SS_ERR);
    EXPECT_EQ(srb.SenseArea[17], 0x70);
    EXPECT_EQ(WaitForEvent(event_, 0), WaitResult::Signalled);

    // Beyond the bound, or without a promise, the dispatcher answers.
    device_->bound = 21;
    device_->reply = Reply{};
    Fill(&srb, SRB_DIR_IN, buffer, 56, event_);
    ASSERT_EQ(SendASPI32Command(&srb), SS_PENDING);
    ASSERT_EQ(WaitForEvent(event_, 10000), WaitResult::Signalled);
    EXPECT_EQ(Status(srb), SS_COMP);

    ASSERT_EQ(device_->threads.size(), 3u);
    EXPECT_EQ(device_->threads[0], std::this_thread::get_id());
    EXPECT_EQ(device_->threads[1], std::this_thread::get_id());
    EXPECT_NE(device_->threads[2], std::this_thread::get_id());
}

// One request at a time, in the order submitted: a prompt request submitted
// while another is executed waits for the dispatcher.
TEST_F(LayerTest, APromptRequestWaitsBehindTheOneInProgress) {
    device_->closeGate();
    SRB_ExecSCSICmd slow;
    SRB_ExecSCSICmd prompt;
    int promptEvent = CreateEvent();
    Fill(&slow, SRB_DIR_OUT, nullptr, 0, event_);
    Fill(&prompt, SRB_DIR_OUT, nullptr, 0, promptEvent);
    prompt.CDBByte[0] = 0x34;
    ASSERT_EQ(SendASPI32Command(&slow), SS_PENDING);
    ASSERT_TRUE(device_->waitForStarted(1));
    {
        std::lock_guard lock(device_->mutex);
        device_->bound = 0;
    }
    ASSERT_EQ(SendASPI32Command(&prompt), SS_PENDING);
    EXPECT_EQ(Status(prompt), SS_PENDING);
    device_->openGate();
    ASSERT_EQ(WaitForEvent(event_, 10000), WaitResult::Signalled);
    ASSERT_EQ(WaitForEvent(promptEvent, 10000), WaitResult::Signalled);
    EXPECT_EQ(Status(prompt), SS_COMP);
    ASSERT_EQ(device_->seen.size(), 2u);
    EXPECT_EQ(device_->seen[0].cdb[0], 0x12);
    EXPECT_EQ(device_->seen[1].cdb[0], 0x34);
    EXPECT_NE(device_->threads[1], std::this_thread::get_id());
    CloseEvent(promptEvent);

    // Requests from another thread during a prompt answer wait for it too.
    device_->closeGate();
    promptEvent = CreateEvent();
    Fill(&prompt, SRB_DIR_OUT, nullptr, 0, promptEvent);
    std::thread submitter([&] { EXPECT_EQ(SendASPI32Command(&prompt), SS_COMP); });
    ASSERT_TRUE(device_->waitForStarted(3));
    Fill(&slow, SRB_DIR_OUT, nullptr, 0, event_);
    ASSERT_EQ(SendASPI32Command(&slow), SS_PENDING);
    EXPECT_EQ(WaitForEvent(event_, 50), WaitResult::TimedOut);
    {
        std::lock_guard lock(device_->mutex);
        EXPECT_EQ(device_->executing, 1);
    }
    device_->openGate();
    submitter.join();
    ASSERT_EQ(WaitForEvent(event_, 10000), WaitResult::Signalled);
    EXPECT_EQ(device_->seen.size(), 4u);
    CloseEvent(promptEvent);
}

// An abort from another thread while the submitting thread waits for a
// prompt answer withdraws the block: the answer is not written into it.
TEST_F(LayerTest, AnAbortDuringAPromptAnswerLeavesTheBlockAlone) {
    device_->bound = 0;
    device_->closeGate();
    device_->reply.dataIn.assign(64, 0xC3);
    uint8_t buffer[64] = {};
    SRB_ExecSCSICmd srb;
    Fill(&srb, SRB_DIR_IN, buffer, sizeof buffer, event_);
    uint32_t submitted = 0;
    std::thread submitter([&] { submitted = SendASPI32Command(&srb); });
    ASSERT_TRUE(device_->waitForStarted(1));
    EXPECT_EQ(Abort(&srb), SS_COMP);
    EXPECT_EQ(Status(srb), SS_ABORTED);
    device_->openGate();
    submitter.join();
    EXPECT_EQ(submitted, SS_ABORTED);
    EXPECT_EQ(Status(srb), SS_ABORTED);
    EXPECT_EQ(buffer[0], 0);
    EXPECT_EQ(WaitForEvent(event_, 0), WaitResult::TimedOut);
}

// A prompt request the device never answers stays pending until it is
// aborted, and the layer goes on serving.
TEST_F(LayerTest, APromptRequestNeverAnsweredStaysPending) {
    device_->bound = 0;
    device_->reply.completes = false;
    SRB_ExecSCSICmd srb;
    Fill(&srb, SRB_DIR_OUT, nullptr, 0, event_);
    ASSERT_EQ(SendASPI32Command(&srb), SS_PENDING);
    EXPECT_EQ(Status(srb), SS_PENDING);
    EXPECT_EQ(WaitForEvent(event_, 20), WaitResult::TimedOut);
    EXPECT_EQ(Abort(&srb), SS_COMP);
    EXPECT_EQ(Status(srb), SS_ABORTED);

    device_->reply = Reply{};
    Fill(&srb, SRB_DIR_OUT, nullptr, 0, event_);
    EXPECT_EQ(SendASPI32Command(&srb), SS_COMP);
}

// Restores ORVOSCAN_ASPI and lets the layer choose again.
class BackendChoiceTest : public ::testing::Test {
  protected:
    void SetUp() override {
        const char* old = std::getenv("ORVOSCAN_ASPI");
        hadOld_ = old != nullptr;
        if (hadOld_) old_ = old;
        setenv("ORVOSCAN_SYSFS_ROOT", emptyRoot_.c_str(), 1);
        UseBackend(nullptr);
    }
    void TearDown() override {
        if (hadOld_) {
            setenv("ORVOSCAN_ASPI", old_.c_str(), 1);
        } else {
            unsetenv("ORVOSCAN_ASPI");
        }
        unsetenv("ORVOSCAN_SYSFS_ROOT");
        UseBackend(nullptr);
    }
    bool hadOld_ = false;
    std::string old_;
    const orvo::testing::TempDir emptyDir_{"orvo-aspi"};
    const std::string emptyRoot_ = emptyDir_.path();
};

TEST_F(BackendChoiceTest, SgIsTheDefault) {
    unsetenv("ORVOSCAN_ASPI");
    EXPECT_EQ(BackendName(), "sg");
    EXPECT_EQ(GetASPI32SupportInfo(), static_cast<uint32_t>(SS_NO_ADAPTERS) << 8);
    UseBackend(nullptr);
    setenv("ORVOSCAN_ASPI", "sg", 1);
    EXPECT_EQ(BackendName(), "sg");
}

TEST_F(BackendChoiceTest, UnknownBackendFailsInitialisation) {
    setenv("ORVOSCAN_ASPI", "parallel-port", 1);
    EXPECT_EQ(GetASPI32SupportInfo(), static_cast<uint32_t>(SS_FAILED_INIT) << 8);
    EXPECT_EQ(BackendName(), "");
    int event = CreateEvent();
    SRB_ExecSCSICmd srb{};
    srb.SRB_Cmd = SC_EXEC_SCSI_CMD;
    srb.SRB_Flags = SRB_DIR_OUT | SRB_EVENT_NOTIFY;
    srb.SRB_CDBLen = 6;
    srb.SRB_PostProc = ORVO_ASPI_EVENT_HANDLE(event);
    EXPECT_EQ(SendASPI32Command(&srb), SS_INVALID_HA);
    EXPECT_EQ(WaitForEvent(event, 0), WaitResult::Signalled);
    CloseEvent(event);
}

TEST_F(BackendChoiceTest, SimIsAvailableOrFailsInitialisation) {
    setenv("ORVOSCAN_ASPI", "sim", 1);
    const std::string name = BackendName();
    if (name.empty()) {
        EXPECT_EQ(GetASPI32SupportInfo() >> 8, static_cast<uint32_t>(SS_FAILED_INIT));
    } else {
        EXPECT_NE(name, "sg");
    }
}

}  // namespace
}  // namespace orvo::aspi

namespace orvo::aspi {
namespace {

// A device some other process has, and one this process may have.
class LockingBackend : public Backend {
  public:
    uint32_t supportInfo() override { return (SS_COMP << 8) | 2; }
    std::string name() const override { return "locking"; }
    Reply execute(const Request&) override { return Reply{}; }
    DeviceLock lockDevice(uint8_t adapter, uint8_t target, uint8_t, std::string* holder) override {
        if (target == 7) return DeviceLock::NoDevice;
        if (adapter == 0) return DeviceLock::Held;
        *holder = "pid 4242 (someone-with-a-long-name)";
        return DeviceLock::Busy;
    }
    void unlockDevice(uint8_t, uint8_t, uint8_t) override { ++unlocked; }
    int unlocked = 0;
};

TEST(LayerLock, ResultsAndTheHolderOfTheDevice) {
    auto owned = std::make_unique<LockingBackend>();
    LockingBackend* backend = owned.get();
    UseBackend(std::move(owned));
    char holder[16];
    std::memset(holder, 'x', sizeof holder);
    EXPECT_EQ(OrvoAspiLockDevice(0, 3, 0, holder, sizeof holder), SS_COMP);
    EXPECT_EQ(OrvoAspiLockDevice(1, 3, 0, holder, sizeof holder), SS_ERR);
    EXPECT_STREQ(holder, "pid 4242 (someo");  // cut to the buffer
    EXPECT_EQ(OrvoAspiLockDevice(1, 3, 0, nullptr, 0), SS_ERR);
    EXPECT_EQ(OrvoAspiLockDevice(0, 7, 0, holder, sizeof holder), SS_NO_DEVICE);
    EXPECT_EQ(OrvoAspiLockDevice(2, 3, 0, holder, sizeof holder), SS_NO_DEVICE);  // no adapter 2
    EXPECT_EQ(OrvoAspiUnlockDevice(0, 3, 0), SS_COMP);
    EXPECT_EQ(backend->unlocked, 1);
    UseBackend(nullptr);
}

}  // namespace
}  // namespace orvo::aspi
