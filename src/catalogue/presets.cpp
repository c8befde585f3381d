#include "catalogue/presets.h"

#include "catalogue/lists.h"
#include "net/curl.h"
#include "net/webapi.h"
#include "request/answer.h"
#include "state/presetPlaylist.h"
#include "state/service.h"
#include "ui/dialog_keys.h"
#include "ui/json.h"

#include <cstdlib>

namespace {

void on_preset_songs(Self& answer, void* user) {
    // The list may have been replaced since the request left (a gratis
    // answer, a newer preset answer): songs of a playlist no longer listed
    // are not kept.
    if (presetlist_set_songs(curl_id_of_user(user), answer) == 0) {
        json_make_presetPlaylist_json();
    }
}

void on_all_presets(Self& answer, void*) {
    presetlist_set_list(answer);
    json_make_presetPlaylist_json();
    catalogue_list_loaded(CatalogueList::Presets);
}

void on_gratis(Self& answer, void*) {
    gratislist_set_list(answer);
    json_make_presetPlaylist_json();
    catalogue_list_loaded(CatalogueList::Gratis);
}

constexpr AnswerHandler PRESET_SONGS_ANSWER = AnswerHandler()
                                                  .with_parse_label("get preset playlist")
                                                  .with_operation("get preset playlist")
                                                  .with_success(on_preset_songs)
                                                  .with_hides_wait_dialog(true);
constexpr AnswerHandler ALL_PRESETS_ANSWER = AnswerHandler()
                                                 .with_parse_label("get all preset playlist")
                                                 .with_operation("get all preset playlist")
                                                 .with_success(on_all_presets);
constexpr AnswerHandler GRATIS_ANSWER = AnswerHandler()
                                            .with_parse_label("get gratis playlist")
                                            .with_operation("gratis playlist")
                                            .with_success(on_gratis);

constexpr RequestStarter PRESET_SONGS_REQUEST = RequestStarter()
                                                    .with_wait_message(DLG_MSG_CONNECTING)
                                                    .with_unsent_label("get preset playlist")
                                                    .with_newest_only(true);
// Steps of the start-up chain: a request that cannot be sent replaces the
// chain's wait dialog, which no answer would close.
constexpr RequestStarter ALL_PRESETS_REQUEST =
    RequestStarter().with_unsent_label("get all preset playlist").with_newest_only(true);
constexpr RequestStarter GRATIS_REQUEST =
    RequestStarter().with_unsent_label("get gratis playlist").with_newest_only(true);

} // namespace

void do_presetPlaylist(const char* id) {
    if (id == nullptr) {
        return;
    }
    uint64_t playlist = static_cast<uint64_t>(strtoll(id, nullptr, 10));
    start_request(PRESET_SONGS_REQUEST, callback_presetPlaylist, playlist,
                  [playlist](const RequestCallback& answer) {
                      return webapi_ondemand_cms_playlist(playlist, answer,
                                                          curl_user_of_id(playlist));
                  });
}

void callback_presetPlaylist(int status, const std::string& body, void* user) {
    handle_answer(PRESET_SONGS_ANSWER, status, body, user);
}

void do_allPresetPlaylist() {
    start_request(ALL_PRESETS_REQUEST, callback_allPresetPlaylist, 0,
                  [](const RequestCallback& answer) {
                      return webapi_ondemand_cms_allplaylist(answer, nullptr);
                  });
}

void callback_allPresetPlaylist(int status, const std::string& body, void* user) {
    handle_answer(ALL_PRESETS_ANSWER, status, body, user);
}

void do_gratisPlaylist() {
    start_request(GRATIS_REQUEST, callback_gratisPlaylist, 0, [](const RequestCallback& answer) {
        return webapi_ondemand_gratis_playlist(answer, nullptr);
    });
}

void callback_gratisPlaylist(int status, const std::string& body, void* user) {
    handle_answer(GRATIS_ANSWER, status, body, user);
}
