#include "state/genre_list.h"
#include "state/playManager.h"
#include "state/playlist.h"
#include "state/queuelist.h"
#include "state/recommendPlaylist.h"
#include "state/song_list.h"
#include "support/answers.h"
#include "support/temp_root.h"
#include "ui/dialog.h"
#include "ui/json.h"

#include <algorithm>
#include <dirent.h>
#include <gtest/gtest.h>
#include <map>
#include <regex>
#include <set>
#include <sys/stat.h>
#include <vector>

namespace {

// The text with its time replaced by T.
std::string without_time(const std::string& text) {
    return std::regex_replace(text, std::regex("\"updatetime\":(\"?)[0-9]+\\1"),
                              "\"updatetime\":$1T$1");
}

// The file's text with its time replaced by T.
std::string published(const TempRoot& root, const std::string& name) {
    return without_time(root.read("/usr/local/www/ctrl/" + name));
}

// The names in the published folder.
std::set<std::string> listed(const TempRoot& root) {
    std::set<std::string> names;
    DIR* dir = opendir((root.path() + "/usr/local/www/ctrl").c_str());
    if (dir == nullptr) {
        return names;
    }
    while (dirent* entry = readdir(dir)) {
        std::string name = entry->d_name;
        if (name != "." && name != "..") {
            names.insert(name);
        }
    }
    closedir(dir);
    return names;
}

} // namespace

class Published : public ::testing::Test {
  protected:
    void SetUp() override {
        fs::mk_dir(root.path() + "/usr/local/www/ctrl");
        json_make_init();
    }
    TempRoot root;
};

TEST(JsonEscape, QuotesSlashesAndEveryControlByte) {
    std::string s = "a\"b\\c/d";
    EXPECT_EQ(json_escape(s), "a\\\"b\\\\c\\/d");
    s = "l\nf\rt\tb\bf\f";
    EXPECT_EQ(json_escape(s), "l\\nf\\rt\\tb\\bf\\f");
    s = "x\x01y\x1f\xC3\xA9\x7f";
    EXPECT_EQ(json_escape(s), "x\\u0001y\\u001F\xC3\xA9\x7f");
    // Every byte below 0x20 comes out as an escape, none of them raw.
    for (int byte = 0; byte < 0x20; ++byte) {
        s = std::string(1, static_cast<char>(byte));
        json_escape(s);
        EXPECT_EQ(s[0], '\\') << byte;
        EXPECT_TRUE(std::all_of(s.begin(), s.end(), [](char c) { return c >= 0x20; })) << byte;
    }
    s = std::string("\x0b\x00z", 3);
    EXPECT_EQ(json_escape(s), "\\u000B\\u0000z");
}

TEST_F(Published, InitialFilesAreExact) {
    EXPECT_EQ(published(root, "ondemand_song.json"), "{\"updatetime\":\"T\",\"songs\":[]}");
    EXPECT_EQ(published(root, "ondemand_queuelist.json"), "{\"updatetime\":\"T\",\"songs\":[]}");
    for (const char* name : {"ondemand_playlist.json", "ondemand_presetPlaylist.json",
                             "ondemand_recommendPlaylist.json"}) {
        EXPECT_EQ(published(root, name), "{\"updatetime\":\"T\",\"playlists\":[]}") << name;
    }
    EXPECT_EQ(published(root, "ondemand_status.json"),
              "{\"updatetime\":T,\"status\":\"off\",\"gratis\":true,\"isStaging\":false,"
              "\"isOriginalArtist\":false,\"genres\":[],\"download\":0}");
    EXPECT_EQ(published(root, "ondemand_dialog.json"),
              "{\"updatetime\":T,\"dialog\":{\"title\":\"\",\"message\":\"\",\"type\":\"\","
              "\"isShow\":false,\"isProg\":false,\"perProg\":\"\",\"confirmed\":true}}");
    EXPECT_EQ(published(root, "ondemand_playmanager.json"),
              "{\"updatetime\":\"T\",\"playmanager\":{\"category\":\"\",\"repeat\":\"off\","
              "\"where\":\"\",\"playSongIndex\":\"0\",\"playlistID\":\"0\",\"playSong\":{"
              "\"id\":\"0\",\"display_order\":\"0\",\"title\":\"\",\"artist\":\"\","
              "\"composer\":\"\",\"performer\":\"\",\"length\":\"\",\"genre\":\"\","
              "\"isImageDL\":false,\"rollform_type\":\"\"},\"nextSong\":{\"id\":\"0\","
              "\"display_order\":\"0\",\"title\":\"\",\"artist\":\"\",\"composer\":\"\","
              "\"performer\":\"\",\"length\":\"\",\"genre\":\"\",\"rollform_type\":\"\"}}}");
    EXPECT_EQ(listed(root), (std::set<std::string>{
                                "ondemand_status.json", "ondemand_dialog.json",
                                "ondemand_song.json", "ondemand_queuelist.json",
                                "ondemand_playlist.json", "ondemand_presetPlaylist.json",
                                "ondemand_recommendPlaylist.json", "ondemand_playmanager.json"}));
}

