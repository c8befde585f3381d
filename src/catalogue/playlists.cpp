#include "catalogue/playlists.h"

#include "base/debug.h"
#include "catalogue/lists.h"
#include "common/str.h"
#include "net/curl.h"
#include "net/webapi.h"
#include "player/ondemandPlayer.h"
#include "request/answer.h"
#include "state/playManager.h"
#include "state/playlist.h"
#include "state/service.h"
#include "ui/dialog.h"
#include "ui/json.h"

#include <algorithm>
#include <climits>
#include <cstdint>
#include <cstdlib>
#include <deque>
#include <set>

namespace {

// The web interface sends the songs of one add batch one command each; more
// than this many are not kept.
constexpr size_t ADD_BATCH_MAX = 1000;

// One song of an add batch waiting to be sent.
struct PendingSong {
    uint64_t playlistId = 0;
    uint32_t itemId = 0;
    uintptr_t batch = 0;
};

// The add-songs batches: their songs are sent one request at a time, each
// after the previous one was added, a batch after the one before it.
struct ADD_SONG_INFO {
    // The playlist of the batch being named.
    uint64_t playlistId = 0;
    std::deque<PendingSong> songs;
    // Counts the batches; each request carries the number of its own, so a
    // failure drops the rest of its own batch only.
    uintptr_t batch = 0;
    // Songs named in the newest batch.
    size_t named = 0;
    // Between "start" and "end": the songs are still being named.
    bool naming = false;
    // A song has been sent and its answer has not arrived.
    bool sending = false;
};

ADD_SONG_INFO addSongInfo;

// Playlists whose songs an update on its way replaces.
std::set<uint64_t> replacing_;

const char* or_empty(const char* text) {
    return text != nullptr ? text : "";
}

uint64_t playlist_id_of(const char* id) {
    return static_cast<uint64_t>(strtoll(id, nullptr, 10));
}

// Song ids are unsigned 32-bit numbers for the service; other text is no
// song.
bool item_id_of(const char* item_id, uint32_t& out) {
    unsigned long long value = 0;
    if (!str::parse_number(item_id, UINT32_MAX, value)) {
        return false;
    }
    out = static_cast<uint32_t>(value);
    return true;
}

bool playing_user_playlist() {
    return getOndemandPlayManager().category == CATEGORY_USER;
}

// The play manager takes its songs from the changed playlist.
void follow_user_playlist() {
    updatePlayManager();
    json_make_playmanager_info();
}

void on_all_playlists(Self& answer, void*) {
    playlist_set_list(answer);
    json_make_playlist_json();
    if (playing_user_playlist()) {
        follow_user_playlist();
    }
    catalogue_list_loaded(CatalogueList::UserPlaylists);
}

void on_playlist_songs(Self& answer, void* user) {
    uint64_t id = curl_id_of_user(user);
    // The songs of a playlist no longer listed are dropped, and its file
    // stays as it is.
    if (playlist_set_songs(id, answer) != 0) {
        return;
    }
    json_make_playlist_json();
    if (playing_user_playlist() && getOndemandPlayManager().playlistID == id) {
        follow_user_playlist();
    }
}

// The service's state is fetched again after every edit. The wait dialog is
// cleared first, so that a list request that cannot be sent leaves its error
// showing.
void on_edited(Self&, void*) {
    hide_wait_dialog();
    do_allplaylists();
}

// Once the service has taken the edit, the play manager's choice from the
// playlist is stale; a refused edit leaves it as it was.
void on_deleted(Self& answer, void* user) {
    checkPlayManagerPlaylistID(curl_id_of_user(user));
    on_edited(answer, user);
}

void on_updated(Self& answer, void* user) {
    if (replacing_.erase(curl_id_of_user(user)) != 0) {
        checkPlayManagerPlaylistID(curl_id_of_user(user));
    }
    on_edited(answer, user);
}

void on_update_failed(void* user) {
    replacing_.erase(curl_id_of_user(user));
}

void addSongToUserPlaylist();

// One request at a time: the next song goes once this one's answer is in.
// After a failure the rest of its batch is dropped; songs already added, and
// batches after it, stay.
void song_answered(void* user, bool added) {
    addSongInfo.sending = false;
    if (!added) {
        auto batch = reinterpret_cast<uintptr_t>(user);
        auto& songs = addSongInfo.songs;
        songs.erase(
            std::remove_if(songs.begin(), songs.end(),
                           [batch](const PendingSong& song) { return song.batch == batch; }),
            songs.end());
    }
    if (!addSongInfo.songs.empty()) {
        addSongToUserPlaylist();
    } else if (added && !addSongInfo.naming) {
        hide_wait_dialog();
    }
}

void on_song_added(Self&, void* user) {
    song_answered(user, true);
}

void on_song_failed(void* user) {
    song_answered(user, false);
}

constexpr AnswerHandler ALL_PLAYLISTS_ANSWER = AnswerHandler()
                                                   .with_parse_label("all user Playlist")
                                                   .with_operation("all user Playlist")
                                                   .with_success(on_all_playlists);
// An unreadable answer shows nothing; a refused one (400) still holds the
// playlist's songs as the service has them.
constexpr AnswerHandler PLAYLIST_ANSWER = AnswerHandler()
                                              .with_operation("get user playlist")
                                              .with_success(on_playlist_songs)
                                              .with_hides_wait_dialog(true)
                                              .with_publishes_status(true)
                                              .with_unreadable(Unreadable::Ignore)
                                              .with_taken_failure(400);
constexpr AnswerHandler CREATE_ANSWER = AnswerHandler()
                                            .with_parse_label("create user playlist")
                                            .with_operation("create user playlist")
                                            .with_success(on_edited)
                                            .with_publishes_status(true);
constexpr AnswerHandler DELETE_ANSWER = AnswerHandler()
                                            .with_parse_label("delete user playlist")
                                            .with_operation("delete user playlist")
                                            .with_success(on_deleted)
                                            .with_publishes_status(true);
constexpr AnswerHandler UPDATE_ANSWER = AnswerHandler()
                                            .with_parse_label("update user playlist")
                                            .with_operation("update user playlist")
                                            .with_success(on_updated)
                                            .with_publishes_status(true)
                                            .with_failed(on_update_failed);
constexpr AnswerHandler ADD_SONG_ANSWER = AnswerHandler()
                                              .with_parse_label("add user playlist")
                                              .with_operation("add user playlist")
                                              .with_success(on_song_added)
                                              .with_failed(on_song_failed);

// The list is fetched in the start-up chain too: a request that cannot be
// sent stops the chain under this error rather than under its wait dialog.
constexpr RequestStarter ALL_PLAYLISTS_REQUEST =
    RequestStarter().with_unsent_label("all user Playlist").with_newest_only(true);
constexpr RequestStarter PLAYLIST_REQUEST = RequestStarter()
                                                .with_wait_message(DLG_MSG_CONNECTING)
                                                .with_unsent_label("get user playlist")
                                                .with_newest_only(true);
constexpr RequestStarter ADD_PREPARE_REQUEST = RequestStarter()
                                                   .with_wait_message(DLG_MSG_ADD_PL)
                                                   .with_unsent_label("get user playlist")
                                                   .with_newest_only(true);
constexpr RequestStarter ADD_SONG_REQUEST = RequestStarter().with_unsent_label("add user playlist");

// The dialog of an update, by what the interface says it changes.
const char* update_message(const char* ctrl) {
    if (ctrl == nullptr) {
        return nullptr;
    }
    if (str::iequals(ctrl, "rename")) {
        return DLG_MSG_RENAME;
    }
    if (str::iequals(ctrl, "add")) {
        return DLG_MSG_ADD_PL;
    }
    if (str::iequals(ctrl, "delete")) {
        return DLG_MSG_DELETE;
    }
    if (str::iequals(ctrl, "sort")) {
        return DLG_MSG_SORT;
    }
    return nullptr;
}

void start_create(const char* message, const char* name, const char* items) {
    start_request({true, message, "create user playlist", true}, callback_createPlaylist, 0,
                  [name, items](const RequestCallback& answer) {
                      return webapi_ondemand_create_playlist(or_empty(name), or_empty(items),
                                                             answer, nullptr);
                  });
}

// Sends the oldest waiting song, unless one is on its way or its batch is
// still being named.
void addSongToUserPlaylist() {
    if (addSongInfo.sending || addSongInfo.songs.empty() ||
        (addSongInfo.naming && addSongInfo.songs.front().batch == addSongInfo.batch)) {
        return;
    }
    PendingSong song = addSongInfo.songs.front();
    addSongInfo.songs.pop_front();
    std::string item;
    str::format(item, "%u", static_cast<unsigned>(song.itemId));
    void* batch = reinterpret_cast<void*>(song.batch);
    addSongInfo.sending = true;
    if (start_request(ADD_SONG_REQUEST, callback_addSongPlaylist, 0,
                      [&song, &item, batch](const RequestCallback& answer) {
                          return webapi_ondemand_addsong_playlist(song.playlistId, item, answer,
                                                                  batch);
                      }) != 0) {
        // No answer will come to go on from: the error shown (or the service
        // switched off) ends every batch.
        addSongInfo.sending = false;
        addSongInfo.songs.clear();
    }
}

} // namespace

