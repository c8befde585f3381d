// The user's playlists: the list and songs setters, and the handlers. A
// stand-in curl notes each request and answers it; tests that deliver the
// answers themselves do not run the loop until the end.
#include "catalogue/playlists.h"
#include "net/curl.h"
#include "state/playManager.h"
#include "state/playlist.h"
#include "support/answers.h"
#include "support/switch_below.h"
#include "support/temp_root.h"
#include "support/wait.h"
#include "ui/dialog.h"
#include "xml/xml.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

namespace {

const char* const LIST = "<r><playlist id=\"9\" name=\"b\" modified_at=\"m\" sort=\"2\"/>"
                         "<playlist id=\"7\" name=\"a\" modified_at=\"m\" sort=\"1\"/>"
                         "<playlist id=\"8\" name=\"no sort\" modified_at=\"m\"/></r>";
const char* const WITHOUT_7 = "<r><playlist id=\"9\" name=\"b\" modified_at=\"m\" sort=\"2\"/></r>";

std::vector<uint64_t> playlist_ids() {
    std::vector<uint64_t> out;
    for (const Playlist& p : playlists_get()) {
        out.push_back(p.id);
    }
    return out;
}

std::vector<Song>& songs_of(uint64_t id) {
    return playlistSongs_get()[id];
}

} // namespace

TEST(PlaylistState, ANewListKeepsOnlyTheSongsOfPlaylistsStillListed) {
    init_userplaylist();
    playlist_set_list(answer_of(LIST));
    EXPECT_EQ(playlist_ids(), (std::vector<uint64_t>{7, 9}));
    EXPECT_EQ(playlists_get()[0].name, "a");

    // Songs need no attribute and keep the answer's order.
    auto items = answer_of("<r><x><item id=\"3\"/></x><item title=\"t\"/><item id=\"1\"/></r>");
    ASSERT_EQ(playlist_set_songs(7, items), 0);
    ASSERT_EQ(playlist_set_songs(9, answer_of("<r><item id=\"5\"/></r>")), 0);
    EXPECT_EQ(ids(songs_of(7)), (std::vector<uint64_t>{3, 0, 1}));
    // A playlist that is not listed stores nothing.
    EXPECT_EQ(playlist_set_songs(8, items), -1);
    EXPECT_EQ(playlistSongs_get().count(8), 0u);

    playlist_set_list(answer_of(WITHOUT_7));
    EXPECT_EQ(playlistSongs_get().count(7), 0u);
    EXPECT_EQ(ids(playlistSongs_get().at(9)), std::vector<uint64_t>{5});
    EXPECT_EQ(playlist_set_songs(7, items), -1);
    init_userplaylist();
    EXPECT_TRUE(playlists_get().empty() && playlistSongs_get().empty());
}

class Playlists : public ::testing::Test {
  protected:
    void SetUp() override {
        xml_init();
        root.write("/usr/bin/curl",
                   "#!/bin/sh\nm=$2 u=$3 d=\nwhile [ $# -gt 0 ]; do\n"
                   "  [ \"$1\" = --data-urlencode ] && d=\"$d $2\"\n  shift\n"
                   "done\necho \"$m ${u#https://s}$d\" >> \"$ONDEMAND_ROOT/sent\"\n"
                   // Answers 500 to a request whose data is in /fail.
                   "if [ -n \"$d\" ] && grep -qx \"${d# }\" "
                   "\"$ONDEMAND_ROOT/fail\" 2>/dev/null; then\n"
                   "  echo '< HTTP/1.1 500' >&2; echo '<e/>'\n"
                   "else echo '< HTTP/1.1 200' >&2; echo '<ok/>'; fi\n");
        chmod((root.path() + "/usr/bin/curl").c_str(), 0755);
        root.write("/usr/local/olc/api_token.txt", "access");
        root.write("/usr/local/olc/ondemand_base_url", "https://s");
        fs::mk_dir(root.path() + "/usr/local/www/ctrl");
        // Off and on again: the start-up chain rests, the lists are empty.
        switch_off_below();
        forget_playlist_edits();
        switch_on_below();
    }
    void TearDown() override {
        switch_off_below();
        run_until([] { return curl_num() == 0; });
    }
    void add(const char* item) { do_addSongPlaylist("9", item); }

    TempRoot root;
};