TEST_F(Published, APublisherTakesTheTextsInsteadOfTheFiles) {
    static std::map<std::string, std::string> taken;
    taken.clear();
    json_clean();
    json_set_publisher([](const char* name, const std::string& text) { taken[name] = text; });
    json_make_init();
    json_set_publisher(nullptr);
    EXPECT_TRUE(listed(root).empty());
    json_make_init();
    ASSERT_EQ(taken.size(), listed(root).size());
    for (const auto& file : taken) {
        EXPECT_EQ(without_time(file.second), published(root, file.first)) << file.first;
    }
}

// Deferred, the json_make_* calls of a pass mark files; the flush writes each
// marked one once, in the fixed order with the status file last, showing the
// state as the pass left it.
TEST_F(Published, DeferredFilesAreWrittenOncePerFlush) {
    static std::vector<std::pair<std::string, std::string>> taken;
    taken.clear();
    json_set_publisher([](const char* name, const std::string& text) {
        taken.emplace_back(name, without_time(text));
    });
    json_defer(true);
    struct Case {
        void (*marks)();
        std::vector<std::string> written;
    };
    const Case cases[] = {
        {[] {
             json_make_status_json();
             json_make_dlg_wait_modal(DLG_TITLE_MESSAGE, DLG_MSG_LOADING, true, false);
             json_make_queuelist_json();
             json_make_songlist_json();
             json_make_dlg_error("Error", "last");
             json_make_status_json();
         },
         {"ondemand_song.json", "ondemand_queuelist.json", "ondemand_dialog.json",
          "ondemand_status.json"}},
        {[] {}, {}},
        {json_make_init,
         {"ondemand_song.json", "ondemand_queuelist.json", "ondemand_playlist.json",
          "ondemand_presetPlaylist.json", "ondemand_recommendPlaylist.json",
          "ondemand_playmanager.json", "ondemand_dialog.json", "ondemand_status.json"}},
    };
    for (const Case& c : cases) {
        taken.clear();
        c.marks();
        EXPECT_TRUE(taken.empty());
        json_flush();
        std::vector<std::string> names;
        for (const auto& file : taken) {
            names.push_back(file.first);
        }
        EXPECT_EQ(names, c.written);
        if (&c == &cases[0]) {
            EXPECT_NE(taken[2].second.find("\"message\":\"last\""), std::string::npos);
        }
    }
    json_defer(false);
    json_set_publisher(nullptr);
}

TEST_F(Published, SongFileHoldsAtMostTwoHundredSortedSongs) {
    std::string xml = "<items>";
    for (int i = 250; i >= 1; --i) {
        std::string n = std::to_string(i);
        xml += "<item id=\"" + n + "\" display_order=\"" + n +
               "\" title=\"t\" artist=\"a\" composer=\"c\" performer=\"p\" length=\"1\" "
               "genre=\"g\" rollform_type=\"r\" ondemand_play=\"true\"/>";
    }
    xml += "</items>";
    songlist_fill(answer_of(xml), SONGLIST_SEARCH);
    json_make_songlist_json();
    std::string text = published(root, "ondemand_song.json");
    EXPECT_EQ(std::count(text.begin(), text.end(), '{'), 201);
    EXPECT_EQ(
        text.substr(0, 190),
        "{\"updatetime\":\"T\",\"songs\":[{\"id\":\"1\",\"display_order\":\"1\",\"title\":\"t\","
        "\"artist\":\"a\",\"composer\":\"c\",\"performer\":\"p\",\"length\":\"1\","
        "\"rollform_type\":\"r\",\"isPlayOk\":\"true\",\"checked\":false},{\"id\":\"2\"");
    EXPECT_NE(text.find("\"id\":\"200\""), std::string::npos);
    EXPECT_EQ(text.find("\"id\":\"201\""), std::string::npos);
}

