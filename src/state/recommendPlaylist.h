// The recommended playlists, each holding its own songs.
#pragma once

#include "state/records.h"

#include <vector>

std::vector<Playlist>& recommendPlaylists_get();
void recommendPlaylists_dump();
void init_recmplaylist();
