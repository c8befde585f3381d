#include "state/presetPlaylist.h"

namespace {

std::vector<Playlist> presetlist_;
std::map<uint64_t, std::vector<Song>> presetIdToSongs_;

} // namespace

std::vector<Playlist>& presetlists_get() {
    return presetlist_;
}

std::map<uint64_t, std::vector<Song>>& presetSongs_get() {
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
