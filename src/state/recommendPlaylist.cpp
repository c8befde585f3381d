#include "state/recommendPlaylist.h"

#include "base/debug.h"

namespace {

std::vector<Playlist> list_;

} // namespace

void recommendPlaylist_set_list(const Self& answer) {
    read_list(answer, RECOMMEND_PLAYLIST_RULE, list_);
}

std::vector<Playlist>& recommendPlaylists_get() {
    return list_;
}

void recommendPlaylists_dump() {
    for (const Playlist& playlist : list_) {
        debug_printf("* %5lld: %s\n", static_cast<long long>(playlist.id), playlist.name.c_str());
    }
}

void init_recmplaylist() {
    list_.clear();
}
