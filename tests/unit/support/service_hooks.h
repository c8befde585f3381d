// The service's refusal check and start-up chain given to the requests, and
// the catalogue's lists to the chain, as the daemon connects them at start-up.
#pragma once

#include "catalogue/lists.h"
#include "request/answer.h"
#include "service/status.h"

inline void connect_service_hooks() {
    RequestHooks hooks;
    hooks.refused = regionsErrorCheck;
    hooks.current_chain = current_startup_chain;
    request_set_hooks(hooks);
    CatalogueHooks catalogue;
    catalogue.list_loaded = startup_list_loaded;
    catalogue_set_hooks(catalogue);
}
