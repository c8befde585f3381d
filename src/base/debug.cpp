#include "base/debug.h"

#include <cstdarg>
#include <cstdio>

namespace {
int debug_ = 0;
}

void debug_set(int on) {
    debug_ = on;
}

int debug_get() {
    return debug_;
}

int debug_printf(const char* format, ...) {
    if (debug_ == 0) {
        return 0;
    }
    va_list args;
    va_start(args, format);
    vfprintf(stderr, format, args);
    va_end(args);
    return 0;
}
