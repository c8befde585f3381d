// The preset playlists (or, for a gratis member, the gratis playlists) and
// the songs stored for each of them.
#pragma once

#include "state/records.h"

#include <map>
#include <vector>

std::vector<Playlist>& presetlists_get();
std::map<uint64_t, std::vector<Song>>& presetSongs_get();
std::vector<Playlist>::iterator presetlist_get_from_id(uint64_t id);
void presetPlaylists_dump();
void init_presetPlaylist();
