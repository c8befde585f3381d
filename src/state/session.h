// The record of the current play, reported to the service's history.
#pragma once

#include <cstdint>
#include <string>

const std::string& session_id();
// Forgets the session id (the service is switched off).
void session_clear();
// The furthest position reached in the session, in seconds.
int max_time_sec();
// Whether the sequencer has played the loaded song yet.
bool is_played_song();
void set_played_song(bool played);

// A new session: its id, and no position reached yet.
void session_start(const std::string& id);
// The sequencer's position report: the last position in milliseconds, and
// the furthest whole second reached in the session.
void session_note_position(uint64_t msec);
uint64_t seq_time_msec();
