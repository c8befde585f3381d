// The service status (on or off), the start-up chain that logs the session
// in and loads the catalogue step by step.
#pragma once

#include "catalogue/lists.h"
#include "state/service.h"

#include <cstdint>

// "on" or "off" in any case; anything else does nothing. `why` goes into the
// operator's log line of a switch.
void set_status(const char* value, const char* why = "set_ondemand status");
void setOndemandCancel();
void do_dlgConfirmed();
void do_ondemandStart(const char* pfix, const char* id);
void do_ondemandStop(const char* usb_status);
// Starts again with the song that the last start command named.
void ondemand_restart_last_song();
// Advances the start-up chain by one step.
void initCallWebApi();

// The step of the chain while the request of the step before it runs.
constexpr unsigned int STARTUP_AFTER_PRESETS = 3;
constexpr unsigned int STARTUP_AFTER_PLAYLISTS = 4;
constexpr unsigned int STARTUP_AFTER_CREATE = 5;
constexpr unsigned int STARTUP_AFTER_GENRES = 6;
constexpr unsigned int STARTUP_DONE = 7;

// The catalogue's report of a list stored: the chain moves on when it waits
// for that list. The same lists also come for commands: one that arrives
// while the chain waits for another step must not run that step early.
void startup_list_loaded(CatalogueList list);
unsigned int get_startup_step();
// The chain has finished (or none was started).
bool startup_chain_done();
// The number of the start-up chain under way; 0 when none is.
uint32_t current_startup_chain();
// For 403: switches the service off and stops the chain; returns the code.
int regionsErrorCheck(int code, bool show);
