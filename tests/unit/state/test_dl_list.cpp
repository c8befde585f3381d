#include "common/paths.h"
#include "state/contents.h"
#include "state/dl_list.h"
#include "state/playManager.h"
#include "support/answers.h"
#include "support/temp_root.h"
#include "xml/xml.h"

#include <gtest/gtest.h>

namespace {

Self midi_answer() {
    return answer_of("<response><song><midi>m</midi></song></response>");
}

std::string dir_of(uint64_t id) {
    return std::string(paths::DOWNLOAD_DIR) + "/" + std::to_string(id);
}

Song song_with_id(uint64_t id) {
    Song s;
    s.id = id;
    return s;
}

class DlList : public ::testing::Test {
  protected:
    void TearDown() override {
        // Empties the order too: nothing is left listed for the next test.
        ondemandInitManager();
        removedOldFile(0);
        initDLlist();
        contents_clear();
    }
    // Registers songs 1 to n, oldest first, each with a file in its directory.
    void register_songs(uint64_t n) {
        for (uint64_t id = 1; id <= n; ++id) {
            root_.write(dir_of(id) + "/midi", "x");
            setDlInfoToURL(id, midi_answer());
        }
    }
    TempRoot root_;
};

TEST_F(DlList, UnknownIdReadsFalseAndIsNeverRegisteredByAFlag) {
    setDlInfoToSong(5, true);
    setDlInfoToSong_audio(5, true);
    setDlInfoToImage(5, true);
    EXPECT_FALSE(dlListCheck_id(5));
    EXPECT_FALSE(isUrlDownload(5) || isUrlDownload_audio(5) || isSongDownload(5) ||
                 isSongDownload_audio(5) || isImageDownload(5));
    EXPECT_TRUE(dl_id_list().empty());
    // A caller that forgot to check gets an empty record, not a crash.
    EXPECT_FALSE(getDlSong_from_id(5).isUrl);
    EXPECT_TRUE(getDlSong_from_id(5).urls.empty());
}

TEST_F(DlList, AddressAnswersAreMergedAndTheIdIsListedOnce) {
    setDlInfoToURL(3, answer_of("<Response><Image>i1</Image><x><IMAGE>i2</IMAGE></x></Response>"));
    EXPECT_TRUE(dlListCheck_id(3));
    EXPECT_FALSE(isUrlDownload(3));
    EXPECT_EQ(getDlSong_from_id(3).urls.at("image"), "i2");

    setDlInfoToURL(3, answer_of("<r><midi>m</midi><zip>z</zip><a><mp3>s</mp3></a></r>"));
    const dlSongInfo& info = getDlSong_from_id(3);
    EXPECT_TRUE(info.isUrl);
    EXPECT_TRUE(info.isUrlAudio);
    EXPECT_EQ(info.urls, (std::map<std::string, std::string>{
                             {"image", "i2"}, {"midi", "m"}, {"zip", "z"}, {"audio", "s"}}));

    // A later answer without those elements clears no flag.
    setDlInfoToSong(3, true);
    setDlInfoToImage(3, true);
    setDlInfoToURL(3, answer_of("<r><other>o</other></r>"));
    EXPECT_TRUE(isUrlDownload(3) && isUrlDownload_audio(3) && isSongDownload(3) &&
                isImageDownload(3));
    EXPECT_FALSE(isSongDownload_audio(3));
    EXPECT_EQ(dl_id_list(), (std::vector<uint64_t>{3}));
}

TEST_F(DlList, SongDirectoryHoldsTheWholeUnsignedId) {
    EXPECT_EQ(song_dir(18446744073709551615ULL),
              root_.path() + "/usr/local/ondemand/18446744073709551615");
}

TEST_F(DlList, EvictionRemovesTheOldestUntilTenRemain) {
    register_songs(12);
    for (uint64_t id : {1, 3}) {
        contents_set(id, paths::at(dir_of(id)) + "/midi", nullptr);
    }
    removeFileToMaxNum();
    EXPECT_FALSE(root_.exists(dir_of(1)));
    EXPECT_FALSE(root_.exists(dir_of(2)));
    EXPECT_FALSE(dlListCheck_id(1) || dlListCheck_id(2));
    // The contents of an evicted song go with its directory.
    EXPECT_FALSE(contents_is_valid_id(1));
    EXPECT_TRUE(contents_is_valid_id(3));
    for (uint64_t id = 3; id <= 12; ++id) {
        EXPECT_TRUE(root_.exists(dir_of(id))) << id;
    }
    EXPECT_EQ(dl_id_list().size(), 10u);
}

TEST_F(DlList, EvictionNeverTakesThePlayOrNextSong) {
    register_songs(12);
    setPlayManagerSongs(song_with_id(1), song_with_id(2));
    removeFileToMaxNum();
    EXPECT_TRUE(root_.exists(dir_of(1)));
    EXPECT_TRUE(root_.exists(dir_of(2)));
    EXPECT_FALSE(root_.exists(dir_of(3)));
    EXPECT_FALSE(root_.exists(dir_of(4)));
    EXPECT_EQ(dl_id_list(), (std::vector<uint64_t>{5, 6, 7, 8, 9, 10, 11, 12, 1, 2}));

    removedOldFile(0);
    EXPECT_EQ(dl_id_list(), (std::vector<uint64_t>{1, 2}));
    EXPECT_FALSE(root_.exists(dir_of(12)));
    EXPECT_EQ(getDlList().size(), 2u);
}

TEST_F(DlList, IdsListedBeforeAResetGoWithTheNextEviction) {
    register_songs(3);
    initDLlist();
    EXPECT_TRUE(getDlList().empty());
    EXPECT_EQ(dl_id_list().size(), 3u);

    // Registered again after the reset: listed once, as the newest.
    setDlInfoToURL(1, midi_answer());
    EXPECT_EQ(dl_id_list(), (std::vector<uint64_t>{2, 3, 1}));

    removedOldFile(1);
    EXPECT_FALSE(root_.exists(dir_of(2)));
    EXPECT_FALSE(root_.exists(dir_of(3)));
    EXPECT_TRUE(root_.exists(dir_of(1)));
    EXPECT_EQ(dl_id_list(), (std::vector<uint64_t>{1}));
    EXPECT_TRUE(dlListCheck_id(1));
}

} // namespace
