// Recommended playlists, recommended songs, history and genres. A stand-in curl notes each request
// and answers nothing; the loop is not run, so each test delivers the answers itself.
#include "catalogue/playlists.h"
#include "catalogue/presets.h"
#include "catalogue/recommend.h"
#include "catalogue/search.h"
#include "net/curl.h"
#include "state/genre_list.h"
#include "state/playlist.h"
#include "state/recommendPlaylist.h"
#include "support/answers.h"
#include "support/switch_below.h"
#include "support/temp_root.h"
#include "support/wait.h"
#include "ui/dialog.h"
#include "xml/xml.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

namespace {

std::vector<uint32_t> genre_sorts() {
    std::vector<uint32_t> out;
    for (const Genre& g : getGenres()) {
        out.push_back(g.sort);
    }
    return out;
}

const char* const GENRES = "<r><genres><genre id=\"3\" name=\"Jazz\" sort=\"3\"/>"
                           "<genre id=\"1\" name=\"Pop\" sort=\"1\"/>"
                           "<genre id=\"2\" name=\"Rock\" sort=\"2\"/></genres></r>";

} // namespace

TEST(RecommendState, EachPlaylistHoldsTheItemsThatFollowItInTheAnswersOrder) {
    recommendPlaylist_set_list(
        answer_of("<r><item id=\"99\"/>"
                  "<playlist title=\"P1\" genre_id=\"4\"><item id=\"11\" display_order=\"2\"/>"
                  "<item id=\"10\" display_order=\"1\"/></playlist>"
                  "<PlayList genre_id=\"-1\"/><item id=\"12\"/>"
                  "<playlist title=\"P3\"><x><item id=\"13\" title=\"deep\"/></x></playlist></r>"));
    const std::vector<Playlist>& list = recommendPlaylists_get();
    ASSERT_EQ(list.size(), 3u);
    EXPECT_EQ(list[0].name, "P1");
    EXPECT_EQ(list[0].id, 4u);
    // Kept in the answer's order, not sorted by display_order; the item
    // before every playlist is dropped.
    EXPECT_EQ(ids(list[0].songs), (std::vector<uint64_t>{11, 10}));
    EXPECT_EQ(list[1].name, "");
    EXPECT_EQ(list[1].id, ~0ULL);
    EXPECT_EQ(ids(list[1].songs), std::vector<uint64_t>{12});
    EXPECT_EQ(list[2].id, 0u);
    EXPECT_EQ(list[2].songs.at(0).title, "deep");
    EXPECT_EQ(list[2].sort, 3u);
    EXPECT_EQ(list[0].modified_at, "");

    // Each answer replaces the list whole.
    recommendPlaylist_set_list(answer_of("<r><item id=\"1\"/></r>"));
    EXPECT_TRUE(recommendPlaylists_get().empty());
}

TEST(GenreState, GenresAreOrderedByTheirSortAsUnsigned) {
    setGenres(answer_of(GENRES));
    EXPECT_EQ(genre_sorts(), (std::vector<uint32_t>{1, 2, 3}));
    EXPECT_EQ(getGenres()[0].name, "Pop");

    setGenres(answer_of("<r><genre id=\"5\" name=\"last\" sort=\"-1\"/>"
                        "<genre id=\"6\" name=\"mid\" sort=\"4\"/><genre id=\"7\"/></r>"));
    EXPECT_EQ(genre_sorts(), (std::vector<uint32_t>{0, 4, 4294967295u}));
    EXPECT_EQ(getGenres()[0].id, 7u);
    EXPECT_EQ(getGenres()[0].name, "");
    init_genrelist();
    EXPECT_TRUE(getGenres().empty());
}

using Recommend = SwitchedOn<SwitchBelow>;

// What the end-to-end tests do not show: failed answers keep the song list
// and its file, and nothing is asked while the service is off.
TEST_F(Recommend, FailedSongAnswersKeepTheListAndNothingIsAskedWhileOff) {
    callback_hisotry(-1, "<r>" + search_item("4", "1") + "</r>", nullptr);
    std::string before = file("song");
    callback_hisotry(500, "<r>" + search_item("5", "1") + "</r>", nullptr);
    EXPECT_EQ(getDialogInfo().message, "server([500]: recent)");
    callback_recommend(200, "<r>", nullptr);
    EXPECT_EQ(getDialogInfo().message, "recommend");
    EXPECT_EQ(ids(songlist_get()), std::vector<uint64_t>{4});
    EXPECT_EQ(file("song"), before);

    switch_off_below();
    do_recommend();
    do_history();
    do_recommendPlaylists();
    EXPECT_EQ(getDialogInfo().type, "");
    EXPECT_EQ(curl_num(), 0);
}

TEST_F(Recommend, GenresArePublishedInTheStatusFileAfterEveryAnswer) {
    callback_genres(200, GENRES, nullptr);
    EXPECT_NE(file("status").find("\"genres\":[{\"id\":\"1\",\"name\":\"Pop\",\"sort\":\"1\"}"),
              std::string::npos);

    // A failure keeps the old list and still rewrites the file.
    for (auto answer : {std::make_pair(401, "<e/>"), std::make_pair(200, "<r><genre")}) {
        remove_file("status");
        callback_genres(answer.first, answer.second, nullptr);
        EXPECT_EQ(getGenres().size(), 3u);
        EXPECT_NE(file("status").find("\"name\":\"Rock\""), std::string::npos);
    }
    EXPECT_EQ(getDialogInfo().message, "Genre error");
    callback_genres(401, "<e/>", nullptr);
    EXPECT_EQ(getDialogInfo().message, "server([401]: genres)");

    // While off the command only shows the status; on, it asks the service.
    switch_off_below();
    remove_file("status");
    do_genres();
    EXPECT_NE(file("status"), "<missing>");
    switch_on_below();
    do_genres();
    EXPECT_EQ(sent(1), std::vector<std::string>{"GET /items/genres"});
    EXPECT_FALSE(getDialogInfo().isShow);

    callback_genres(403, "<e/>", nullptr);
    EXPECT_EQ(get_status(), 0);
    EXPECT_TRUE(getGenres().empty());
    EXPECT_NE(file("status").find("\"genres\":[]"), std::string::npos);
}
