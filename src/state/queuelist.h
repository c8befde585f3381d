// The play queue: the user's own running order of songs, kept in memory.
// Each entry is a copy of a song-list record with a fresh uid; display_order
// is always the entry's index.
#pragma once

#include "state/records.h"

#include <cstdint>
#include <vector>

constexpr size_t QUEUE_MAX = 100;

std::vector<Song>& queuelist_get();
void queuelist_dump();
void init_qlist();

// The song-list record of this id into `song`; -1 when the list has none.
int getSongInfo(uint64_t id, Song& song);
// Appends the song-list record of this id. -1 for a full queue or an id the
// song list lacks; 0 without adding for a song whose isPlayOk is "false".
int addSongToQueuelistBtm(uint64_t id);
// The same at the front; the limit is checked only with `checkMax`.
int addSongToQueuelistTop(uint64_t id, bool checkMax);
// -1 unless 0 <= index < size.
int rmvSongToQueuelist(int index);
// Moves entry `from` to index `to` of the shortened queue; both must lie in
// 0 to size-1, else nothing changes.
void sortQueuelist(int from, int to);
void updateDisplayOrders();
bool isMaxSize_Queue();
