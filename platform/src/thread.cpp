#include "orvo/platform/thread.h"

#include <pthread.h>
#include <sched.h>
#include <sys/resource.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>

namespace orvo::platform {

namespace {

// The nice value RLIMIT_NICE lets this process reach: 20 - limit.
int LowestAllowedNice() {
    rlimit limit{};
    if (getrlimit(RLIMIT_NICE, &limit) != 0) return 20;
    if (limit.rlim_cur == RLIM_INFINITY) return -20;
    const long allowed = 20 - static_cast<long>(std::min<rlim_t>(limit.rlim_cur, 40));
    return static_cast<int>(std::clamp(allowed, -20L, 19L));
}

}  // namespace

bool RaiseCurrentThreadPriority() {
    const int maxFifo = sched_get_priority_max(SCHED_FIFO);
    if (maxFifo >= 0) {
        sched_param param{};
        param.sched_priority = maxFifo;
        if (pthread_setschedparam(pthread_self(), SCHED_FIFO, &param) == 0) return true;
    }

    // On Linux the nice value belongs to the thread named by its thread id.
    const auto tid = static_cast<id_t>(syscall(SYS_gettid));
    errno = 0;
    const int current = getpriority(PRIO_PROCESS, tid);
    if (current == -1 && errno != 0) return false;
    const int target = LowestAllowedNice();
    if (target >= current) return false;
    return setpriority(PRIO_PROCESS, tid, target) == 0;
}

}  // namespace orvo::platform
