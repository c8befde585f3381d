#include "core/shutdown.h"

#include "base/debug.h"
#include "base/rvx.h"

#include <csignal>

namespace {

// Time the children get to end on SIGTERM before they are killed.
constexpr int CHILD_GRACE_MS = 2000;

bool requested_ = false;
int signal_ = 0;

void on_stop_signal(int signo) {
    debug_printf("** ondemand: signal %d, ending\n", signo);
    requested_ = true;
    signal_ = signo;
}

} // namespace

void shutdown_watch() {
    rvx_Signal_Watch(SIGTERM, on_stop_signal);
    rvx_Signal_Watch(SIGINT, on_stop_signal);
}

bool shutdown_requested() {
    return requested_;
}

int shutdown_signal() {
    return signal_;
}

void shutdown_children() {
    rvx_End_Children(CHILD_GRACE_MS);
}
