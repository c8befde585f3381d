#include "service/status.h"

#include "base/log.h"
#include "catalogue/playlists.h"
#include "catalogue/presets.h"
#include "catalogue/recommend.h"
#include "common/common.h"
#include "common/fs.h"
#include "common/paths.h"
#include "common/str.h"
#include "link/rcs_sock.h"
#include "net/curl.h"
#include "net/webapi.h"
#include "player/ondemandPlayer.h"
#include "player/playback.h"
#include "player/sequencer.h"
#include "player/session.h"
#include "request/answer.h"
#include "service/login.h"
#include "state/contents.h"
#include "state/dl_list.h"
#include "state/playManager.h"
#include "state/playlist.h"
#include "state/service.h"
#include "state/session.h"
#include "state/where.h"
#include "ui/dialog.h"
#include "ui/json.h"

#include <cstdlib>
#include <initializer_list>
#include <string>

namespace {

unsigned int startup_step_ = 0;
// The number of the running start-up chain; its requests carry it, and a
// new start or the switch-off ends it. The chain is closed once its last
// answer is in (or it was ended): no later answer moves it or hides its
// dialog.
uint32_t chain_ = 0;
bool chain_closed_ = true;
bool isStopOndemand = false;
std::string m_load_song_pfix;
unsigned long long m_load_song_id = 0;

constexpr unsigned int STEP_DONE = STARTUP_DONE;

bool is_local_prefix(const std::string& pfix) {
    return pfix == "d" || pfix == "l";
}

void switch_on(const char* why) {
    if (get_status() != 0) {
        return;
    }
    log_info("service switched on (%s)", why);
    store_service_on(true);
    answers_new_session();
    // A stop left pending by a refusal belongs to the service that was
    // switched off: it must not switch off the service switched on now.
    isStopOndemand = false;
    rcssock_send("<ondemand status=\"on\"/>\n");
    setRcsOndemandNoSong();
    ondemandSetRepeatType(REPEAT_OFF);
    do_pause();
    do_setTime("0");
    // Switching off republishes everything; switching on must at least show
    // the new status, also when the next step of the chain fails.
    json_make_status_json();
}

void switch_off(const char* why) {
    if (startup_step_ == STEP_DONE && get_status() == 0) {
        return;
    }
    // A chain cancelled before it switched on ends here too, but nothing was on.
    if (get_status() != 0) {
        log_info("service switched off (%s)", why);
    }
    // The session's work ends here: no request of it runs on, and no answer
    // of it can refill a file or speak to the control server afterwards.
    // Play and stop events already sent still reach the history.
    curl_cancel(
        [](const std::string& url, const std::string&) { return !webapi_is_history_event(url); });
    token_requests_withdrawn();
    ondemandStopPlayer();
    forget_playlist_edits();
    answers_new_session();
    chain_closed_ = true;
    do_stopApi(getOndemandPlayManager().playSong.id);
    deleteSessionInfo();
    store_service_on(false);
    session_clear();
    clear_where();
    startup_step_ = STEP_DONE;
    rcssock_send("<ondemand status=\"off\"/>\n");
    setRcsModeNormal();
    // Downloads never outlive the service.
    contents_clear();
    fs::rm_dir(paths::at(paths::DOWNLOAD_DIR));
    initDLlist();
    json_make_init();
}

} // namespace

void set_status(const char* value, const char* why) {
    if (value == nullptr) {
        return;
    }
    if (str::iequals(value, "on")) {
        switch_on(why);
    } else if (str::iequals(value, "off")) {
        switch_off(why);
    }
}

void setOndemandCancel() {
    // Only a chain under way can be cancelled; outside one the flag would
    // switch the service off at some later answer.
    if (!chain_closed_) {
        isStopOndemand = true;
    }
}

void do_dlgConfirmed() {
    json_make_ondemand_dialog_confirmed();
}

void do_ondemandStart(const char* pfix, const char* id) {
    if (pfix == nullptr || id == nullptr) {
        return;
    }
    m_load_song_pfix = pfix;
    m_load_song_id = strtoull(id, nullptr, 10);
    if (!get_token().empty() && !get_refresh_token().empty()) {
        if (!is_local_prefix(m_load_song_pfix)) {
            rcssock_send("<set_song prefix=\"d\" song_id=\"1\" control=\"stop\" />\n");
        }
        startup_step_ = 0;
        isStopOndemand = false;
        if (++chain_ == 0) {
            chain_ = 1;
        }
        chain_closed_ = false;
        json_make_init();
        json_make_dlg_wait_modal(DLG_TITLE_MESSAGE, DLG_MSG_CONNECT_LOGIN, true, false);
        initCallWebApi();
        checkSessionInfo();
    } else if (isOndemandFlag()) {
        json_make_dlg_relogin();
    } else {
        json_make_dlg_error("Error", "Not authorized.");
    }
}

