#include "stop_signals.h"

#include <poll.h>
#include <signal.h>
#include <sys/eventfd.h>
#include <sys/signalfd.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <cstring>

namespace orvoscan {

namespace {

sigset_t StopSet() {
    sigset_t set;
    sigemptyset(&set);
    sigaddset(&set, SIGINT);
    sigaddset(&set, SIGTERM);
    sigaddset(&set, SIGHUP);
    return set;
}

void Say(const char* text) {
    // Only async-signal-safe calls on the way out.
    const ssize_t ignored = ::write(STDERR_FILENO, text, std::strlen(text));
    (void)ignored;
}

}  // namespace

StopSignals::StopSignals() {
    const sigset_t set = StopSet();
    if (pthread_sigmask(SIG_BLOCK, &set, nullptr) != 0) return;
    signalFd_ = ::signalfd(-1, &set, SFD_CLOEXEC);
    quitFd_ = ::eventfd(0, EFD_CLOEXEC);
    if (signalFd_ < 0 || quitFd_ < 0) {
        pthread_sigmask(SIG_UNBLOCK, &set, nullptr);
        return;
    }
    try {
        thread_ = std::thread([this] { Loop(); });
    } catch (...) {
        pthread_sigmask(SIG_UNBLOCK, &set, nullptr);
    }
}

StopSignals::~StopSignals() {
    if (thread_.joinable()) {
        const uint64_t one = 1;
        const ssize_t ignored = ::write(quitFd_, &one, sizeof one);
        (void)ignored;
        thread_.join();
    }
    // The signals stay blocked: the program is about to end, and one that
    // comes now must not kill it before it reports how the run ended.
    if (signalFd_ >= 0) ::close(signalFd_);
    if (quitFd_ >= 0) ::close(quitFd_);
}

void StopSignals::Attach(orvo::scanrun::ScanRun* run) {
    std::lock_guard<std::mutex> lock(mutex_);
    run_ = run;
    if (run_ && received_.load() > 0) run_->Interrupt();
}

void StopSignals::Detach() {
    std::lock_guard<std::mutex> lock(mutex_);
    run_ = nullptr;
}

void StopSignals::Take() {
    const int count = received_.fetch_add(1) + 1;
    if (!settled_.load()) {
        Say("orvoscan: interrupted before the batch started\n");
        ::_exit(130);
    }
    if (count >= 3) {
        Say("orvoscan: interrupted three times; ending at once\n");
        ::_exit(130);
    }
    std::lock_guard<std::mutex> lock(mutex_);
    if (run_) run_->Interrupt();
}

void StopSignals::Loop() {
    pollfd fds[2] = {{signalFd_, POLLIN, 0}, {quitFd_, POLLIN, 0}};
    for (;;) {
        const int ready = ::poll(fds, 2, -1);
        if (ready < 0 && errno == EINTR) continue;
        if (ready < 0 || (fds[1].revents & POLLIN)) return;
        if (fds[0].revents & POLLIN) {
            signalfd_siginfo info{};
            if (::read(signalFd_, &info, sizeof info) == sizeof info) {
                Take();
            }
        }
    }
}

}  // namespace orvoscan
