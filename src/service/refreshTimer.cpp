#include "service/refreshTimer.h"

#include "base/debug.h"
#include "base/rvx.h"
#include "common/common.h"
#include "service/login.h"

#include <climits>
#include <cstdlib>

namespace {

rvx_st_io* ref_timer = nullptr;
bool armed_ = false;
long long period_ms_ = REFRESH_PERIOD_MS;
// The back-off of the next failure; the first step after a success.
long long backoff_ms_ = REFRESH_BACKOFF_FIRST_MS;
long long armed_delay_ms_ = 0;

// A span of the service's clock on the daemon's, shortened with the period.
// A span beyond the range of the result stops at its end.
long long scaled(long long ms) {
    double span = static_cast<double>(ms) * static_cast<double>(period_ms_) /
                  static_cast<double>(REFRESH_PERIOD_MS);
    // 2^63: the first double above the range; its negative is the range's end.
    constexpr double END = 9223372036854775808.0;
    if (span >= END) {
        return LLONG_MAX;
    }
    return span <= -END ? LLONG_MIN : static_cast<long long>(span);
}

int arm(long long delay_ms) {
    create_refresh_timer();
    if (ref_timer == nullptr) {
        return -1;
    }
    if (delay_ms < 1) {
        delay_ms = 1;
    }
    rvx_Timer_Set_ReadEvent(ref_timer, refresh_timerEvent);
    rvx_Timer_Start(ref_timer, delay_ms);
    armed_ = true;
    armed_delay_ms_ = delay_ms;
    debug_printf("refresh timer: armed for %lld ms\n", delay_ms);
    return 0;
}

} // namespace

void refresh_configure() {
    const char* period = getenv("ONDEMAND_REFRESH_MS");
    if (period != nullptr && *period != '\0') {
        char* end = nullptr;
        long long value = strtoll(period, &end, 10);
        if (*end == '\0' && value > 0) {
            refresh_set_period(value);
        }
    }
}

void refresh_set_period(long long period_ms) {
    if (period_ms > 0) {
        period_ms_ = period_ms;
    }
}

void create_refresh_timer() {
    if (ref_timer == nullptr) {
        ref_timer = rvx_Timer(0);
    }
}

void stopped_refresh_timer() {
    if (ref_timer != nullptr) {
        rvx_Timer_Stop(ref_timer);
        rvx_Release_Rvx(ref_timer);
        ref_timer = nullptr;
    }
    armed_ = false;
    backoff_ms_ = REFRESH_BACKOFF_FIRST_MS;
}

int started_refresh_timer() {
    backoff_ms_ = REFRESH_BACKOFF_FIRST_MS;
    long long delay = period_ms_;
    // Refreshed while a quarter of its life is left, so that a token that
    // lives shorter than the period never runs out.
    long long lifetime = scaled(set_token_expires());
    if (lifetime > 0 && lifetime / 4 * 3 < delay) {
        delay = lifetime / 4 * 3;
    }
    return arm(delay);
}

int refresh_after_failure() {
    long long delay = scaled(backoff_ms_);
    backoff_ms_ =
        backoff_ms_ * 2 < REFRESH_BACKOFF_MAX_MS ? backoff_ms_ * 2 : REFRESH_BACKOFF_MAX_MS;
    return arm(delay);
}

int refresh_timerEvent(rvx_st_io* timer) {
    if (timer != nullptr) {
        rvx_Timer_Stop(timer);
    }
    armed_ = false;
    // The answer arms the next one, whatever it is.
    send_refresh();
    return 0;
}

bool is_refresh_timer_armed() {
    return armed_;
}

long long refresh_armed_delay_ms() {
    return armed_delay_ms_;
}
