#include "orvo/platform/event.h"

#include <poll.h>
#include <sys/eventfd.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <climits>
#include <vector>

#include "orvo/platform/clock.h"

namespace orvo::platform {

namespace {

using SteadyClock = std::chrono::steady_clock;

// Takes the signal of an event; false when someone else took it first.
bool Consume(int event) {
    uint64_t value = 0;
    for (;;) {
        ssize_t n = read(event, &value, sizeof value);
        if (n == static_cast<ssize_t>(sizeof value)) return true;
        if (n < 0 && errno == EINTR) continue;
        return false;
    }
}

// Real milliseconds left before `deadline`, clipped to what poll() accepts;
// -1 waits forever.
int PollTimeout(bool infinite, SteadyClock::time_point deadline) {
    if (infinite) return -1;
    // Rounded up: a wait that rounded the last fraction of a millisecond down
    // to 0 would spin until the deadline.
    const auto rest = deadline - SteadyClock::now();
    if (rest <= SteadyClock::duration::zero()) return 0;
    auto left = std::chrono::ceil<std::chrono::milliseconds>(rest).count();
    if (left > INT_MAX) return INT_MAX;
    return static_cast<int>(left);
}

}  // namespace

int CreateEvent() {
    return eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
}

void SetEvent(int event) {
    if (event < 0) return;
    const uint64_t one = 1;
    for (;;) {
        ssize_t n = write(event, &one, sizeof one);
        // EAGAIN means the counter is full: the event is signalled already.
        if (n < 0 && errno == EINTR) continue;
        return;
    }
}

WaitResult WaitForEvent(int event, uint32_t ms) {
    int index = WaitForAnyEvent({event}, ms);
    if (index == 0) return WaitResult::Signalled;
    if (index == -1) return WaitResult::TimedOut;
    return WaitResult::Failed;
}

int WaitForAnyEvent(std::initializer_list<int> events, uint32_t ms) {
    if (events.size() == 0) return -2;
    std::vector<pollfd> fds;
    fds.reserve(events.size());
    for (int event : events) {
        if (event < 0) return -2;
        fds.push_back(pollfd{event, POLLIN, 0});
    }
    const bool infinite = ms == kInfinite;
    const auto deadline = SteadyClock::now() + std::chrono::milliseconds(infinite ? 0 : RealMs(ms));
    for (;;) {
        for (auto& fd : fds) fd.revents = 0;
        int ready = poll(fds.data(), fds.size(), PollTimeout(infinite, deadline));
        if (ready < 0) {
            if (errno == EINTR) continue;
            return -2;
        }
        for (std::size_t i = 0; i < fds.size(); ++i) {
            if (fds[i].revents & (POLLNVAL | POLLERR)) return -2;
            if ((fds[i].revents & POLLIN) && Consume(fds[i].fd)) return static_cast<int>(i);
        }
        // Nothing ready, or another waiter took the signal: wait on unless the
        // time is up.
        if (!infinite && SteadyClock::now() >= deadline) return -1;
    }
}

void CloseEvent(int event) {
    if (event >= 0) close(event);
}

}  // namespace orvo::platform
