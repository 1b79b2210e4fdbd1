// Requests through the ASPI layer: a thread that keeps one event for its
// requests gets each answer to its own request, also after requests that
// were not answered in time, and leaves no descriptor behind.
#include <dirent.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <chrono>
#include <cstring>
#include <memory>
#include <thread>

#include "orvo/aspi/layer.h"
#include "orvo/transport/commands.h"
#include "orvo/transport/transport.h"

namespace orvo {
namespace {

using namespace std::chrono_literals;

// Answers INQUIRY with the target number in every byte; target 7 answers
// only after 40 ms.
class EchoBackend : public aspi::Backend {
  public:
    uint32_t supportInfo() override { return (SS_COMP << 8) | 1; }
    std::string name() const override { return "echo"; }
    aspi::Reply execute(const aspi::Request& request) override {
        if (request.target == 7) std::this_thread::sleep_for(40ms);
        aspi::Reply reply;
        reply.dataIn.assign(request.transferLength, request.target);
        return reply;
    }
};

int OpenDescriptors() {
    DIR* dir = opendir("/proc/self/fd");
    if (dir == nullptr) return -1;
    int count = 0;
    while (readdir(dir) != nullptr) ++count;
    closedir(dir);
    return count;
}

// The layer closes its copy of an event just after signalling it.
bool SettlesAt(int count) {
    for (int i = 0; i < 200; ++i) {
        if (OpenDescriptors() == count) return true;
        std::this_thread::sleep_for(10ms);
    }
    return false;
}

TEST(Exchange, KeptEventAnswersEachRequestAfterTimeouts) {
    aspi::UseBackend(std::make_unique<EchoBackend>());
    const int initial = OpenDescriptors();
    ASSERT_GT(initial, 0);
    // Since the backend was installed, the layer keeps a duplicate of the
    // last event it has checked, one at most: a first request puts it in place.
    uint8_t first[kInquirySize] = {};
    ASSERT_EQ(Exchange([&](SRB_ExecSCSICmd& srb) { BuildInquiry(srb, 0, 1, first); }, 5000,
                       StatusCheck::None),
              Outcome::Completed);
    const int before = initial + 1;
    ASSERT_TRUE(SettlesAt(before)) << OpenDescriptors() << " open, " << initial << " at first";
    {
        RequestEventKeeper keeper;
        for (int i = 0; i < 60; ++i) {
            const uint8_t target = i % 10 == 9 ? 7 : static_cast<uint8_t>(i % 7);
            uint8_t reply[kInquirySize] = {};
            const Outcome o =
                Exchange([&](SRB_ExecSCSICmd& srb) { BuildInquiry(srb, 0, target, reply); },
                         target == 7 ? 5 : 5000, StatusCheck::None);
            if (target == 7) {
                EXPECT_EQ(o, Outcome::TimedOut) << i;
                continue;
            }
            ASSERT_EQ(o, Outcome::Completed) << i;
            for (uint8_t b : reply) ASSERT_EQ(b, target) << i;
        }
    }
    EXPECT_TRUE(SettlesAt(before)) << OpenDescriptors() << " open, " << before << " before";
    aspi::UseBackend(nullptr);
}

}  // namespace
}  // namespace orvo
