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

// Fills the list from an answer and publishes it.
void songlist_set_list(const Self& answer, int kind);
// Fills the list without publishing (the test console writes no files).
void songlist_fill(const Self& answer, int kind);
void songlist_set_old_search();
void songlist_clear();
std::vector<Song>& songlist_get();
std::vector<Song>::iterator songlist_get_from_id(uint64_t id);
void songlist_dump();

// Commands.
void do_search(const char* page, const char* page_size, const char* title, const char* artist,
               const char* composer, const char* genre);
void do_getSongListOldSearch();
void do_clearSonglist();
