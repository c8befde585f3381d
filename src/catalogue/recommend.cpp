#include "catalogue/recommend.h"

#include "catalogue/lists.h"
#include "catalogue/search.h"
#include "net/webapi.h"
#include "request/answer.h"
#include "state/genre_list.h"
#include "state/recommendPlaylist.h"
#include "state/service.h"
#include "ui/dialog_keys.h"
#include "ui/json.h"

namespace {

void on_recommend_playlists(Self& answer, void*) {
    recommendPlaylist_set_list(answer);
    json_make_recommendPlaylist_json();
    catalogue_list_loaded(CatalogueList::RecommendPlaylists);
}

void on_recommend(Self& answer, void*) {
    songlist_set_list(answer, SONGLIST_RECOMMEND);
}

void on_history(Self& answer, void*) {
    songlist_set_list(answer, SONGLIST_HISTORY);
}

void on_genres(Self& answer, void*) {
    // The genres are published with the status file, which the row rewrites
    // after every answer.
    setGenres(answer);
    catalogue_list_loaded(CatalogueList::Genres);
}

constexpr AnswerHandler RECOMMEND_PLAYLISTS_ANSWER = AnswerHandler()
                                                         .with_parse_label("recommend Playlist")
                                                         .with_operation("recommend Playlist")
                                                         .with_success(on_recommend_playlists);
constexpr AnswerHandler RECOMMEND_ANSWER = AnswerHandler()
                                               .with_parse_label("recommend")
                                               .with_operation("recommend")
                                               .with_success(on_recommend)
                                               .with_hides_wait_dialog(true);
constexpr AnswerHandler HISTORY_ANSWER = AnswerHandler()
                                             .with_parse_label("recent")
                                             .with_operation("recent")
                                             .with_success(on_history)
                                             .with_hides_wait_dialog(true);
constexpr AnswerHandler GENRES_ANSWER = AnswerHandler()
                                            .with_parse_label("Genre error")
                                            .with_operation("genres")
                                            .with_success(on_genres)
                                            .with_publishes_status(true);

// The recommended playlists and the genres are also steps of the start-up
// chain: a request that cannot be sent replaces the chain's wait dialog,
// which no answer would close.
constexpr RequestStarter RECOMMEND_PLAYLISTS_REQUEST =
    RequestStarter().with_unsent_label("recommend Playlist").with_newest_only(true);
constexpr RequestStarter RECOMMEND_REQUEST = RequestStarter()
                                                 .with_wait_message(DLG_MSG_CONNECTING)
                                                 .with_unsent_label("recommend")
                                                 .with_newest_only(true);
constexpr RequestStarter HISTORY_REQUEST = RequestStarter()
                                               .with_wait_message(DLG_MSG_CONNECTING)
                                               .with_unsent_label("recent")
                                               .with_newest_only(true);
constexpr RequestStarter GENRES_REQUEST =
    RequestStarter().with_unsent_label("Genre error").with_newest_only(true);

} // namespace

void do_recommendPlaylists() {
    start_request(RECOMMEND_PLAYLISTS_REQUEST, callback_recommendPlaylist, 0,
                  [](const RequestCallback& answer) {
                      return webapi_ondemand_recommendPlaylists(answer, nullptr);
                  });
}

void callback_recommendPlaylist(int status, const std::string& body, void* user) {
    handle_answer(RECOMMEND_PLAYLISTS_ANSWER, status, body, user);
}

void do_recommend() {
    start_request(RECOMMEND_REQUEST, callback_recommend, 0, [](const RequestCallback& answer) {
        return webapi_ondemand_recommend(answer, nullptr);
    });
}

void callback_recommend(int status, const std::string& body, void* user) {
    handle_answer(RECOMMEND_ANSWER, status, body, user);
}

void do_history() {
    start_request(HISTORY_REQUEST, callback_hisotry, 0, [](const RequestCallback& answer) {
        return webapi_ondemand_history(answer, nullptr);
    });
}

void callback_hisotry(int status, const std::string& body, void* user) {
    handle_answer(HISTORY_ANSWER, status, body, user);
}

void do_genres() {
    // While off the command only shows the status, genres included.
    if (get_status() == 0) {
        json_make_status_json();
        return;
    }
    start_request(GENRES_REQUEST, callback_genres, 0, [](const RequestCallback& answer) {
        return webapi_ondemand_genres(answer, nullptr);
    });
}

void callback_genres(int status, const std::string& body, void* user) {
    handle_answer(GENRES_ANSWER, status, body, user);
}
