// The one-shot token-refresh timer: armed by every answer that delivers a
// refresh token, it sends one refresh 55 minutes later.
#pragma once

#include "net/curl.h"

struct rvx_st_io;

constexpr long long REFRESH_PERIOD_MS = 3300000;

void create_refresh_timer();
void stopped_refresh_timer();
int started_refresh_timer(RequestCallback callback);
int refresh_timerEvent(rvx_st_io* timer);
// True while a refresh is armed; for tests and diagnostics.
bool is_refresh_timer_armed();