void do_ondemandStop(const char* usb_status) {
    if (!is_local_prefix(m_load_song_pfix) && usb_status != nullptr &&
        str::iequals(usb_status, "off")) {
        m_load_song_pfix = "d";
        m_load_song_id = 1;
    }
    rcssock_send("<set_song prefix=\"%s\" song_id=\"%lld\" control=\"stop\" />\n",
                 m_load_song_pfix.c_str(), static_cast<long long>(m_load_song_id));
}

void ondemand_restart_last_song() {
    std::string id;
    str::format(id, "%llu", m_load_song_id);
    std::string pfix = m_load_song_pfix;
    do_ondemandStart(pfix.c_str(), id.c_str());
}

namespace {

// The requests sent by one step of the chain carry the chain's number.
struct ChainRequests {
    ChainRequests() { set_request_chain(chain_); }
    ~ChainRequests() { set_request_chain(0); }
};

} // namespace

void initCallWebApi() {
    ChainRequests scope;
    if (isStopOndemand) {
        startup_step_ = STEP_DONE;
        set_status("off", "start cancelled");
        isStopOndemand = false;
    }
    switch (startup_step_) {
    case 0:
        startup_step_ = 1;
        set_status("on", "ondemandStart");
        initCallWebApi();
        return;
    case 1:
        startup_step_ = 2;
        do_account_features();
        return;
    case 2:
        // A gratis member gets the gratis playlists only: no user
        // playlists, genres or recommendations.
        if (isGratisMember()) {
            startup_step_ = STEP_DONE;
            do_gratisPlaylist();
        } else {
            startup_step_ = 3;
            do_allPresetPlaylist();
        }
        return;
    case 3:
        startup_step_ = 4;
        do_allplaylists();
        return;
    case 4:
        startup_step_ = 5;
        // A new account gets its first playlist; the create answer fetches
        // the playlists again, and that answer moves the chain on.
        if (playlists_get().empty()) {
            do_createPlaylist("My Playlist", "");
        } else {
            initCallWebApi();
        }
        return;
    case 5:
        startup_step_ = 6;
        do_genres();
        return;
    case 6:
        startup_step_ = STEP_DONE;
        do_recommendPlaylists();
        return;
    case STEP_DONE:
        chain_closed_ = true;
        json_make_status_json();
        hide_wait_dialog();
        return;
    }
}

namespace {

// Moves the chain on after a list is stored, but only when the chain waits
// for that list (its step is one of `waiting_steps`) or has finished (the
// call then republishes the status and hides the wait dialog).
void continue_startup_chain(std::initializer_list<unsigned int> waiting_steps) {
    if (chain_closed_) {
        return;
    }
    for (unsigned int step : waiting_steps) {
        if (startup_step_ == step) {
            initCallWebApi();
            return;
        }
    }
    if (startup_step_ == STEP_DONE) {
        initCallWebApi();
    }
}

} // namespace

void startup_list_loaded(CatalogueList list) {
    switch (list) {
    case CatalogueList::Presets:
        continue_startup_chain({STARTUP_AFTER_PRESETS});
        return;
    case CatalogueList::UserPlaylists:
        // Asked for after the presets, and again after a new account's
        // first playlist was created.
        continue_startup_chain({STARTUP_AFTER_PLAYLISTS, STARTUP_AFTER_CREATE});
        return;
    case CatalogueList::Genres:
        continue_startup_chain({STARTUP_AFTER_GENRES});
        return;
    case CatalogueList::Gratis:
    case CatalogueList::RecommendPlaylists:
        // The last list of a gratis member's chain, or of a member's.
        continue_startup_chain({STARTUP_DONE});
        return;
    }
}

uint32_t current_startup_chain() {
    return chain_closed_ ? 0 : chain_;
}

unsigned int get_startup_step() {
    return startup_step_;
}

bool startup_chain_done() {
    return startup_step_ == STEP_DONE;
}

int regionsErrorCheck(int code, bool show) {
    if (code != 403) {
        return code;
    }
    set_status("off", "the service refused a request with 403");
    isStopOndemand = true;
    if (show) {
        json_make_dlg_error("Error", server_error_text(code, "Region Error"));
    }
    return code;
}
