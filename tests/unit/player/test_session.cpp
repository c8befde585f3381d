// The play session record and its stop events, driven by hand: a stand-in
// curl notes each request's address and form fields, and the session file is
// read back from the test root.
#include "net/curl.h"
#include "player/playback.h"
#include "player/session.h"
#include "state/playManager.h"
#include "state/service.h"
#include "state/session.h"
#include "support/switch_below.h"
#include "support/temp_root.h"
#include "support/wait.h"
#include "xml/xml.h"

#include <gtest/gtest.h>
#include <string>
#include <sys/stat.h>
#include <vector>

namespace {

const char* const FILE_PATH = "/usr/local/session/sssn";

// What the stand-in dispatcher was handed.
std::vector<std::string> dispatched;

int note_dispatch(const char* text) {
    dispatched.push_back(text);
    return 0;
}

void play_song(unsigned long long id) {
    Song song;
    song.id = id;
    setPlayManagerSongs(song, Song());
}

} // namespace

class Session : public ::testing::Test {
  protected:
    void SetUp() override {
        xml_init();
        // One line per request: the address, then each form field.
        root.write("/usr/bin/curl",
                   "#!/bin/sh\n"
                   "line=\"$3\"\n"
                   "while [ $# -gt 0 ]; do\n"
                   "  if [ \"$1\" = --data-urlencode ]; then line=\"$line $2\"; fi\n"
                   "  shift\n"
                   "done\n"
                   "echo \"$line\" >> \"$ONDEMAND_ROOT/started\"\n");
        chmod((root.path() + "/usr/bin/curl").c_str(), 0755);
        root.write("/usr/local/olc/api_token.txt", "access");
        switch_on_below();
        switch_off_below();
        switch_on_below();
        setGratis("false");
        dispatched.clear();
        session_set_dispatcher(note_dispatch);
    }
    void TearDown() override {
        switch_off_below();
        run_until([] { return curl_num() == 0; });
        set_played_song(false);
        setGratis("true");
        session_set_dispatcher(nullptr);
    }

    // The requests sent so far, once every curl has ended.
    std::string requests() {
        EXPECT_TRUE(run_until([] { return curl_num() == 0; }));
        std::string text = root.read("/started");
        return text == "<missing>" ? "" : text;
    }

    std::string record() const { return root.read(FILE_PATH); }

    // A session that the sequencer has played and the service has accepted.
    void played(const std::string& id, unsigned long long song) {
        play_song(song);
        session_start(id);
        set_played_song(true);
        createSessionInfo(song);
    }

    TempRoot root;
};

TEST_F(Session, TheFileFollowsTheFurthestWholeSecond) {
    played("s-1", 7);
    // The directory is made; the record is one line without a line end.
    EXPECT_EQ(record(), "<sssn song_id=\"7\" session_id=\"s-1\" sec=\"0\" />");

    set_seq_time("1500");
    EXPECT_EQ(record(), "<sssn song_id=\"7\" session_id=\"s-1\" sec=\"1\" />");
    // A report within the same second does not write again.
    root.write(FILE_PATH, "marker");
    set_seq_time("1999");
    EXPECT_EQ(record(), "marker");
    set_seq_time("2000");
    EXPECT_EQ(record(), "<sssn song_id=\"7\" session_id=\"s-1\" sec=\"2\" />");
    EXPECT_FALSE(root.exists("/usr/local/session/sssn.wk"));

    // Seeking back keeps the furthest second and the file.
    root.write(FILE_PATH, "marker");
    set_seq_time("500");
    EXPECT_EQ(seq_time_msec(), 500u);
    EXPECT_EQ(max_time_sec(), 2);
    EXPECT_EQ(record(), "marker");

    // Without a file a new second only moves the maximum.
    deleteSessionInfo();
    set_seq_time("3000");
    EXPECT_EQ(max_time_sec(), 3);
    EXPECT_FALSE(root.exists(FILE_PATH));

    // While the service is off nothing changes.
    switch_off_below();
    set_seq_time("9000");
    EXPECT_EQ(max_time_sec(), 3);
    EXPECT_EQ(seq_time_msec(), 3000u);
}

