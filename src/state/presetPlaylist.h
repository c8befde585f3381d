// The preset playlists (or, for a gratis member, the gratis playlists) and
// the songs stored for each of them. The setters only fill the lists; the
// caller publishes them.
#pragma once

#include "state/records.h"

#include <map>
#include <vector>

// Replaces the preset playlists with those of the answer; songs stored
// earlier are kept for the playlists that are still listed.
void presetlist_set_list(const Self& answer);
// Every item of the answer becomes the songs of playlist `id`; -1, and
// nothing changes, when no such playlist is listed.
int presetlist_set_songs(uint64_t id, const Self& answer);
// Replaces the list with the gratis playlists, each holding every item of
// the answer: one list of songs, shared by all of them.
void gratislist_set_list(const Self& answer);

std::vector<Playlist>& presetlists_get();
std::map<uint64_t, SharedSongs>& presetSongs_get();
std::vector<Playlist>::iterator presetlist_get_from_id(uint64_t id);
void presetPlaylists_dump();
void init_presetPlaylist();
