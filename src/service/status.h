// The service status (on or off), the start-up chain that logs the session
// in and loads the catalogue step by step, and the sequencer's reports.
#pragma once

#include "state/service.h"

// "on" or "off" in any case; anything else does nothing.
void set_status(const char* value);
void setRcsOndemandNoSong();
void setRcsModeNormal();
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
// For 403: switches the service off and stops the chain; returns the code.
int regionsErrorCheck(int code, bool show);
