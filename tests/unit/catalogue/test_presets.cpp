// The preset and gratis playlists: the list setters, and the handlers driven
// by hand. A stand-in curl notes each request and answers nothing; the loop
// is not run, so each test delivers the answers itself.
#include "catalogue/presets.h"
#include "net/curl.h"
#include "state/presetPlaylist.h"
#include "support/answers.h"
#include "support/switch_below.h"
#include "support/temp_root.h"
#include "support/wait.h"
#include "ui/dialog.h"
#include "xml/xml.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

namespace {

std::vector<uint64_t> preset_ids() {
    std::vector<uint64_t> out;
    for (const Playlist& p : presetlists_get()) {
        out.push_back(p.id);
    }
    return out;
}

std::vector<uint32_t> preset_sorts() {
    std::vector<uint32_t> out;
    for (const Playlist& p : presetlists_get()) {
        out.push_back(p.sort);
    }
    return out;
}

const std::vector<Song>& preset_songs(uint64_t id) {
    return *presetSongs_get().at(id);
}

// Presets 12 and 5, in this order; 7 lacks its stamp.
const char* const PRESETS = "<r><playlist id=\"12\" name=\"twelve\" modified_at=\"m1\"/>"
                            "<playlist id=\"7\" name=\"no stamp\"/>"
                            "<playlist id=\"5\" name=\"five\" modified_at=\"m2\"/></r>";

} // namespace

TEST(PresetState, PresetsKeepTheAnswerOrderAndTheSongsOfPlaylistsStillListed) {
    init_presetPlaylist();
    presetlist_set_list(answer_of(PRESETS));
    EXPECT_EQ(preset_ids(), (std::vector<uint64_t>{12, 5}));
    EXPECT_EQ(preset_sorts(), (std::vector<uint32_t>{1, 2}));
    EXPECT_EQ(presetlists_get()[1].modified_at, "m2");

    // Songs need no attribute and are not sorted.
    ASSERT_EQ(
        presetlist_set_songs(12, answer_of("<r><item id=\"3\" display_order=\"9\"/>"
                                           "<x><item id=\"1\" display_order=\"1\"/></x></r>")),
        0);
    ASSERT_EQ(presetlist_set_songs(5, answer_of("<r><item id=\"4\"/></r>")), 0);
    EXPECT_EQ(ids(preset_songs(12)), (std::vector<uint64_t>{3, 1}));
    EXPECT_EQ(presetlist_set_songs(7, answer_of("<r><item id=\"4\"/></r>")), -1);
    EXPECT_EQ(presetSongs_get().count(7), 0u);

    // A newer answer that still holds 12 keeps its songs; 5 is gone.
    presetlist_set_list(answer_of("<r><PLAYLIST ID=\"20\" NAME=\"n\" MODIFIED_AT=\"m\"/>"
                                  "<playlist id=\"12\" name=\"twelve\" modified_at=\"m3\"/></r>"));
    EXPECT_EQ(preset_ids(), (std::vector<uint64_t>{20, 12}));
    EXPECT_EQ(ids(preset_songs(12)), (std::vector<uint64_t>{3, 1}));
    EXPECT_EQ(presetSongs_get().count(5), 0u);

    presetlist_set_list(answer_of("<r/>"));
    EXPECT_TRUE(presetlists_get().empty());
    EXPECT_TRUE(presetSongs_get().empty());
}

TEST(PresetState, EveryGratisPlaylistHoldsEveryItemOfTheAnswer) {
    init_presetPlaylist();
    presetlist_set_list(answer_of(PRESETS));
    presetlist_set_songs(12, answer_of("<r><item id=\"3\"/></r>"));

    std::string items;
    for (int i = 1; i <= 5; ++i) {
        items += "<item id=\"" + std::to_string(i) + "\"/>";
    }
    gratislist_set_list(answer_of("<r><playlist id=\"30\" name=\"g\"><items>" + items +
                                  "</items></playlist><playlist id=\"31\" name=\"h\" "
                                  "modified_at=\"m\"/><playlist id=\"32\"/></r>"));
    EXPECT_EQ(preset_ids(), (std::vector<uint64_t>{30, 31}));
    EXPECT_EQ(preset_sorts(), (std::vector<uint32_t>{1, 2}));
    EXPECT_EQ(presetlists_get()[0].modified_at, "");
    EXPECT_EQ(presetlists_get()[1].modified_at, "m");
    for (uint64_t id : {30, 31}) {
        EXPECT_EQ(ids(preset_songs(id)), (std::vector<uint64_t>{1, 2, 3, 4, 5})) << id;
    }
    // Songs of a preset fetched before stay stored, though not listed.
    EXPECT_EQ(ids(preset_songs(12)), std::vector<uint64_t>{3});

    // Every playlist shows the one list of songs, held once; the number of
    // playlists keeps its bound.
    const size_t most = deployment::MAX_SERVICE_PLAYLISTS;
    std::string many;
    for (size_t i = 0; i < most + 8; ++i) {
        many += "<playlist id=\"" + std::to_string(100 + i) + "\" name=\"p\"/>";
    }
    gratislist_set_list(answer_of("<r>" + many + items + "</r>"));
    ASSERT_EQ(presetlists_get().size(), most);
    EXPECT_EQ(presetlists_get().back().id, 100 + most - 1);
    EXPECT_EQ(presetSongs_get().count(100 + most), 0u);
    EXPECT_EQ(presetSongs_get().at(100), presetSongs_get().at(100 + most - 1));
    init_presetPlaylist();
    EXPECT_TRUE(presetlists_get().empty() && presetSongs_get().empty());
}

