// The service's flags: whether it is on, what the sequencer last reported,
// what a loaded song is to do, and what the account may use. The handlers
// that switch and report live above; these are only the values.
#pragma once

// Sequencer states.
enum SeqStatus {
    SEQ_PLAY = 0,
    SEQ_PAUSE = 1,
    SEQ_STOP = 2,
    SEQ_LOAD = 3,
    SEQ_NOSONG = 4,
    SEQ_FFS = 6,
    SEQ_UNKNOWN = 7
};

// 1 while the service is on, else 0.
int get_status();
// Only notes the flag; switching the service on or off is set_status's.
void store_service_on(bool on);

int get_seq_status();
// Only notes the sequencer's state; its reports are handled by set_seq_status.
void store_seq_status(int state);
// 1 when a loaded song is to stay paused, 0 when it is to play.
int get_next_control_status();
void set_next_control_status(int value);

// "true" or "false" in any case; anything else changes nothing.
void setGratis(const char* value);
bool isGratisMember();

bool isOriginalArtist();
void setOriginalArtist(bool enabled);

// True when the base-URL file names the staging or the production service.
bool isTestServer();
