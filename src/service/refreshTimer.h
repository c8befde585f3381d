// The token-refresh timer. It runs for as long as the device is logged in:
// every outcome of a refresh arms it again, a success for the normal period
// (or for three quarters of the new token's lifetime when that is sooner), a
// failure after a back-off of one minute that doubles with each further
// failure up to fifteen, until a refresh succeeds.
#pragma once

struct rvx_st_io;

constexpr long long REFRESH_PERIOD_MS = 3300000;
constexpr long long REFRESH_BACKOFF_FIRST_MS = 60000;
constexpr long long REFRESH_BACKOFF_MAX_MS = 900000;

// Reads the environment value ONDEMAND_REFRESH_MS once, at start-up: a
// positive number of milliseconds replaces the normal period, and the
// back-off steps and the token lifetimes are scaled in the same proportion
// (tests run many periods so).
void refresh_configure();
// For tests and refresh_configure: the normal period (> 0).
void refresh_set_period(long long period_ms);

void create_refresh_timer();
// Stops refreshing until the next arming (and forgets the back-off).
void stopped_refresh_timer();
// After a successful login or refresh: the next refresh at the normal period,
// or at three quarters of the stored token lifetime when that is sooner.
int started_refresh_timer();
// After a failed one: the next back-off step.
int refresh_after_failure();
int refresh_timerEvent(rvx_st_io* timer);
// True while a refresh is armed; for tests and diagnostics.
bool is_refresh_timer_armed();
// The delay of the last arming, in milliseconds.
long long refresh_armed_delay_ms();
