// The user's playlists and the songs stored for each of them.
#pragma once

#include "state/records.h"

#include <map>
#include <vector>

std::vector<Playlist>& playlists_get();
std::map<uint64_t, std::vector<Song>>& playlistSongs_get();
std::vector<Playlist>::iterator playlist_get_from_id(uint64_t id);
void playlists_dump();
void init_userplaylist();
