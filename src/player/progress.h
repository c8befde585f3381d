// The download progress figure of the song being prepared: the transport's
// reports are queued, and a 250 ms timer shows the oldest in the dialog. The
// timer runs only while a song is prepared.
#pragma once

#include <cstdint>
#include <string>

// Queues a progress figure of song `id`: the play song fills the first half
// of the bar when a next song is prepared too, the next song the second half.
// Other songs and texts that are not numbers are ignored.
void updateProgress(const std::string& text, uint64_t id);
// The transport's report of a download: only the downloads that stand for
// the song's size (the archive or audio track, or the MIDI file of a song
// without audio) feed the figure.
void progress_of_download(const std::string& output, uint64_t id, const std::string& figure);
// Queues a figure as it is.
void progress_put(const std::string& figure);
// Takes the oldest queued figure; false when none waits.
bool progress_take(std::string& figure);

// Starts the timer with an empty queue; nothing when it runs already.
void started_progress_timer();
void stopped_progress_timer();
bool is_started_progress_timer();
