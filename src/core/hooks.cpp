#include "core/hooks.h"

#include "catalogue/lists.h"
#include "core/dispatch.h"
#include "link/rcs_sock.h"
#include "net/curl.h"
#include "player/progress.h"
#include "player/sequencer.h"
#include "player/session.h"
#include "request/answer.h"
#include "service/status.h"
#include "ui/dialog.h"

namespace {

void show_timeout() {
    json_make_dlg_error("Error", "Connection timed out");
}

} // namespace

void connect_hooks() {
    rcssock_set_receiver(xml_parse);
    session_set_dispatcher(xml_parse);
    CurlHooks hooks;
    hooks.timed_out = show_timeout;
    hooks.progress = progress_of_download;
    curl_set_hooks(hooks);
    RequestHooks requests;
    requests.refused = regionsErrorCheck;
    requests.current_chain = current_startup_chain;
    request_set_hooks(requests);
    CatalogueHooks catalogue;
    catalogue.list_loaded = startup_list_loaded;
    catalogue_set_hooks(catalogue);
    PlayerHooks player;
    player.startup_done = startup_chain_done;
    player_set_hooks(player);
}
