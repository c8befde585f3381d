// The handler fixture with the service's own switch and hooks.
#pragma once

#include "service/status.h"
#include "support/service_hooks.h"
#include "support/switched_on.h"

struct ServiceSwitch {
    static void connect() { connect_service_hooks(); }
    static void on() { set_status("on"); }
    static void off() { set_status("off"); }
};
using ServiceOn = SwitchedOn<ServiceSwitch>;
