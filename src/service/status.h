// The service status (on or off), the start-up chain that logs the session
// in and loads the catalogue step by step, and the sequencer's reports.
#pragma once

#include <cstdint>

int get_status();
// "on" or "off" in any case; anything else does nothing.
void set_status(const char* value);
void setRcsOndemandNoSong();
void setRcsModeNormal();
void setGratis(const char* value);
bool isGratisMember();
void setOndemandCancel();
void do_dlgConfirmed();
void do_ondemandStart(const char* pfix, const char* id);
void do_ondemandStop(const char* usb_status);
// Starts again with the song that the last start command named.
void ondemand_restart_last_song();
// Advances the start-up chain by one step.
void initCallWebApi();
unsigned int get_startup_step();
void set_seq_status(const char* status);
int get_seq_status();
void set_seq_status_value(int state);
int get_next_control_status();
void set_next_control_status(int value);
// True when the base-URL file names the staging or the production service.
bool isTestServer();
// For 403: switches the service off and stops the chain; returns the code.
int regionsErrorCheck(int code, bool show);

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