void do_allplaylists() {
    start_request(ALL_PLAYLISTS_REQUEST, callback_allplaylists, 0,
                  [](const RequestCallback& answer) {
                      return webapi_ondemand_all_playlists(answer, nullptr);
                  });
}

void callback_allplaylists(int status, const std::string& body, void* user) {
    handle_answer(ALL_PLAYLISTS_ANSWER, status, body, user);
}

void do_playlist(const char* id) {
    if (id == nullptr) {
        return;
    }
    uint64_t playlist = playlist_id_of(id);
    start_request(PLAYLIST_REQUEST, callback_playlist, playlist,
                  [playlist](const RequestCallback& answer) {
                      return webapi_ondemand_playlist(playlist, answer, curl_user_of_id(playlist));
                  });
}

void callback_playlist(int status, const std::string& body, void* user) {
    handle_answer(PLAYLIST_ANSWER, status, body, user);
}

void do_createPlaylist(const char* name, const char* items) {
    // An empty "items" still names songs to add: the interface's add path.
    start_create(items != nullptr ? DLG_MSG_ADD_PL : DLG_MSG_CREATE, name, items);
}

void do_copyPlaylist(const char* name, const char* items) {
    start_create(DLG_MSG_COPY, name, items);
}

void callback_createPlaylist(int status, const std::string& body, void* user) {
    handle_answer(CREATE_ANSWER, status, body, user);
}

