// The service's refusal check and start-up chain given to the requests, as
// the daemon connects them at start-up.
#pragma once

#include "request/answer.h"
#include "service/status.h"

inline void connect_service_to_requests() {
    RequestHooks hooks;
    hooks.refused = regionsErrorCheck;
    hooks.current_chain = current_startup_chain;
    request_set_hooks(hooks);
}
