#include "state/records.h"
#include "catalogue/song_list.h"
#include "support/temp_root.h"
#include "ui/json.h"
#include "xml/xml.h"

#include <gtest/gtest.h>

namespace {

Self answer_of(const std::string& xml) {
    xml_init();
    Self tree;
    EXPECT_EQ(self_parse(xml, tree), 0) << xml;
    return tree;
}

// An item with every attribute the song list requires.
std::string item(const std::string& id, const std::string& order, const std::string& extra = "") {
    return "<item id=\"" + id + "\" display_order=\"" + order + "\" title=\"t" + id +
           "\" artist=\"a\" composer=\"c\" performer=\"p\" length=\"1\" "
           "genre=\"g\" rollform_type=\"r\" " +
           extra + "/>";
}

std::vector<uint64_t> ids(const std::vector<Song>& songs) {
    std::vector<uint64_t> out;
    for (const Song& s : songs) {
        out.push_back(s.id);
    }
    return out;
}

} // namespace

TEST(Records, NumbersAreReadAsSigned32BitAndIdsSignExtended) {
    Self e = answer_of("<item id=\"-1\" a=\"abc\" b=\"  42x\" c=\"+7\" d=\"99999999999\" "
                       "e=\"-99999999999\" f=\"0x10\" g=\"\" display_order=\"-1\"/>");
    EXPECT_EQ(attr_id(e, "id"), 18446744073709551615ULL);
    EXPECT_EQ(attr_int(e, "a"), 0);
    EXPECT_EQ(attr_int(e, "b"), 42);
    EXPECT_EQ(attr_int(e, "c"), 7);
    EXPECT_EQ(attr_int(e, "d"), INT32_MAX);
    EXPECT_EQ(attr_id(e, "d"), 2147483647ULL);
    EXPECT_EQ(attr_id(e, "e"), 0xFFFFFFFF80000000ULL);
    EXPECT_EQ(attr_int(e, "f"), 0);
    EXPECT_EQ(attr_int(e, "g"), 0);
    EXPECT_EQ(attr_int(e, "missing"), 0);
    EXPECT_EQ(attr_text(e, "missing"), "");
    EXPECT_EQ(song_from(e).display_order, 4294967295u);
}

TEST(Records, SongListSkipsIncompleteItemsAndSortsByUnsignedOrder) {
    Self answer = answer_of(
        "<Response><Items>" + item("1", "-1") + item("2", "5", "ondemand_play=\"false\"") +
        "<item id=\"3\" display_order=\"1\" title=\"t\" artist=\"a\" composer=\"c\" "
        "performer=\"p\" length=\"1\" rollform_type=\"r\"/>" + // no genre
        "<group>" +
        item("4", "2") + "</group>" +
        "<ITEM ID=\"5\" DISPLAY_ORDER=\"3\" TITLE=\"Upper\" ARTIST=\"A\" COMPOSER=\"C\" "
        "PERFORMER=\"P\" LENGTH=\"9\" GENRE=\"G\" ROLLFORM_TYPE=\"R\"/>" +
        "<playlist id=\"6\" display_order=\"0\"/></Items></Response>");
    std::vector<Song> songs;
    read_songs(answer, true, songs);
    sort_by_display_order(songs);
    EXPECT_EQ(ids(songs), (std::vector<uint64_t>{4, 5, 2, 1}));
    EXPECT_EQ(songs[1].title, "Upper");
    EXPECT_EQ(songs[1].genre, "G");
    EXPECT_EQ(songs[1].isPlayOk, "");
    EXPECT_EQ(songs[2].isPlayOk, "false");
    EXPECT_EQ(songs[3].uid, "");

    // Playlist songs require nothing and keep document order.
    read_songs(answer_of("<r><item id=\"9\"/><item/></r>"), false, songs);
    EXPECT_EQ(ids(songs), (std::vector<uint64_t>{9, 0}));
}

TEST(Records, LookupFindsTheFirstOfEqualIds) {
    std::vector<Song> songs(3);
    songs[0].id = 4;
    songs[1].id = 7;
    songs[1].title = "first";
    songs[2].id = 7;
    EXPECT_EQ(search_from_id(songs, 7)->title, "first");
    EXPECT_EQ(search_from_id(songs, 8), songs.end());
}

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
    songlist_set_old_search();
    EXPECT_TRUE(songlist_get().empty());
    EXPECT_NE(song_file().find("\"songs\":[]"), std::string::npos);

    songlist_set_list(answer_of("<r>" + item("1", "1") + "</r>"), SONGLIST_SEARCH);
    EXPECT_NE(song_file().find("\"id\":\"1\""), std::string::npos);
    for (int kind : {SONGLIST_GENRE_SEARCH, SONGLIST_HISTORY, SONGLIST_RECOMMEND}) {
        songlist_set_list(answer_of("<r>" + item("2", "1") + "</r>"), kind);
        EXPECT_EQ(ids(songlist_get()), std::vector<uint64_t>{2});
    }
    EXPECT_NE(song_file().find("\"id\":\"2\""), std::string::npos);

    // The state reset empties the list but not the remembered search.
    json_make_init();
    EXPECT_TRUE(songlist_get().empty());
    songlist_set_old_search();
    EXPECT_EQ(ids(songlist_get()), std::vector<uint64_t>{1});
    EXPECT_NE(song_file().find("\"id\":\"1\""), std::string::npos);

    // Clearing writes nothing by itself; the command also publishes.
    songlist_clear();
    EXPECT_NE(song_file().find("\"id\":\"1\""), std::string::npos);
    do_clearSonglist();
    EXPECT_NE(song_file().find("\"songs\":[]"), std::string::npos);

    // An answer without items still replaces the list and its file.
    songlist_set_old_search();
    songlist_set_list(answer_of("<r/>"), SONGLIST_SEARCH);
    EXPECT_NE(song_file().find("\"songs\":[]"), std::string::npos);
    songlist_set_old_search();
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
