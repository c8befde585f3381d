// Recommendations and history: the recommended playlists, and the
// recommended songs and the play history, which fill the song list; and the
// genres the service offers.
#pragma once

#include <string>

void do_recommendPlaylists();
void callback_recommendPlaylist(int status, const std::string& body, void* user);
void do_recommend();
void callback_recommend(int status, const std::string& body, void* user);
void do_history();
void callback_hisotry(int status, const std::string& body, void* user);
void do_genres();
void callback_genres(int status, const std::string& body, void* user);

// The start-up step each catalogue answer of the chain moves on from: the
// step is already set to the next one while the request runs.
constexpr unsigned int STARTUP_AFTER_PRESETS = 3;
constexpr unsigned int STARTUP_AFTER_GENRES = 6;
constexpr unsigned int STARTUP_DONE = 7;

// Moves the start-up chain on after a successful answer, but only when the
// chain waits for this answer (its step is `waiting_step`) or has finished
// (the call then republishes the status and hides the wait dialog). The same
// answers also come for commands: one that arrives while the chain waits for
// another step must not run that step early.
void continue_startup_chain(unsigned int waiting_step);
