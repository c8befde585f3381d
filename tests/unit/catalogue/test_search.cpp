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

TEST_F(SongList, ASearchAnswerIsReadWhileParsedAndOnlyAWholeOneReplacesTheList) {
    xml_init();
    std::string items;
    for (int n = 1; n <= 50; ++n) {
        items += search_item(std::to_string(n), std::to_string(51 - n));
    }
    callback_search(200, "<response><items>" + items + "</items></response>", nullptr);
    ASSERT_EQ(songlist_get().size(), 50u);
    EXPECT_EQ(songlist_get().id(0), 50u);
    EXPECT_EQ(songlist_get().at(49).title, "t1");
    std::string published = song_file();

    // Broken after its first items, or with bytes after a NUL: nothing of it
    // is taken, the list and its file stay.
    for (const std::string& broken :
         {"<response><items>" + search_item("7", "1") + "<item", std::string("<r/>\0x", 6)}) {
        callback_search(200, broken, nullptr);
        EXPECT_EQ(songlist_get().size(), 50u);
        EXPECT_EQ(song_file(), published);
    }

    // A failed status reads no songs either; the next search starts afresh.
    callback_search(500, "<response><items>" + search_item("8", "1") + "</items></response>",
                    nullptr);
    EXPECT_EQ(songlist_get().size(), 50u);
    callback_search(200, "<response>" + search_item("9", "1") + "</response>", nullptr);
    EXPECT_EQ(ids(songlist_get()), std::vector<uint64_t>{9});
}