void do_deletePlaylist(const char* id) {
    if (id == nullptr) {
        return;
    }
    uint64_t playlist = playlist_id_of(id);
    start_request({true, DLG_MSG_DELETE, "delete user playlist", true}, callback_deletePlaylist,
                  playlist, [playlist](const RequestCallback& answer) {
                      return webapi_ondemand_delete_playlist(playlist, answer,
                                                             curl_user_of_id(playlist));
                  });
}

void callback_deletePlaylist(int status, const std::string& body, void* user) {
    handle_answer(DELETE_ANSWER, status, body, user);
}

void do_updatePlaylist(const char* id, const char* name, const char* items, const char* sort,
                       const char* ctrl) {
    if (id == nullptr) {
        return;
    }
    uint64_t playlist = playlist_id_of(id);
    start_request({true, update_message(ctrl), "update user playlist", true},
                  callback_updatePlaylist, playlist, [=](const RequestCallback& answer) {
                      int sent = webapi_ondemand_update_playlist(playlist, or_empty(name),
                                                                 or_empty(items), or_empty(sort),
                                                                 answer, curl_user_of_id(playlist));
                      // Its songs change: once taken, the play manager's
                      // choice from them is stale.
                      if (sent == 0 && items != nullptr) {
                          replacing_.insert(playlist);
                      }
                      return sent;
                  });
}

void callback_updatePlaylist(int status, const std::string& body, void* user) {
    handle_answer(UPDATE_ANSWER, status, body, user);
}

void do_addPreparePlaylist(const char* id) {
    if (id == nullptr) {
        return;
    }
    uint64_t playlist = playlist_id_of(id);
    start_request(ADD_PREPARE_REQUEST, callback_playlist, playlist,
                  [playlist](const RequestCallback& answer) {
                      return webapi_ondemand_playlist(playlist, answer, curl_user_of_id(playlist));
                  });
}

void do_addSongPlaylist(const char* id, const char* item_id) {
    if (id == nullptr) {
        return;
    }
    if (get_status() != 0 && item_id != nullptr) {
        if (str::iequals(item_id, "start")) {
            json_make_dlg_wait_modal(DLG_TITLE_MESSAGE, DLG_MSG_ADD_PL, true, false);
            // A batch still being sent goes on first; this one follows it.
            addSongInfo.playlistId = playlist_id_of(id);
            ++addSongInfo.batch;
            addSongInfo.named = 0;
            addSongInfo.naming = true;
        } else if (str::iequals(item_id, "end")) {
            addSongInfo.naming = false;
            if (!addSongInfo.sending && addSongInfo.songs.empty()) {
                hide_wait_dialog();
            } else {
                addSongToUserPlaylist();
            }
        } else if (addSongInfo.named >= ADD_BATCH_MAX) {
            debug_printf("add batch full: song %s left out\n", item_id);
        } else if (uint32_t item = 0; item_id_of(item_id, item)) {
            addSongInfo.songs.push_back({addSongInfo.playlistId, item, addSongInfo.batch});
            ++addSongInfo.named;
        } else {
            debug_printf("add batch: \"%s\" is no song id\n", item_id);
        }
    }
    json_make_status_json();
}

void forget_playlist_edits() {
    addSongInfo = ADD_SONG_INFO();
    replacing_.clear();
}

void callback_addSongPlaylist(int status, const std::string& body, void* user) {
    handle_answer(ADD_SONG_ANSWER, status, body, user);
}
