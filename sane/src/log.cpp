#include "orvo/sane/log.h"

#include <cstdarg>
#include <cstdio>
#include <cstdlib>

namespace orvo::sane {

namespace {

int Level() {
    static const int level = [] {
        const char* value = std::getenv("SANE_DEBUG_ORVOSCAN");
        return value != nullptr ? std::atoi(value) : 0;
    }();
    return level;
}

}  // namespace

void Log(int level, const char* format, ...) {
    if (level > Level()) return;
    char text[1024];
    va_list args;
    va_start(args, format);
    std::vsnprintf(text, sizeof text, format, args);
    va_end(args);
    std::fprintf(stderr, "[orvoscan] %s\n", text);
}

}  // namespace orvo::sane
