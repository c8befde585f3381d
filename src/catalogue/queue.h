// The play-queue commands. The web interface adds or removes songs in
// batches framed by the pseudo-ids "start" and "end"; each batch shows one
// wait dialog, and the queue file is rewritten at its end.
#pragma once

void setting_queuelist();
void addSongToQueueBtm(const char* songId);
void addSongToQueueTop(const char* songId);
void rmvSongToQueue(const char* display_order);
void sortQueue(const char* before, const char* after);
// Adds the song at the top, even to a full queue, and plays it at once.
void quickPlayQueueSong(const char* category, const char* songId);
