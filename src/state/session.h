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

// A new session: its id, no position reached yet, nothing reported.
void session_start(const std::string& id);
// Whether the session's stop event has been sent. A session ends once: a
// second end (another move before the next song plays, or the switch-off)
// must not report it again, least of all under the next song's id.
bool is_session_reported();
void set_session_reported();
// The sequencer's position report: the last position in milliseconds, and
// the furthest whole second reached in the session.
void session_note_position(uint64_t msec);
uint64_t seq_time_msec();