TEST_F(Session, WideIdsAndLongPlaysAreWrittenWhole) {
    // Beyond 32 bits, as the 32-bit controller must print them too.
    played("s-2", 4294967301ULL);
    set_seq_time("86400999");
    EXPECT_EQ(record(), "<sssn song_id=\"4294967301\" session_id=\"s-2\" sec=\"86400\" />");
    // An id read from "-1" is written as the service's answer wrote it.
    played("s-3", ~0ULL);
    EXPECT_EQ(record(), "<sssn song_id=\"-1\" session_id=\"s-3\" sec=\"0\" />");
}

TEST_F(Session, NoRecordWithoutAnOpenSession) {
    // A play answer after the switch-off: the session is closed already.
    play_song(8);
    session_start("late");
    set_played_song(true);
    switch_off_below();
    callback_play(200, "<response/>", nullptr);
    EXPECT_FALSE(root.exists(FILE_PATH));

    // A refused play event writes nothing either.
    switch_on_below();
    play_song(8);
    session_start("s-8");
    callback_play(500, "<response/>", nullptr);
    EXPECT_FALSE(root.exists(FILE_PATH));
    callback_play(200, "<response/>", nullptr);
    EXPECT_EQ(record(), "<sssn song_id=\"8\" session_id=\"s-8\" sec=\"0\" />");

    // The switch-off removes it.
    switch_off_below();
    EXPECT_FALSE(root.exists(FILE_PATH));
}

TEST_F(Session, EachPlayedSessionEndsWithOneStopEvent) {
    // Nothing to report: never played, no session, or a gratis member.
    play_song(5);
    session_start("s-5");
    do_stopApi(5);
    set_played_song(true);
    setGratis("true");
    do_stopApi(5);
    setGratis("false");
    session_clear();
    do_stopApi(5);
    EXPECT_EQ(requests(), "");

    // A session file that cannot be written does not hold back the event.
    root.write("/usr/local/session", "not a directory");
    played("s-6", 6);
    set_seq_time("42500");
    do_stopApi(6);
    // A second end of the same session (another move before the next song
    // plays, then the switch-off) reports nothing more.
    play_song(9);
    do_stopApi(9);
    switch_off_below();
    EXPECT_EQ(requests(), "/user/history/event/stop/6/ session_id=s-6 playtime=42\n");

    // The next session is reported again.
    switch_on_below();
    played("s-7", 9);
    do_stopApi(9);
    EXPECT_EQ(requests(), "/user/history/event/stop/6/ session_id=s-6 playtime=42\n"
                          "/user/history/event/stop/9/ session_id=s-7 playtime=0\n");
}

TEST_F(Session, OnlyASavedSessionRecordIsHandedToTheDispatcher) {
    checkSessionInfo();
    EXPECT_TRUE(dispatched.empty());

    const std::string saved = "<sssn song_id=\"12\" session_id=\"old\" sec=\"42\" />";
    root.write(FILE_PATH, saved + "\nsecond line");
    checkSessionInfo();
    checkSessionInfo();
    EXPECT_EQ(dispatched, std::vector<std::string>({saved + "\n", saved + "\n"}));

    // Another command in the file is not run; a start command would read
    // the file again without end.
    dispatched.clear();
    root.write(FILE_PATH, "<set_ondemand cmd=\"ondemandStart\" pfix=\"d\" id=\"1\"/>");
    checkSessionInfo();
    EXPECT_TRUE(dispatched.empty());

    // The recovered stop event goes out whatever the account is.
    setGratis("true");
    sendSessionInfo(12, "old", 42);
    EXPECT_EQ(requests(), "/user/history/event/stop/12/ session_id=old playtime=42\n");
}
