// The start-up chain over the catalogue's answers: a stand-in curl notes each
// request and answers nothing; each test delivers the answers itself.
#include "catalogue/playlists.h"
#include "catalogue/presets.h"
#include "catalogue/recommend.h"
#include "service/login.h"
#include "state/genre_list.h"
#include "state/recommendPlaylist.h"
#include "support/service_on.h"
#include "ui/dialog.h"

#include <gtest/gtest.h>

namespace {

const char* const GENRES = "<r><genres><genre id=\"3\" name=\"Jazz\" sort=\"3\"/>"
                           "<genre id=\"1\" name=\"Pop\" sort=\"1\"/>"
                           "<genre id=\"2\" name=\"Rock\" sort=\"2\"/></genres></r>";

} // namespace

using StartupChain = ServiceOn;

TEST_F(StartupChain, TheChainMovesOnOnlyWithTheAnswerItWaitsFor) {
    setGratis("false");
    do_ondemandStart("d", "1");
    sent(1);
    callback_account_features(200, "<r/>", nullptr);
    sent(2);
    callback_allPresetPlaylist(200, "<r><playlist id=\"1\" name=\"p\" modified_at=\"m\"/></r>",
                               nullptr);
    EXPECT_EQ(sent(3), (std::vector<std::string>{"GET /user/account/features", "GET /cms/playlists",
                                                 "GET /user/playlists"}));
    EXPECT_EQ(get_startup_step(), 4u);

    // Answers of commands sent meanwhile are applied, but do not run the
    // next step before the user's playlists are in: that step would create
    // a playlist for an account that has some.
    callback_genres(200, GENRES, nullptr);
    callback_recommendPlaylist(200, "<r/>", nullptr);
    callback_allPresetPlaylist(200, "<r/>", nullptr);
    EXPECT_EQ(get_startup_step(), 4u);
    EXPECT_EQ(getGenres().size(), 3u);
    EXPECT_TRUE(getDialogInfo().isShow);

    // The user has a playlist: on at once to the genres...
    const char* mine = "<r><playlist id=\"7\" name=\"mine\" modified_at=\"m\" sort=\"1\"/></r>";
    callback_allplaylists(200, mine, nullptr);
    EXPECT_EQ(sent(4).back(), "GET /items/genres");
    EXPECT_EQ(get_startup_step(), STARTUP_AFTER_GENRES);
    // ...and a playlists answer to a command sent meanwhile does not run the
    // genres step again.
    callback_allplaylists(200, mine, nullptr);
    EXPECT_EQ(get_startup_step(), STARTUP_AFTER_GENRES);
    EXPECT_EQ(curl_num(), 4);

    // ...where a failure stops the chain under its dialog.
    callback_genres(500, "<e/>", nullptr);
    EXPECT_EQ(getDialogInfo().message, "server([500]: genres)");
    EXPECT_EQ(get_startup_step(), STARTUP_AFTER_GENRES);
    EXPECT_EQ(curl_num(), 4);

    // The answer of the genres command sent again goes on to the last step.
    callback_genres(200, GENRES, nullptr);
    EXPECT_EQ(sent(5).back(), "GET /items/recommend/playlists");
    json_make_dlg_wait_modal(DLG_TITLE_MESSAGE, DLG_MSG_CONNECT_LOGIN, true, false);
    callback_recommendPlaylist(200, "<r><playlist title=\"R\"/></r>", nullptr);
    EXPECT_EQ(get_startup_step(), STARTUP_DONE);
    EXPECT_FALSE(getDialogInfo().isShow);
    EXPECT_EQ(recommendPlaylists_get().size(), 1u);
}
