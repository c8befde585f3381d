// The service's switch as the layers below it see it, for the unit tests of
// the catalogue and the player, which link neither the service nor its
// start-up chain: on, a new answer session; off, as the service does it,
// every request but the history's withdrawn, the play session ended, the
// player stopped and the published state reset.
#pragma once

#include "net/curl.h"
#include "net/webapi.h"
#include "player/ondemandPlayer.h"
#include "player/sequencer.h"
#include "player/session.h"
#include "request/answer.h"
#include "state/contents.h"
#include "state/dl_list.h"
#include "state/playManager.h"
#include "state/service.h"
#include "state/session.h"
#include "state/where.h"
#include "support/switched_on.h"
#include "ui/json.h"

inline void switch_off_below() {
    // Play and stop events already sent still reach the history.
    curl_cancel(
        [](const std::string& url, const std::string&) { return !webapi_is_history_event(url); });
    ondemandStopPlayer();
    answers_new_session();
    do_stopApi(getOndemandPlayManager().playSong.id);
    deleteSessionInfo();
    store_service_on(false);
    session_clear();
    clear_where();
    contents_clear();
    initDLlist();
    json_make_init();
}

inline void switch_on_below() {
    RequestHooks requests;
    // A regional refusal switches off, as the service would.
    requests.refused = [](int code, bool) {
        if (code == 403) {
            switch_off_below();
        }
        return code;
    };
    request_set_hooks(requests);
    player_set_hooks(PlayerHooks{});
    store_service_on(true);
    answers_new_session();
}

struct SwitchBelow {
    static void connect() {}
    static void on() { switch_on_below(); }
    static void off() { switch_off_below(); }
};
