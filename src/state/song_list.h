// The song list: the last search, recommended-songs or history answer, and
// a copy of the last plain keyword search.
#pragma once

#include "state/records.h"

#include <vector>

// What filled the list.
enum SongListKind {
    SONGLIST_SEARCH = 0,
    SONGLIST_GENRE_SEARCH = 1,
    SONGLIST_HISTORY = 2,
    SONGLIST_RECOMMEND = 3
};

// Fills the list from an answer; a plain search is also remembered.
void songlist_fill(const Self& answer, int kind);
// Brings the remembered search back.
void songlist_set_old_search();
void songlist_clear();
std::vector<Song>& songlist_get();
std::vector<Song>::iterator songlist_get_from_id(uint64_t id);
void songlist_dump();