TEST_F(Published, PlaylistsWithAndWithoutStoredSongs) {
    Playlist mine;
    mine.id = 18446744073709551615ULL;
    mine.name = "My \"list\"";
    mine.modified_at = "2026-01-01";
    mine.sort = 2;
    playlists_get().push_back(mine);
    Playlist other = mine;
    other.id = 9;
    playlists_get().push_back(other);
    Song song;
    song.id = 5;
    song.title = "s";
    playlistSongs_get()[9] = {song};
    json_make_playlist_json();
    EXPECT_EQ(published(root, "ondemand_playlist.json"),
              "{\"updatetime\":\"T\",\"playlists\":[{\"id\":\"18446744073709551615\",\"name\":"
              "\"My \\\"list\\\"\",\"modified_at\":\"2026-01-01\",\"sort\":\"2\",\"songs\":[]},"
              "{\"id\":\"9\",\"name\":\"My \\\"list\\\"\",\"modified_at\":\"2026-01-01\","
              "\"sort\":\"2\",\"songs\":[{\"id\":\"5\",\"display_order\":\"0\",\"title\":\"s\","
              "\"artist\":\"\",\"composer\":\"\",\"performer\":\"\",\"length\":\"\",\"genre\":\"\","
              "\"rollform_type\":\"\",\"isPlayOk\":\"\",\"url_download\":false,"
              "\"file_download\":false}]}]}");
    init_userplaylist();
}

TEST_F(Published, QueueEntriesCarryTheirIdAndSelection) {
    Song song;
    song.id = 7;
    song.uid = "u-1";
    song.display_order = 3;
    song.genre = "g";
    queuelist_get().push_back(song);
    json_make_queuelist_json();
    EXPECT_EQ(published(root, "ondemand_queuelist.json"),
              "{\"updatetime\":\"T\",\"songs\":[{\"id\":\"7\",\"uid\":\"u-1\","
              "\"display_order\":\"3\",\"title\":\"\",\"artist\":\"\",\"composer\":\"\","
              "\"performer\":\"\",\"length\":\"\",\"genre\":\"g\",\"rollform_type\":\"\","
              "\"isPlayOk\":\"\",\"url_download\":false,\"file_download\":false,"
              "\"checked\":false}]}");
    init_qlist();
}

TEST_F(Published, GenresRecommendationsAndThePlayedSongAreExact) {
    Genre genre;
    genre.id = 4294967296ULL;
    genre.name = "R&B/Soul";
    genre.sort = 4294967295u;
    getGenres().push_back(genre);
    json_make_status_json();
    EXPECT_EQ(published(root, "ondemand_status.json"),
              "{\"updatetime\":T,\"status\":\"off\",\"gratis\":true,\"isStaging\":false,"
              "\"isOriginalArtist\":false,\"genres\":[{\"id\":\"4294967296\",\"name\":"
              "\"R&B\\/Soul\",\"sort\":\"4294967295\"}],\"download\":0}");

    Playlist recommended;
    recommended.id = 3;
    recommended.name = "Tab\there";
    recommended.modified_at = "not published";
    recommended.sort = 1;
    Song song;
    song.id = 8;
    song.display_order = 2;
    song.isPlayOk = "false";
    recommended.songs = {song};
    recommendPlaylists_get().push_back(recommended);
    recommended.songs.clear();
    recommendPlaylists_get().push_back(recommended);
    json_make_recommendPlaylist_json();
    EXPECT_EQ(published(root, "ondemand_recommendPlaylist.json"),
              "{\"updatetime\":\"T\",\"playlists\":[{\"id\":\"3\",\"name\":\"Tab\\there\","
              "\"sort\":\"1\",\"songs\":[{\"id\":\"8\",\"display_order\":\"2\",\"title\":\"\","
              "\"artist\":\"\",\"composer\":\"\",\"performer\":\"\",\"length\":\"\","
              "\"genre\":\"\",\"rollform_type\":\"\",\"isPlayOk\":\"false\","
              "\"url_download\":false,\"file_download\":false}]},{\"id\":\"3\",\"name\":"
              "\"Tab\\there\",\"sort\":\"1\",\"songs\":[]}]}");

    Song play;
    play.id = 12;
    play.title = "a\"b";
    Song next;
    next.id = 13;
    next.genre = "g";
    setPlayManagerSource(CATEGORY_NONE, 4294967295u, 18446744073709551615ULL);
    setPlayManagerSongs(play, next);
    json_make_playmanager_info();
    EXPECT_EQ(published(root, "ondemand_playmanager.json"),
              "{\"updatetime\":\"T\",\"playmanager\":{\"category\":\"\",\"repeat\":\"off\","
              "\"where\":\"\",\"playSongIndex\":\"4294967295\",\"playlistID\":"
              "\"18446744073709551615\",\"playSong\":{\"id\":\"12\",\"display_order\":\"0\","
              "\"title\":\"a\\\"b\",\"artist\":\"\",\"composer\":\"\",\"performer\":\"\","
              "\"length\":\"\",\"genre\":\"\",\"isImageDL\":false,\"rollform_type\":\"\"},"
              "\"nextSong\":{\"id\":\"13\",\"display_order\":\"0\",\"title\":\"\","
              "\"artist\":\"\",\"composer\":\"\",\"performer\":\"\",\"length\":\"\","
              "\"genre\":\"g\",\"rollform_type\":\"\"}}}");

    // The state reset empties all of it again.
    json_make_init();
    EXPECT_EQ(published(root, "ondemand_recommendPlaylist.json"),
              "{\"updatetime\":\"T\",\"playlists\":[]}");
    EXPECT_NE(published(root, "ondemand_status.json").find("\"genres\":[]"), std::string::npos);
    EXPECT_NE(published(root, "ondemand_playmanager.json").find("\"playSong\":{\"id\":\"0\""),
              std::string::npos);
}

