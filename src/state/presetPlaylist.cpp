#include "state/presetPlaylist.h"

namespace {

std::vector<Playlist> presetlist_;
std::map<uint64_t, SharedSongs> presetIdToSongs_;

} // namespace

void presetlist_set_list(const Self& answer) {
    read_list(answer, PRESET_PLAYLIST_RULE, presetlist_);
    for (auto it = presetIdToSongs_.begin(); it != presetIdToSongs_.end();) {
        if (presetlist_get_from_id(it->first) == presetlist_.end()) {
            it = presetIdToSongs_.erase(it);
        } else {
            ++it;
        }
    }
}

int presetlist_set_songs(uint64_t id, const Self& answer) {
    if (presetlist_get_from_id(id) == presetlist_.end()) {
        return -1;
    }
    std::vector<Song> songs;
    read_list(answer, PLAYLIST_SONGS_RULE, songs);
    presetIdToSongs_[id] = share_songs(std::move(songs));
    return 0;
}

void gratislist_set_list(const Self& answer) {
    read_list(answer, GRATIS_PLAYLIST_RULE, presetlist_);
    if (presetlist_.empty()) {
        return;
    }
    std::vector<Song> songs;
    read_list(answer, PLAYLIST_SONGS_RULE, songs);
    SharedSongs shared = share_songs(std::move(songs));
    // Songs stored for preset playlists fetched earlier stay in the map.
    for (const Playlist& playlist : presetlist_) {
        presetIdToSongs_[playlist.id] = shared;
    }
}

std::vector<Playlist>& presetlists_get() {
    return presetlist_;
}

std::map<uint64_t, SharedSongs>& presetSongs_get() {
    return presetIdToSongs_;
}

std::vector<Playlist>::iterator presetlist_get_from_id(uint64_t id) {
    return search_from_id(presetlist_, id);
}

void presetPlaylists_dump() {}

void init_presetPlaylist() {
    presetlist_.clear();
    presetIdToSongs_.clear();
}
