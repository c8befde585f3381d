#include "state/song_list.h"

namespace {

std::vector<Song> list_;
std::vector<Song> list_old_search;

} // namespace

void songlist_fill(const Self& answer, int kind) {
    read_list(answer, SONG_LIST_RULE, list_);
    if (kind == SONGLIST_SEARCH) {
        list_old_search = list_;
    }
}

void songlist_set_old_search() {
    list_ = list_old_search;
}

void songlist_clear() {
    list_.clear();
}

std::vector<Song>& songlist_get() {
    return list_;
}

std::vector<Song>::iterator songlist_get_from_id(uint64_t id) {
    return search_from_id(list_, id);
}

void songlist_dump() {
    dump_songs(list_);
}
