// The sequencer's reports (play, pause, stop, load, no song, fast forward),
// which move the player on, and the mode the control server is asked to
// show while the service has no song loaded.
#pragma once

// What the player asks of the layers above it. The service owns the
// start-up chain; while the chain runs, a song that stops right after its
// load is left stopped. Unset, the chain counts as done.
struct PlayerHooks {
    bool (*startup_done)() = nullptr;
};
void player_set_hooks(const PlayerHooks& hooks);

// A sequencer report; ignored while the service is off.
void set_seq_status(const char* status);
void setRcsOndemandNoSong();
void setRcsModeNormal();
