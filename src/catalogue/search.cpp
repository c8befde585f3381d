#include "catalogue/search.h"

#include "net/webapi.h"
#include "request/answer.h"
#include "ui/dialog_keys.h"
#include "ui/json.h"

namespace {

const char* or_empty(const char* text) {
    return text != nullptr ? text : "";
}

// The user value of a search that named a genre: the answer files its
// songs as a genre search.
char genre_search_mark;

// Its songs were read while the answer was parsed.
void on_search(Self&, void* user) {
    songlist_fill_streamed(user == &genre_search_mark ? SONGLIST_GENRE_SEARCH : SONGLIST_SEARCH);
    json_make_songlist_json();
}

const AnswerStream SEARCH_SONGS = {songlist_stream_begin, songlist_stream_visit,
                                   songlist_stream_discard};
// The status file's request count goes down with the answer. The answer
// streams: its songs become records while it is parsed.
constexpr AnswerHandler SEARCH_ANSWER = AnswerHandler()
                                            .with_parse_label("search")
                                            .with_operation("search")
                                            .with_success(on_search)
                                            .with_hides_wait_dialog(true)
                                            .with_publishes_status(true)
                                            .with_stream(&SEARCH_SONGS);
constexpr RequestStarter SEARCH_REQUEST = RequestStarter()
                                              .with_wait_message(DLG_MSG_CONNECTING)
                                              .with_unsent_label("search")
                                              .with_publishes_status(true)
                                              .with_newest_only(true);

} // namespace

void songlist_set_list(const Self& answer, int kind) {
    songlist_fill(answer, kind);
    json_make_songlist_json();
}

void do_search(const char* page, const char* page_size, const char* title, const char* artist,
               const char* composer, const char* genre) {
    void* by_genre = genre != nullptr ? &genre_search_mark : nullptr;
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
