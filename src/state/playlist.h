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

// Replaces the list with the answer's playlists; the stored songs of the
// playlists still listed stay, those of the others are dropped.
void playlist_set_list(const Self& answer);
// Replaces the songs of a listed playlist with every item of the answer;
// -1 and nothing changed when the playlist is not (or no longer) listed.
int playlist_set_songs(uint64_t id, const Self& answer);
