#include "state/records.h"
#include "support/answers.h"

#include <gtest/gtest.h>

namespace {} // namespace

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

    // Song ids are unsigned 32-bit: read whole, never clamped onto another.
    Self big = answer_of("<item id=\"3000000001\"/>");
    EXPECT_EQ(song_from(big).id, 3000000001ULL);
    EXPECT_EQ(attr_song_id(e, "id"), 18446744073709551615ULL);
    EXPECT_EQ(attr_song_id(e, "d"), 2147483647ULL);
}

TEST(Records, SongListSkipsIncompleteItemsAndSortsByUnsignedOrder) {
    Self answer =
        answer_of("<Response><Items>" + search_item("1", "-1") +
                  search_item("2", "5", "ondemand_play=\"false\"") +
                  "<item id=\"3\" display_order=\"1\" title=\"t\" artist=\"a\" composer=\"c\" "
                  "performer=\"p\" length=\"1\" rollform_type=\"r\"/>" + // no genre
                  "<group>" +
                  search_item("4", "2") + "</group>" +
                  "<ITEM ID=\"5\" DISPLAY_ORDER=\"3\" TITLE=\"Upper\" ARTIST=\"A\" COMPOSER=\"C\" "
                  "PERFORMER=\"P\" LENGTH=\"9\" GENRE=\"G\" ROLLFORM_TYPE=\"R\"/>" +
                  "<playlist id=\"6\" display_order=\"0\"/></Items></Response>");
    std::vector<Song> songs;
    read_list(answer, SONG_LIST_RULE, songs);
    EXPECT_EQ(ids(songs), (std::vector<uint64_t>{4, 5, 2, 1}));
    EXPECT_EQ(songs[1].title, "Upper");
    EXPECT_EQ(songs[1].genre, "G");
    EXPECT_EQ(songs[1].isPlayOk, "");
    EXPECT_EQ(songs[2].isPlayOk, "false");
    EXPECT_EQ(songs[3].uid, "");

    // Playlist songs require nothing and keep document order.
    read_list(answer_of("<r><item id=\"9\"/><item/></r>"), PLAYLIST_SONGS_RULE, songs);
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

TEST(Records, PackedSongsKeepEveryFieldAndSortAsRecordsDo) {
    // Equal keys among many: the packed list must come out in the very order
    // a vector of records gets from the same sort.
    std::vector<Song> songs;
    for (uint32_t n = 0; n < 300; ++n) {
        Song s;
        s.id = 1000 + n;
        s.display_order = (n * 7919u) % 13u;
        s.title = "title " + std::to_string(n) + " with a long enough text to leave the string";
        s.artist = n % 2 ? "" : "a";
        s.composer = "c";
        s.performer = "p";
        s.length = "180";
        s.genre = "g";
        s.rollform_type = "r";
        s.isPlayOk = "true";
        s.uid = n % 3 ? "" : "uid";
        songs.push_back(s);
    }
    SongStore store;
    for (const Song& s : songs) {
        store.push_back(s);
    }
    sort_records(songs, &Song::display_order);
    store.sort_by_display_order();
    ASSERT_EQ(store.size(), songs.size());
    for (size_t i = 0; i < songs.size(); ++i) {
        Song packed = store.at(i);
        EXPECT_EQ(packed.id, songs[i].id);
        EXPECT_EQ(packed.display_order, songs[i].display_order);
        EXPECT_EQ(packed.title, songs[i].title);
        EXPECT_EQ(packed.artist, songs[i].artist);
        EXPECT_EQ(packed.isPlayOk, songs[i].isPlayOk);
        EXPECT_EQ(packed.uid, songs[i].uid);
    }
}
