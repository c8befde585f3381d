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

void playlist_set_list(const Self& answer) {
    read_list(answer, USER_PLAYLIST_RULE, list_);
    for (auto it = idToSongs_.begin(); it != idToSongs_.end();) {
        if (playlist_get_from_id(it->first) == list_.end()) {
            it = idToSongs_.erase(it);
        } else {
            ++it;
        }
    }
}

int playlist_set_songs(uint64_t id, const Self& answer) {
    // Answers are applied in the order their requests finish: songs of a
    // playlist that a newer list answer has dropped are not kept.
    if (playlist_get_from_id(id) == list_.end()) {
        return -1;
    }
    read_list(answer, PLAYLIST_SONGS_RULE, idToSongs_[id]);
    return 0;
}
