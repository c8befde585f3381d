// Searching the catalogue: the search command, its answer, and bringing back
// or clearing the song list.
#pragma once

#include "state/song_list.h"

// Fills the song list from an answer and publishes it.
void songlist_set_list(const Self& answer, int kind);

void do_search(const char* page, const char* page_size, const char* title, const char* artist,
               const char* composer, const char* genre);
void callback_search(int status, const std::string& body, void* user);
void do_getSongListOldSearch();
void do_clearSonglist();
