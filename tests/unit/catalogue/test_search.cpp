#include "catalogue/search.h"
#include "common/fs.h"
#include "support/answers.h"
#include "support/temp_root.h"
#include "ui/json.h"
#include "xml/xml.h"

#include <gtest/gtest.h>

namespace {} // namespace

class SongList : public ::testing::Test {
  protected:
    void SetUp() override {
        fs::mk_dir(root.path() + "/usr/local/www/ctrl");
        json_make_init();
    }
    std::string song_file() { return root.read("/usr/local/www/ctrl/ondemand_song.json"); }
    TempRoot root;
};

TEST_F(SongList, OnlyAPlainSearchIsRememberedAndTheResetKeepsIt) {
    do_getSongListOldSearch();
    EXPECT_TRUE(songlist_get().empty());
    EXPECT_NE(song_file().find("\"songs\":[]"), std::string::npos);

    songlist_set_list(answer_of("<r>" + search_item("1", "1") + "</r>"), SONGLIST_SEARCH);
    EXPECT_NE(song_file().find("\"id\":\"1\""), std::string::npos);
    for (int kind : {SONGLIST_GENRE_SEARCH, SONGLIST_HISTORY, SONGLIST_RECOMMEND}) {
        songlist_set_list(answer_of("<r>" + search_item("2", "1") + "</r>"), kind);
        EXPECT_EQ(ids(songlist_get()), std::vector<uint64_t>{2});
    }
    EXPECT_NE(song_file().find("\"id\":\"2\""), std::string::npos);

    // The state reset empties the list but not the remembered search.
    json_make_init();
    EXPECT_TRUE(songlist_get().empty());
    do_getSongListOldSearch();
    EXPECT_EQ(ids(songlist_get()), std::vector<uint64_t>{1});
    EXPECT_NE(song_file().find("\"id\":\"1\""), std::string::npos);

    // Clearing writes nothing by itself; the command also publishes.
    songlist_clear();
    EXPECT_NE(song_file().find("\"id\":\"1\""), std::string::npos);
    do_clearSonglist();
    EXPECT_NE(song_file().find("\"songs\":[]"), std::string::npos);

    // An answer without items still replaces the list and its file.
    do_getSongListOldSearch();
    songlist_set_list(answer_of("<r/>"), SONGLIST_SEARCH);
    EXPECT_NE(song_file().find("\"songs\":[]"), std::string::npos);
    do_getSongListOldSearch();
    EXPECT_TRUE(songlist_get().empty());
}

TEST_F(SongList, ASearchWhileOffOnlyRewritesTheStatusFile) {
    fs::rm_file(root.path() + "/usr/local/www/ctrl/ondemand_status.json");
    fs::rm_file(root.path() + "/usr/local/www/ctrl/ondemand_dialog.json");
    do_search("1", "10", "x", nullptr, nullptr, nullptr);
    EXPECT_NE(root.read("/usr/local/www/ctrl/ondemand_status.json").find("\"status\":\"off\""),
              std::string::npos);
    EXPECT_EQ(root.read("/usr/local/www/ctrl/ondemand_dialog.json"), "<missing>");
}
