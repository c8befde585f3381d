#include "player/sequencer.h"

#include "common/str.h"
#include "link/rcs_sock.h"
#include "player/ondemandPlayer.h"
#include "player/playback.h"
#include "state/playManager.h"
#include "state/service.h"
#include "state/session.h"
#include "ui/json.h"

namespace {

PlayerHooks hooks_;
// The control server shows "ondemandNoSong" until the first song plays.
bool isOndemandNoSong = true;

bool startup_done() {
    return hooks_.startup_done == nullptr || hooks_.startup_done();
}

} // namespace

void player_set_hooks(const PlayerHooks& hooks) {
    hooks_ = hooks;
}

void setRcsOndemandNoSong() {
    isOndemandNoSong = true;
    rcssock_send("<set_rcs mode=\"ondemandNoSong\"/>\n");
}

void setRcsModeNormal() {
    isOndemandNoSong = false;
    rcssock_send("<set_rcs mode=\"normal\"/>\n");
}

void set_seq_status(const char* status) {
    if (get_status() == 0) {
        return;
    }
    if (status != nullptr) {
        int previous = get_seq_status();
        int next = SEQ_UNKNOWN;
        if (str::iequals(status, "play")) {
            next = SEQ_PLAY;
            set_next_control_status(0);
            if (isOndemandNoSong) {
                setRcsModeNormal();
            }
            // The first "play" after a load opens the play session; with
            // nothing loaded there is no play to report.
            if (!is_played_song() && getOndemandPlayManager().playSong.id != 0) {
                set_played_song(true);
                do_play(getOndemandPlayManager().playSong.id);
            }
        } else if (str::iequals(status, "pause")) {
            next = SEQ_PAUSE;
        } else if (str::iequals(status, "stop")) {
            if (previous == SEQ_LOAD && startup_done()) {
                set_played_song(false);
                send_play_or_pause();
            }
            if (previous == SEQ_FFS) {
                rcssock_send("<set_seq time=\"%lld\" />\n",
                             static_cast<long long>(max_time_sec()) * 1000LL);
            }
            next = SEQ_STOP;
        } else if (str::iequals(status, "load")) {
            next = previous == SEQ_FFS ? SEQ_FFS : SEQ_LOAD;
        } else if (str::iequals(status, "nosong")) {
            // After a fast forward to the end the song is loaded again, not
            // ended.
            next = previous == SEQ_FFS ? SEQ_FFS : SEQ_NOSONG;
            if (next == SEQ_FFS) {
                do_load(getOndemandPlayManager().playSong.id);
            }
        } else if (str::iequals(status, "ffs")) {
            set_next_control_status(previous == SEQ_PLAY ? 0 : 1);
            next = SEQ_FFS;
        }
        store_seq_status(next);
    }
    if (get_seq_status() == SEQ_NOSONG) {
        if (isNextSong()) {
            ondemandPlaySongSetup();
        } else {
            // Without a next song the last song stays loaded, paused.
            set_next_control_status(1);
            ondemandSetLastSong();
            json_make_playmanager_info();
        }
    }
}
