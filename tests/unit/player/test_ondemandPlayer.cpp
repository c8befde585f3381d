// The play manager's step machine driven by hand: a stand-in curl notes each
// request and answers nothing, and each test delivers the answers itself.
#include "link/rcs_sock.h"
#include "net/curl.h"
#include "player/download.h"
#include "player/ondemandPlayer.h"
#include "player/playback.h"
#include "player/progress.h"
#include "state/contents.h"
#include "state/dl_list.h"
#include "state/playManager.h"
#include "state/playlist.h"
#include "state/presetPlaylist.h"
#include "state/queuelist.h"
#include "state/song_list.h"
#include "support/stand_in_service.h"
#include "support/switch_below.h"
#include "support/temp_root.h"
#include "support/wait.h"
#include "ui/dialog.h"
#include "xml/xml.h"

#include <algorithm>
#include <gtest/gtest.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

namespace {

Song song(uint64_t id, uint32_t order = 0, const char* playable = "") {
    Song s;
    s.id = id;
    s.display_order = order;
    s.title = "t" + std::to_string(id);
    s.isPlayOk = playable;
    return s;
}

std::string address_answer(uint64_t id, bool audio = false) {
    std::string base = "https://files.example/" + std::to_string(id);
    return "<r><midi>" + base + ".mid</midi>" + (audio ? "<mp3>" + base + ".mp3</mp3>" : "") +
           "</r>";
}

void* user(uint64_t id) {
    return curl_user_of_id(id);
}

// The play manager's own request for song `id` in its current play.
SongTicket asked(uint64_t id) {
    return SongTicket{id, ondemand_play()};
}

} // namespace

class Player : public ::testing::Test {
  protected:
    void SetUp() override {
        xml_init();
        install_stand_in_service(root);
        fs::mk_dir(root.path() + "/usr/local/www/ctrl");
        listen_for_the_link();
        setGratis("false");
        switch_on_below();
        sent(); // the switch-on messages
    }
    void TearDown() override {
        switch_off_below();
        run_until([] { return curl_num() == 0; });
        rcssock_close();
        close(peer_);
        close(listener_);
        stopped_progress_timer();
        setGratis("true");
    }

