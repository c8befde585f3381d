// The recommended playlists, each holding its own songs. The setter only
// fills the list; the caller publishes it.
#pragma once

#include "state/records.h"

#include <vector>

// Replaces the list with the answer's playlists, each with the items that
// follow it in the answer.
void recommendPlaylist_set_list(const Self& answer);
std::vector<Playlist>& recommendPlaylists_get();
void recommendPlaylists_dump();
void init_recmplaylist();
