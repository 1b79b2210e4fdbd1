#include "orvo/platform/clock.h"

#include <cerrno>
#include <chrono>
#include <cmath>
#include <cstdlib>
#include <ctime>
#include <thread>

#include "clock_detail.h"

namespace orvo::platform {

namespace detail {

double ParseTimeScale(const char* text) {
    if (text == nullptr || *text == '\0') return 1.0;
    char* end = nullptr;
    errno = 0;
    double value = std::strtod(text, &end);
    if (errno != 0 || end == text || *end != '\0' || !std::isfinite(value) || value < 1.0) {
        return 1.0;
    }
    // A scale beyond a million would turn every wait into nothing at all.
    if (value > 1e6) value = 1e6;
    return value;
}

}  // namespace detail

double TimeScale() {
    static const double scale = detail::ParseTimeScale(std::getenv("ORVOSCAN_TIME_SCALE"));
    return scale;
}

uint32_t TickCount() {
    using namespace std::chrono;
    const auto real = duration_cast<microseconds>(steady_clock::now().time_since_epoch()).count();
    const double driverMs = static_cast<double>(real) / 1000.0 * TimeScale();
    // Keep the low 32 bits of the driver millisecond count, as GetTickCount does.
    const double wrapped = std::fmod(driverMs, 4294967296.0);
    return static_cast<uint32_t>(wrapped);
}

uint32_t RealMs(uint32_t driverMs) {
    if (driverMs == 0) return 0;
    const double real = std::ceil(static_cast<double>(driverMs) / TimeScale());
    if (real < 1.0) return 1;
    return static_cast<uint32_t>(real);
}

void SleepMs(uint32_t ms) {
    if (ms == 0) {
        std::this_thread::yield();
        return;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(RealMs(ms)));
}

LocalTime Now() {
    timespec ts{};
    clock_gettime(CLOCK_REALTIME, &ts);
    tm parts{};
    time_t seconds = ts.tv_sec;
    localtime_r(&seconds, &parts);
    LocalTime result{};
    result.year = parts.tm_year + 1900;
    result.month = parts.tm_mon + 1;
    result.day = parts.tm_mday;
    result.hour = parts.tm_hour;
    result.minute = parts.tm_min;
    result.second = parts.tm_sec;
    result.millisecond = static_cast<int>(ts.tv_nsec / 1000000);
    return result;
}

}  // namespace orvo::platform
