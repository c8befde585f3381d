#include "catalogue/search.h"

#include "net/webapi.h"
#include "service/answer.h"
#include "ui/dialog_keys.h"
#include "ui/json.h"

namespace {

const char* or_empty(const char* text) {
    return text != nullptr ? text : "";
}

// The user value tells the answer whether the search named a genre. Its
// songs were read while the answer was parsed.
void on_search(Self&, void* by_genre) {
    songlist_fill_streamed(by_genre != nullptr ? SONGLIST_GENRE_SEARCH : SONGLIST_SEARCH);
    json_make_songlist_json();
}

const AnswerStream SEARCH_SONGS = {songlist_stream_begin, songlist_stream_visit,
                                   songlist_stream_discard};
// The status file's request count goes down with the answer.
const AnswerHandler SEARCH_ANSWER = {
    "search",        "search", on_search, true,    true,         Unreadable::ShowLabel,
    Failure::Dialog, nullptr,  0,         nullptr, &SEARCH_SONGS};
const RequestStarter SEARCH_REQUEST = {true, DLG_MSG_CONNECTING, "search", true, true};

} // namespace

void songlist_set_list(const Self& answer, int kind) {
    songlist_fill(answer, kind);
    json_make_songlist_json();
}

void do_search(const char* page, const char* page_size, const char* title, const char* artist,
               const char* composer, const char* genre) {
    void* by_genre = genre != nullptr ? reinterpret_cast<void*>(1) : nullptr;
    start_request(SEARCH_REQUEST, callback_search, 0, [=](const RequestCallback& answer) {
        return webapi_ondemand_items(or_empty(page), or_empty(page_size), or_empty(title),
                                     or_empty(artist), or_empty(composer), or_empty(genre), answer,
                                     by_genre);
    });
}

void callback_search(int status, const std::string& body, void* user) {
    handle_answer(SEARCH_ANSWER, status, body, user);
}

void do_getSongListOldSearch() {
    songlist_set_old_search();
    json_make_songlist_json();
}

void do_clearSonglist() {
    songlist_clear();
    json_make_songlist_json();
}