TEST_F(Published, ErrorDialogAppendsTheServiceMessages) {
    json_make_dlg_error("Error", "server([500]: search)",
                        answer_of("<error><message>first</message><x><message/></x>"
                                  "<Message>second</Message></error>"));
    EXPECT_EQ(published(root, "ondemand_dialog.json"),
              "{\"updatetime\":T,\"dialog\":{\"title\":\"Error\",\"message\":"
              "\"server([500]: search)\\n[ first ]\\n[ second ]\",\"type\":\"error\","
              "\"isShow\":true,\"isProg\":false,\"perProg\":\"\",\"confirmed\":false}}");
}

TEST_F(Published, ConfirmingKeepsTheProgressFields) {
    json_make_dlg_wait_modal(DLG_TITLE_MESSAGE, DLG_MSG_LOADING, false, true);
    EXPECT_FALSE(getDialogInfo().confirmed);
    setDialogProg("45.3");
    json_make_ondemand_dialog_confirmed();
    EXPECT_EQ(published(root, "ondemand_dialog.json"),
              "{\"updatetime\":T,\"dialog\":{\"title\":\"\",\"message\":\"\",\"type\":\"\","
              "\"isShow\":false,\"isProg\":true,\"perProg\":\"45.3\",\"confirmed\":true}}");
    json_make_dlg_wait_modal("", "", false, false);
    setDialogProg("");
}

TEST_F(Published, AnUnwritableDirectoryKeepsNothingHalfWritten) {
    fs::rm_dir(root.path() + "/usr/local/www/ctrl");
    json_make_init();
    json_make_dlg_relogin();
    EXPECT_FALSE(root.exists("/usr/local/www/ctrl"));
    initDialogInfo();
}

TEST_F(Published, AFailedWriteKeepsThePreviousFileAndLeavesNoWorkFile) {
    const std::string dir = root.path() + "/usr/local/www/ctrl/";
    std::string before = root.read("/usr/local/www/ctrl/ondemand_dialog.json");
    // The work file cannot be opened.
    ASSERT_EQ(mkdir((dir + "ondemand_dialog.json.wk").c_str(), 0755), 0);
    json_make_dlg_error("Error", "lost");
    EXPECT_EQ(root.read("/usr/local/www/ctrl/ondemand_dialog.json"), before);
    rmdir((dir + "ondemand_dialog.json.wk").c_str());

    // The work file is written but cannot be renamed over the published name.
    fs::rm_file(dir + "ondemand_song.json");
    ASSERT_EQ(mkdir((dir + "ondemand_song.json").c_str(), 0755), 0);
    ASSERT_EQ(mkdir((dir + "ondemand_song.json/x").c_str(), 0755), 0);
    json_make_songlist_json();
    std::set<std::string> names = listed(root);
    EXPECT_EQ(names.count("ondemand_song.json.wk"), 0u);
    EXPECT_EQ(names.count("ondemand_dialog.json.wk"), 0u);
    initDialogInfo();
}
