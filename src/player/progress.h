// The download progress figure of the song being prepared, queued by the
// transport's progress reports and taken one at a time by the dialog.
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
// Takes the oldest queued figure; false when none waits.
bool progress_take(std::string& figure);
void progress_clear();
