#include "catalogue/song_list.h"

#include "net/webapi.h"
#include "service/answer.h"
#include "service/status.h"
#include "ui/dialog.h"
#include "ui/json.h"

namespace {

std::vector<Song> list_;
std::vector<Song> list_old_search;

const char* or_empty(const char* text) {
    return text != nullptr ? text : "";
}

void callback_search(int status, const std::string& body, void* user) {
    Self answer;
    if (!accept_answer(status, body, "search", "search", answer)) {
        return;
    }
    songlist_set_list(answer, user != nullptr ? SONGLIST_GENRE_SEARCH : SONGLIST_SEARCH);
    hide_wait_dialog();
}

} // namespace

void songlist_fill(const Self& answer, int kind) {
    read_songs(answer, true, list_);
    sort_by_display_order(list_);
    if (kind == SONGLIST_SEARCH) {
        list_old_search = list_;
    }
}

void songlist_set_list(const Self& answer, int kind) {
    songlist_fill(answer, kind);
    json_make_songlist_json();
}

void songlist_set_old_search() {
    list_ = list_old_search;
    json_make_songlist_json();
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

void do_search(const char* page, const char* page_size, const char* title, const char* artist,
               const char* composer, const char* genre) {
    if (get_status() != 0) {
        json_make_dlg_wait_modal(DLG_TITLE_MESSAGE, DLG_MSG_CONNECTING, true, false);
        // The user value tells the answer whether the search named a genre.
        void* by_genre = genre != nullptr ? reinterpret_cast<void*>(1) : nullptr;
        report_unsent_request(webapi_ondemand_items(or_empty(page), or_empty(page_size),
                                                    or_empty(title), or_empty(artist),
                                                    or_empty(composer), or_empty(genre),
                                                    callback_search, by_genre),
                              "search");
    }
    json_make_status_json();
}

void do_getSongListOldSearch() {
    songlist_set_old_search();
}

void do_clearSonglist() {
    songlist_clear();
    json_make_songlist_json();
}