class Presets : public SwitchedOn<SwitchBelow> {
  protected:
    std::string preset_file() { return file("presetPlaylist"); }
};

TEST_F(Presets, OpeningAPresetFetchesItsSongsUnderItsId) {
    do_presetPlaylist(nullptr);
    do_presetPlaylist("-1");
    EXPECT_EQ(getDialogInfo().message, DLG_MSG_CONNECTING);
    sent(1); // the children may note their requests in any order
    do_presetPlaylist("12");
    EXPECT_EQ(sent(2), (std::vector<std::string>{"GET /cms/playlists/18446744073709551615",
                                                 "GET /cms/playlists/12"}));

    // The id rides back whole in the user value, also all 64 bits set.
    callback_allPresetPlaylist(200, "<r><playlist id=\"-1\" name=\"n\" modified_at=\"m\"/></r>",
                               nullptr);
    callback_presetPlaylist(200, "<r><item id=\"8\"/></r>", curl_user_of_id(~0ULL));
    EXPECT_EQ(ids(preset_songs(~0ULL)), std::vector<uint64_t>{8});
    EXPECT_FALSE(getDialogInfo().isShow);
    EXPECT_NE(preset_file().find("\"songs\":[{\"id\":\"8\""), std::string::npos);

    // Not listed (a gratis answer replaced the list meanwhile): nothing is
    // stored, and the wait still ends.
    json_make_dlg_wait_modal(DLG_TITLE_MESSAGE, DLG_MSG_CONNECTING, true, false);
    callback_presetPlaylist(200, "<r><item id=\"9\"/></r>", curl_user_of_id(12));
    EXPECT_EQ(presetSongs_get().count(12), 0u);
    EXPECT_FALSE(getDialogInfo().isShow);

    // Switching off withdraws the requests under way; while off nothing is
    // sent.
    switch_off_below();
    do_presetPlaylist("13");
    EXPECT_EQ(curl_num(), 0);
}

TEST_F(Presets, FailedAnswersKeepTheListAndARefusalEmptiesIt) {
    callback_allPresetPlaylist(200, PRESETS, nullptr);
    callback_presetPlaylist(200, "<r><item id=\"8\"/></r>", curl_user_of_id(12));
    std::string before = preset_file();

    callback_allPresetPlaylist(500, "<e><message>busy</message></e>", nullptr);
    EXPECT_EQ(getDialogInfo().message, "server([500]: get all preset playlist)\n[ busy ]");
    callback_gratisPlaylist(200, "<r><playlist id=\"1\" name=\"g\"", nullptr);
    EXPECT_EQ(getDialogInfo().message, "get gratis playlist");
    callback_gratisPlaylist(401, "<r/>", nullptr);
    EXPECT_EQ(getDialogInfo().message, "server([401]: gratis playlist)");
    callback_presetPlaylist(404, "<r/>", curl_user_of_id(12));
    EXPECT_EQ(getDialogInfo().message, "server([404]: get preset playlist)");
    EXPECT_EQ(preset_ids(), (std::vector<uint64_t>{12, 5}));
    EXPECT_EQ(ids(preset_songs(12)), std::vector<uint64_t>{8});
    EXPECT_EQ(preset_file(), before);

    callback_presetPlaylist(403, "<e/>", curl_user_of_id(12));
    EXPECT_EQ(get_status(), 0);
    EXPECT_EQ(getDialogInfo().message, "server([403]: get preset playlist)");
    EXPECT_TRUE(presetlists_get().empty() && presetSongs_get().empty());
    EXPECT_NE(preset_file().find("\"playlists\":[]"), std::string::npos);
}
