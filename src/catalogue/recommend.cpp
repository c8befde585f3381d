#include "catalogue/recommend.h"

#include "catalogue/search.h"
#include "net/webapi.h"
#include "service/answer.h"
#include "service/status.h"
#include "state/genre_list.h"
#include "state/recommendPlaylist.h"
#include "ui/dialog_keys.h"
#include "ui/json.h"

namespace {

void on_recommend_playlists(Self& answer, void*) {
    recommendPlaylist_set_list(answer);
    json_make_recommendPlaylist_json();
    continue_startup_chain({STARTUP_DONE});
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
    continue_startup_chain({STARTUP_AFTER_GENRES});
}

const AnswerHandler RECOMMEND_PLAYLISTS_ANSWER = {"recommend Playlist", "recommend Playlist",
                                                  on_recommend_playlists};
const AnswerHandler RECOMMEND_ANSWER = {"recommend", "recommend", on_recommend, true};
const AnswerHandler HISTORY_ANSWER = {"recent", "recent", on_history, true};
const AnswerHandler GENRES_ANSWER = {"Genre error", "genres", on_genres, false, true};

// The recommended playlists and the genres are also steps of the start-up
// chain: a request that cannot be sent replaces the chain's wait dialog,
// which no answer would close.
const RequestStarter RECOMMEND_PLAYLISTS_REQUEST = {true, nullptr, "recommend Playlist", false,
                                                    true};
const RequestStarter RECOMMEND_REQUEST = {true, DLG_MSG_CONNECTING, "recommend", false, true};
const RequestStarter HISTORY_REQUEST = {true, DLG_MSG_CONNECTING, "recent", false, true};
const RequestStarter GENRES_REQUEST = {true, nullptr, "Genre error", false, true};

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