    void listen_for_the_link() {
        std::string path = root.path() + "/tmp/rcs_socket";
        fs::mk_dir(root.path() + "/tmp");
        listener_ = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
        sockaddr_un address{};
        address.sun_family = AF_UNIX;
        path.copy(address.sun_path, sizeof address.sun_path - 1);
        ASSERT_EQ(bind(listener_, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
        ASSERT_EQ(listen(listener_, 1), 0);
        ASSERT_EQ(rcssock_open(), 1);
        peer_ = accept4(listener_, nullptr, nullptr, SOCK_CLOEXEC | SOCK_NONBLOCK);
        ASSERT_GE(peer_, 0);
    }
    // What the daemon has sent to the control server since the last call.
    std::string sent() {
        std::string got;
        char buffer[4096];
        for (ssize_t n; (n = recv(peer_, buffer, sizeof buffer, 0)) > 0;) {
            got.append(buffer, static_cast<size_t>(n));
        }
        return got;
    }
    // A file of song `id` has arrived: the answer of its download.
    void arrive(uint64_t id, const char* name, int status = 200, bool by_hand = false) {
        std::string path = song_dir(id) + "/" + name;
        root.write(path.substr(root.path().size()), "data");
        if (by_hand) {
            callback_download(status, path, user(id));
        } else {
            answer_download(asked(id), status, path);
        }
    }
    // The song's addresses and then its MIDI file arrive.
    void fetch(uint64_t id) {
        answer_downloadurl(asked(id), 200, address_answer(id));
        arrive(id, "midi");
    }
    void queue(std::initializer_list<uint64_t> ids) {
        std::vector<Song> songs;
        for (uint64_t id : ids) {
            songs.push_back(song(id));
        }
        songlist_set(songs);
        for (uint64_t id : ids) {
            addSongToQueuelistBtm(id);
        }
    }

    TempRoot root;
    int listener_ = -1;
    int peer_ = -1;
};

TEST_F(Player, AQueueSongIsFetchedWithTheNextAndLeavesTheQueueWhenLoaded) {
    queue({1, 2, 3});
    ondemandPlaySong(CATEGORY_QUEUE, 0, 0);
    EXPECT_EQ(sent(), "<set_seq status=\"pause\" />\n");
    EXPECT_TRUE(is_started_progress_timer());
    EXPECT_EQ(ondemand_step(), STEP_PLAY_DOWNLOAD);
    EXPECT_EQ(getOndemandPlayManager().playSong.id, 1u);
    EXPECT_EQ(getOndemandPlayManager().nextSong.id, 2u);

    answer_downloadurl(asked(1), 200, address_answer(1, true));
    EXPECT_TRUE(isUrlDownload(1));
    EXPECT_EQ(getDialogInfo().message, DLG_MSG_CONNECTING);
    // The MIDI file alone does not move on: the audio track is still coming.
    arrive(1, "midi");
    EXPECT_EQ(ondemand_step(), STEP_PLAY_DOWNLOAD);
    arrive(1, "audio.mp3");
    EXPECT_EQ(ondemand_step(), STEP_NEXT_DOWNLOAD);
    fetch(2);
    EXPECT_EQ(ondemand_step(), STEP_END);
    EXPECT_FALSE(is_started_progress_timer());

    // Each step pauses the sequencer; the last loads the song.
    std::string dir = song_dir(1);
    std::string load = "<set_seq status=\"load\" midi_path=\"" + dir + "/midi\" audio_path=\"" +
                       dir + "/audio.mp3\"/>\n";
    std::string messages = sent();
    ASSERT_GE(messages.size(), load.size());
    EXPECT_EQ(messages.substr(messages.size() - load.size()), load);
    EXPECT_EQ(messages.find("load"), messages.size() - load.size() + 17);
    // The children write in any order; what was asked for is the set.
    std::vector<std::string> asked = noted_requests(root, 5);
    std::sort(asked.begin(), asked.end());
    EXPECT_EQ(asked, (std::vector<std::string>{
                         "GET /items/1/downloadurls", "GET /items/2/downloadurls",
                         "GET https://files.example/1.mid", "GET https://files.example/1.mp3",
                         "GET https://files.example/2.mid"}));
    ASSERT_EQ(queuelist_get().size(), 2u);
    EXPECT_EQ(queuelist_get()[0].id, 2u);
    EXPECT_EQ(queuelist_get()[0].display_order, 0u);
    EXPECT_FALSE(getDialogInfo().isShow);
    EXPECT_EQ(getDialogInfo().perProg, "100.0");

    // The loaded song has left the queue: "next" plays the entry now at its
    // index, and the machine is idle until then.
    ondemandNextStep();
    EXPECT_EQ(sent(), "");
    ondemandPlayNext();
    EXPECT_EQ(getOndemandPlayManager().playSong.id, 2u);
    EXPECT_EQ(getOndemandPlayManager().nextSong.id, 3u);
}

TEST_F(Player, FailuresDropTheQueueSongAndGiveUpWhenNothingIsLeft) {
    queue({1, 2});
    ondemandPlaySong(CATEGORY_QUEUE, 0, 0);
    // An unreadable address answer for the play song: it leaves the queue and
    // the next one is tried.
    answer_downloadurl(asked(1), 200, "not xml");
    EXPECT_EQ(getDialogInfo().message, "downloadUrl");
    ASSERT_EQ(queuelist_get().size(), 1u);
    EXPECT_EQ(getOndemandPlayManager().playSong.id, 2u);
    EXPECT_FALSE(isNextSong());

    // A transfer cut mid-file is no song: the file goes, nothing is recorded.
    answer_downloadurl(asked(2), 200, address_answer(2));
    arrive(2, "midi", CURL_DOWNLOAD_FAILED);
    EXPECT_FALSE(root.exists(song_dir(2).substr(root.path().size()) + "/midi"));
    EXPECT_FALSE(isSongDownload(2));
    EXPECT_FALSE(contents_is_valid_id(2));
    // Nothing is left to play.
    EXPECT_TRUE(queuelist_get().empty());
    EXPECT_EQ(getOndemandPlayManager().playSong.id, 0u);
    EXPECT_FALSE(is_started_progress_timer());
    // The wait dialog gives way to the error.
    EXPECT_EQ(getDialogInfo().type, "error");
    EXPECT_EQ(getDialogInfo().message, "server([0]: download)");
    std::string messages = sent();
    EXPECT_NE(messages.find("<set_seq time=\"0\" />\n<set_rcs mode=\"ondemandNoSong\"/>\n"),
              std::string::npos)
        << messages;
    EXPECT_EQ(messages.find("status=\"load\""), std::string::npos);
}

TEST_F(Player, OnlyTheCurrentPlaysAnswerForTheAwaitedSongMovesOn) {
    queue({1, 2, 3});
    ondemandPlaySong(CATEGORY_QUEUE, 0, 0);
    SongTicket first = asked(1);
    ondemandPlaySong(CATEGORY_QUEUE, 1, 0);
    ASSERT_EQ(getOndemandPlayManager().playSong.id, 2u);
    // The earlier play's answer, one made by hand, one for another song:
    // recorded, nothing more.
    answer_downloadurl(first, 200, address_answer(1));
    callback_downloadurl(200, address_answer(2), user(2));
    answer_downloadurl(asked(3), 500, "<e/>");
    EXPECT_TRUE(isUrlDownload(1));
    EXPECT_EQ(ondemand_step(), STEP_PLAY_DOWNLOAD);
    EXPECT_NE(getDialogInfo().type, "error");
    EXPECT_EQ(getDialogInfo().message, DLG_MSG_LOADING);
    answer_downloadurl(asked(2), 200, address_answer(2));
    EXPECT_EQ(getDialogInfo().message, DLG_MSG_CONNECTING);
}

TEST_F(Player, AFailingNextSongIsSkippedAndThePlaySongStillLoads) {
    queue({1, 2});
    ondemandPlaySong(CATEGORY_QUEUE, 0, 0);
    fetch(1);
    EXPECT_EQ(ondemand_step(), STEP_NEXT_DOWNLOAD);
    answer_downloadurl(asked(2), 500, "<e><message>busy</message></e>");
    EXPECT_EQ(ondemand_step(), STEP_END);
    EXPECT_NE(sent().find("status=\"load\""), std::string::npos);
    // No error shows for the next song.
    EXPECT_NE(getDialogInfo().type, "error");
}

TEST_F(Player, ChoosingFromPlaylistsFollowsTheRepeatType) {
    presetSongs_get()[7] = share_songs({song(1, 0), song(2, 1), song(3, 2)});
    struct {
        int repeat;
        uint64_t next;
    } cases[] = {{REPEAT_OFF, 0}, {REPEAT_ALL, 1}, {REPEAT_ONE, 3}};
    for (const auto& c : cases) {
        ondemandSetRepeatType(c.repeat);
        setPlayManagerSource(CATEGORY_PRESET, 2, 7);
        ASSERT_TRUE(updatePlayManager());
        EXPECT_EQ(getOndemandPlayManager().playSong.id, 3u);
        EXPECT_EQ(getOndemandPlayManager().nextSong.id, c.next) << c.repeat;
    }

    // A user playlist skips unplayable songs.
    playlistSongs_get()[9] = {song(1, 0), song(2, 1, "false"), song(3, 2, "false"), song(4, 3),
                              song(5, 4, "false")};
    ondemandSetRepeatType(REPEAT_OFF);
    setPlayManagerSource(CATEGORY_USER, 1, 9);
    ASSERT_TRUE(updatePlayManager());
    EXPECT_EQ(getOndemandPlayManager().playSong.id, 4u);
    EXPECT_EQ(getOndemandPlayManager().playSongIndex, 3u);
    EXPECT_FALSE(isNextSong());
    ondemandSetRepeatType(REPEAT_ALL);
    ASSERT_TRUE(updatePlayManager());
    EXPECT_EQ(getOndemandPlayManager().nextSong.id, 1u);

    // From index 4 on nothing is playable.
    ondemandPlaySong(CATEGORY_USER, 4, 9);
    EXPECT_EQ(getDialogInfo().message, "update song data error");
    EXPECT_EQ(ondemand_step(), STEP_CHOOSE);
    EXPECT_FALSE(is_started_progress_timer());

    // An index past the end hides the dialog and ends.
    ondemandPlaySong(CATEGORY_PRESET, 3, 7);
    EXPECT_EQ(ondemand_step(), STEP_END);
    EXPECT_FALSE(getDialogInfo().isShow);
    presetSongs_get().clear();
    playlistSongs_get().clear();
    ondemandSetRepeatType(REPEAT_OFF);
}

TEST_F(Player, BackRestartsLateInASongAndMovesBackEarly) {
    presetSongs_get()[7] = share_songs({song(1, 0), song(2, 1), song(3, 2)});
    ondemandPlaySong(CATEGORY_PRESET, 1, 7);
    fetch(2);
    fetch(3);
    ASSERT_TRUE(isStepEnd());
    sent();
    ondemandPlayBack(6001);
    EXPECT_EQ(sent(), "<set_seq time=\"0\" />\n");
    ondemandPlayBack(6000);
    EXPECT_EQ(getOndemandPlayManager().playSong.id, 1u);
    // A failure after moving back moves back again: index 0 stays 0.
    answer_downloadurl(asked(1), 404, "<e/>");
    EXPECT_EQ(getOndemandPlayManager().playSongIndex, 0u);
    presetSongs_get().clear();
}

TEST_F(Player, ProgressIsSplitWhileBothSongsArePrepared) {
    queue({1, 2});
    ondemandPlaySong(CATEGORY_QUEUE, 0, 0);
    std::string figure;
    ASSERT_TRUE(progress_take(figure));
    EXPECT_EQ(figure, "0.0");
    progress_of_download(song_dir(1) + "/midi", 1, " 40.0");
    progress_of_download(song_dir(2) + "/midi", 2, " 40.0");
    progress_of_download(song_dir(1) + "/image", 1, " 90.0");
    ASSERT_TRUE(progress_take(figure));
    EXPECT_EQ(figure, "20.000000");
    ASSERT_TRUE(progress_take(figure));
    EXPECT_EQ(figure, "70.000000");
    EXPECT_FALSE(progress_take(figure));
}

TEST_F(Player, DownloadsByHandNeedAnAddressAndLeaveThePlayManagerAlone) {
    do_download(static_cast<uint64_t>(5));
    EXPECT_EQ(getDialogInfo().message, "Download Error ( URL is not registered. )");
    callback_downloadurl(200, "<r><other/></r>", user(5));
    do_download(static_cast<uint64_t>(5));
    EXPECT_EQ(getDialogInfo().message, "Download Error ( URL is not retrieved. )");

    // An image on its own updates only the play manager's flag.
    callback_downloadurl(-1, "<r><image>https://files.example/5.jpg</image></r>", user(5));
    do_download("5");
    EXPECT_EQ(noted_requests(root, 1).back(), "GET https://files.example/5.jpg");
    EXPECT_FALSE(isImageDownload(5));
    arrive(5, "image", 200, true);
    EXPECT_TRUE(isImageDownload(5));
    EXPECT_EQ(contents_get().at(5).image_path, song_dir(5) + "/image");

    // A failed file outside a play shows why and moves nothing.
    unsigned int step = ondemand_step();
    callback_downloadurl(200, address_answer(6), user(6));
    arrive(6, "midi", 404, true);
    EXPECT_EQ(getDialogInfo().message, "server([404]: download)");
    EXPECT_EQ(ondemand_step(), step);
}

TEST_F(Player, TheLoadMessageNamesTheSongsFiles) {
    callback_downloadurl(200, address_answer(8), user(8));
    std::string dir = song_dir(8);
    arrive(8, "midi", 200, true);
    do_load(8);
    EXPECT_EQ(sent(), "<set_seq status=\"load\" midi_path=\"" + dir + "/midi\"/>\n");
}
