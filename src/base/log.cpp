#include "base/log.h"

#include <cstdarg>
#include <cstdio>
#include <poll.h>
#include <unistd.h>

namespace {

bool enabled_ = false;

// Room for a prefix, a line of text and its line end; longer texts are cut.
constexpr size_t LOG_LINE_MAX = 512;

__attribute__((format(printf, 2, 0))) void write_line(const char* prefix, const char* format,
                                                      va_list args) {
    if (!enabled_) {
        return;
    }
    char line[LOG_LINE_MAX];
    int head = snprintf(line, sizeof line, "%s", prefix);
    int length = vsnprintf(line + head, sizeof line - static_cast<size_t>(head) - 1, format, args);
    if (length < 0) {
        return;
    }
    size_t end = static_cast<size_t>(head) + static_cast<size_t>(length);
    if (end > sizeof line - 2) {
        end = sizeof line - 2;
    }
    for (size_t i = static_cast<size_t>(head); i < end; ++i) {
        if (static_cast<unsigned char>(line[i]) < 0x20 || line[i] == 0x7f) {
            line[i] = ' ';
        }
    }
    line[end++] = '\n';
    // The event loop never waits for the reader: a line that does not fit in
    // a full pipe or socket now is dropped, and a reader that has gone away
    // only fails the write (SIGPIPE is ignored).
    pollfd out{STDERR_FILENO, POLLOUT, 0};
    if (poll(&out, 1, 0) != 1 || (out.revents & POLLOUT) == 0) {
        return;
    }
    // The debug log goes through the unbuffered stderr stream, so the two
    // stay in order.
    ssize_t written = write(STDERR_FILENO, line, end);
    (void)written;
}

} // namespace

void log_enable(bool on) {
    enabled_ = on;
}

void log_error(const char* format, ...) {
    va_list args;
    va_start(args, format);
    write_line("<3>", format, args);
    va_end(args);
}

void log_warning(const char* format, ...) {
    va_list args;
    va_start(args, format);
    write_line("<4>", format, args);
    va_end(args);
}

void log_info(const char* format, ...) {
    va_list args;
    va_start(args, format);
    write_line("<6>", format, args);
    va_end(args);
}
