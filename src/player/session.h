// The play session: the record of the current play that the service's
// history receives, kept in a file that survives a power cut.
#pragma once

#include <cstdint>
#include <string>

// Writes the session file for `song_id` with the current session id and
// furthest second; nothing while there is no session.
void createSessionInfo(unsigned long long song_id);
// Writes the file again for the play manager's song, when it exists.
void updateSessionInfo();
void deleteSessionInfo();
// The dispatcher a saved session is handed to. The entry layer connects it:
// the session record is an element of the control protocol.
void session_set_dispatcher(int (*dispatch)(const char* text));
// The sequencer's position report, in milliseconds as decimal text; a new
// furthest whole second rewrites the session file.
void set_seq_time(const char* time);
// Reports a session left over from before (a power cut) through the
// dispatcher, as an "sssn" element.
void checkSessionInfo();
// The "sssn" element: a stop event with exactly these values.
void sendSessionInfo(unsigned long long song_id, std::string session_id, unsigned int sec);
// The stop event of the current session, when there is one to report.
void do_stopApi(unsigned long long song_id);
void callback_stop(int status, const std::string& body, void* user);
