// The record of the current play, reported to the service's history.
#pragma once

#include <string>

const std::string& session_id();
// Forgets the session id (the service is switched off).
void session_clear();
// The furthest position reached in the session, in seconds.
int max_time_sec();
// Whether the sequencer has played the loaded song yet.
bool is_played_song();
void set_played_song(bool played);
