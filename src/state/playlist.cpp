#include "state/playlist.h"

namespace {

std::vector<Playlist> list_;
std::map<uint64_t, std::vector<Song>> idToSongs_;

} // namespace

std::vector<Playlist>& playlists_get() {
    return list_;
}

std::map<uint64_t, std::vector<Song>>& playlistSongs_get() {
    return idToSongs_;
}

std::vector<Playlist>::iterator playlist_get_from_id(uint64_t id) {
    return search_from_id(list_, id);
}

void playlists_dump() {}

void init_userplaylist() {
    list_.clear();
    idToSongs_.clear();
}