TEST_F(Playlists, APlaylistAnswerDiffersInThreeWays) {
    callback_allplaylists(200, LIST, nullptr);
    callback_playlist(200, "<r><item id=\"1\"/></r>", curl_user_of_id(9));
    json_make_dlg_wait_modal(DLG_TITLE_MESSAGE, DLG_MSG_CONNECTING, true, false);

    // Unreadable: nothing shows, nothing changes, the status file is written.
    fs::rm_file(root.path() + "/usr/local/www/ctrl/ondemand_status.json");
    callback_playlist(200, "<r><item id=\"2\">", curl_user_of_id(9));
    EXPECT_EQ(getDialogInfo().type, "wait");
    EXPECT_EQ(ids(songs_of(9)), std::vector<uint64_t>{1});
    EXPECT_NE(root.read("/usr/local/www/ctrl/ondemand_status.json"), "<missing>");

    // 400: its error stays up and its items replace the songs.
    callback_playlist(400, "<error><message>gone</message></error>", curl_user_of_id(9));
    EXPECT_EQ(getDialogInfo().type, "error");
    EXPECT_EQ(getDialogInfo().message, "get user playlist");
    EXPECT_TRUE(songs_of(9).empty());

    // Any other failure is the common one and keeps the songs.
    callback_playlist(200, "<r><item id=\"3\"/></r>", curl_user_of_id(9));
    callback_playlist(500, "<error/>", curl_user_of_id(9));
    EXPECT_EQ(getDialogInfo().message, "server([500]: get user playlist)");
    EXPECT_EQ(ids(songs_of(9)), std::vector<uint64_t>{3});
}

TEST_F(Playlists, ThePlayManagerFollowsThePlaylistItPlays) {
    callback_allplaylists(200, LIST, nullptr);
    setPlayManagerSource(CATEGORY_USER, 0, 9);
    callback_playlist(200, "<r><item id=\"4\" ondemand_play=\"false\"/><item id=\"5\"/></r>",
                      curl_user_of_id(9));
    EXPECT_EQ(getOndemandPlayManager().playSong.id, 5u);
    EXPECT_EQ(getOndemandPlayManager().playSongIndex, 1u);

    // A list without it leaves nothing to play.
    callback_allplaylists(200, "<r/>", nullptr);
    EXPECT_EQ(getOndemandPlayManager().playSong.id, 0u);

    // Editing or deleting the playlist played resets the play manager once
    // the service has taken it; renaming, another playlist, or an edit the
    // service refused, leaves it.
    setPlayManagerSource(CATEGORY_USER, 0, 9);
    do_updatePlaylist("9", "new", nullptr, nullptr, "rename");
    callback_updatePlaylist(200, "<r/>", curl_user_of_id(9));
    callback_deletePlaylist(200, "<r/>", curl_user_of_id(8));
    do_updatePlaylist("9", nullptr, "1,2", nullptr, "MOVE");
    callback_updatePlaylist(500, "<e/>", curl_user_of_id(9));
    callback_deletePlaylist(500, "<e/>", curl_user_of_id(9));
    EXPECT_EQ(getOndemandPlayManager().category, CATEGORY_USER);
    do_updatePlaylist("9", nullptr, "1,2", nullptr, "MOVE");
    callback_updatePlaylist(200, "<r/>", curl_user_of_id(9));
    EXPECT_EQ(getOndemandPlayManager().category, CATEGORY_NONE);
    setPlayManagerSource(CATEGORY_USER, 0, 9);
    callback_deletePlaylist(200, "<r/>", curl_user_of_id(9));
    EXPECT_EQ(getOndemandPlayManager().category, CATEGORY_NONE);
}

TEST_F(Playlists, AFailedEditFetchesNothingAndNothingIsSentWhileOff) {
    callback_createPlaylist(500, "<e/>", nullptr);
    callback_updatePlaylist(200, "<e>", nullptr);
    EXPECT_EQ(getDialogInfo().message, "update user playlist");
    EXPECT_EQ(curl_num(), 0);

    switch_off_below();
    do_createPlaylist("n", nullptr);
    do_updatePlaylist("9", "n", nullptr, nullptr, "rename");
    add("start");
    add("1");
    add("end");
    EXPECT_EQ(getDialogInfo().type, "");
    EXPECT_EQ(curl_num(), 0);
}

TEST_F(Playlists, ABatchNamedWhileAnEarlierSongIsOnItsWayGoesOnAfterIt) {
    root.write("/fail", "item_id=11");
    add("start");
    add("11");
    add("end");
    add("start");
    add("21");
    add("22");
    add("end");
    // The first batch's failure drops nothing of the second.
    EXPECT_EQ(curl_num(), 1);
    ASSERT_TRUE(run_until([] { return curl_num() == 0; }));
    EXPECT_EQ(root.read("/sent"), "POST /user/playlists/9/add item_id=11\n"
                                  "POST /user/playlists/9/add item_id=21\n"
                                  "POST /user/playlists/9/add item_id=22\n");
}
