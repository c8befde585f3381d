#include "service/refreshTimer.h"

#include "base/debug.h"
#include "base/rvx.h"
#include "net/webapi.h"

namespace {

rvx_st_io* ref_timer = nullptr;
RequestCallback m_refreshCallback;
bool armed_ = false;

} // namespace

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
}

int started_refresh_timer(RequestCallback callback) {
    m_refreshCallback = std::move(callback);
    create_refresh_timer();
    if (ref_timer == nullptr) {
        return -1;
    }
    rvx_Timer_Set_ReadEvent(ref_timer, refresh_timerEvent);
    rvx_Timer_Start(ref_timer, REFRESH_PERIOD_MS);
    armed_ = true;
    debug_printf("refresh timer: armed for %lld ms\n", REFRESH_PERIOD_MS);
    return 0;
}

int refresh_timerEvent(rvx_st_io* timer) {
    webapi_account_refresh(m_refreshCallback, nullptr);
    rvx_Timer_Stop(timer);
    armed_ = false;
    return 0;
}

bool is_refresh_timer_armed() {
    return armed_;
}
