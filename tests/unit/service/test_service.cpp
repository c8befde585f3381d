#include "common/common.h"
#include "base/rvx.h"
#include "net/curl.h"
#include "service/answer.h"
#include "service/login.h"
#include "service/refreshTimer.h"
#include "service/status.h"
#include "support/temp_root.h"
#include "support/wait.h"
#include "ui/dialog.h"
#include "xml/xml.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

class Service : public ::testing::Test {
  protected:
    void SetUp() override {
        xml_init();
        // A curl that answers nothing and notes the address it was given.
        root.write("/usr/bin/curl", "#!/bin/sh\necho \"$3\" >> \"$ONDEMAND_ROOT/started\"\n");
        chmod((root.path() + "/usr/bin/curl").c_str(), 0755);
        root.write("/usr/local/olc/api_token.txt", "access");
        root.write("/usr/local/olc/api_refresh_token.txt", "refresh");
        fs::mk_dir(root.path() + "/usr/local/www/ctrl");
        // On and off again leaves the start-up chain idle.
        set_status("on");
        set_status("off");
    }
    void TearDown() override {
        stopped_refresh_timer();
        set_status("off");
        run_until([] { return curl_num() == 0; });
    }

    TempRoot root;
};

TEST_F(Service, RefreshTimerFiresOnceAndKeepsItsHandle) {
    int before = rvx_Count();
    ASSERT_EQ(started_refresh_timer(nullptr), 0);
    ASSERT_EQ(started_refresh_timer(nullptr), 0); // restarted, not doubled
    EXPECT_TRUE(is_refresh_timer_armed());
    EXPECT_EQ(rvx_Count(), before + 1);

    // What the loop calls when the period has passed: one refresh, and no
    // further one until an answer arms the timer again.
    set_refreshTimer_state("start");
    EXPECT_TRUE(is_refresh_timer_armed());
    ASSERT_EQ(refresh_timerEvent(nullptr), 0);
    EXPECT_FALSE(is_refresh_timer_armed());
    ASSERT_TRUE(run_until([] { return curl_num() == 0; }));
    EXPECT_EQ(root.read("/started"), "/auth/refresh\n");

    started_refresh_timer(nullptr);
    set_refreshTimer_state("STOP");
    EXPECT_FALSE(is_refresh_timer_armed());
    EXPECT_EQ(rvx_Count(), before);
}

TEST_F(Service, RefreshAnswersArmTheTimerOnlyWithARefreshToken) {
    callback_refresh(200, "<r><token>a2</token></r>", nullptr);
    EXPECT_EQ(get_token(), "a2");
    EXPECT_FALSE(is_refresh_timer_armed());
    callback_refresh(-1, "<r><refreshToken></refreshToken><Token>a3</Token></r>", nullptr);
    EXPECT_EQ(get_token(), "a3");
    EXPECT_EQ(get_refresh_token(), "");
    EXPECT_FALSE(is_refresh_timer_armed());
    callback_refresh(200, "<r><refreshtoken>r2</refreshtoken></r>", nullptr);
    EXPECT_TRUE(is_refresh_timer_armed());
    // A refused or unreadable answer changes nothing.
    callback_refresh(401, "<r><token>bad</token></r>", nullptr);
    callback_refresh(200, "<r><token>bad</token>", nullptr);
    EXPECT_EQ(get_token(), "a3");
    EXPECT_TRUE(is_refresh_timer_armed());
}

TEST_F(Service, SuccessIsMinusOneOrTwoHundreds) {
    for (int ok : {-1, 200, 204, 299}) {
        EXPECT_TRUE(is_success_status(ok)) << ok;
    }
    for (int bad : {0, 199, 300, 304, 403, 500, -2}) {
        EXPECT_FALSE(is_success_status(bad)) << bad;
    }
}

TEST_F(Service, FailedAnswersShowWhyAndARefusalSwitchesOff) {
    set_status("on");
    Self answer;
    EXPECT_FALSE(accept_answer(500, "<e><message>m1</message></e>", "label", "op", answer));
    EXPECT_EQ(getDialogInfo().message, "server([500]: op)\n[ m1 ]");
    EXPECT_EQ(get_status(), 1);

    // The switch-off resets the dialog; the error must still be what shows.
    EXPECT_FALSE(accept_answer(403, "<e/>", "label", "op", answer));
    EXPECT_EQ(get_status(), 0);
    EXPECT_EQ(getDialogInfo().type, "error");
    EXPECT_EQ(getDialogInfo().message, "server([403]: op)");

    // A refusal that cannot be read is only an unreadable answer.
    set_status("on");
    Self unread;
    EXPECT_FALSE(accept_answer(403, "", "label", "op", unread));
    EXPECT_EQ(get_status(), 1);
    EXPECT_EQ(getDialogInfo().message, "label");

    EXPECT_FALSE(accept_answer(200, "<open>", "label", "op", unread));
    EXPECT_EQ(get_status(), 1);
    EXPECT_TRUE(accept_answer(-1, "<ok/>", "label", "op", unread));
    EXPECT_EQ(unread.name, "ok");

    regionsErrorCheck(403, true);
    EXPECT_EQ(get_status(), 0);
    EXPECT_EQ(getDialogInfo().message, "server([403]: Region Error)");
    EXPECT_EQ(regionsErrorCheck(404, true), 404);
    EXPECT_EQ(getDialogInfo().message, "server([403]: Region Error)");
}

TEST_F(Service, AccountFeaturesSetTheOriginalArtistFlag) {
    callback_account_features(200, "<r><feature id=\"original_artist\" value=\"1\"/></r>", nullptr);
    EXPECT_TRUE(isOriginalArtist());
    // Other features and unreadable answers leave it.
    callback_account_features(200, "<r><feature id=\"other\" value=\"0\"/></r>", nullptr);
    callback_account_features(-1, "", nullptr);
    EXPECT_TRUE(isOriginalArtist());
    callback_account_features(500, "<r><feature id=\"original_artist\" value=\"0\"/></r>", nullptr);
    EXPECT_TRUE(isOriginalArtist());
    EXPECT_EQ(getDialogInfo().message, "server([500]: account)");
    callback_account_features(200, "<r><FEATURE ID=\"original_artist\" VALUE=\"0\"/></r>", nullptr);
    EXPECT_FALSE(isOriginalArtist());
}

TEST_F(Service, SequencerStates) {
    set_seq_status_value(SEQ_UNKNOWN);
    set_seq_status("play"); // ignored while off
    EXPECT_EQ(get_seq_status(), SEQ_UNKNOWN);

    set_status("on");
    struct {
        const char* report;
        int state;
        int next_control;
    } steps[] = {
        {"PLAY", SEQ_PLAY, 0},
        {"ffs", SEQ_FFS, 0}, // wound from playing: play on
        {"load", SEQ_FFS, 0},
        {"nosong", SEQ_FFS, 0},
        {"stop", SEQ_STOP, 0},
        {"pause", SEQ_PAUSE, 0},
        {"Ffs", SEQ_FFS, 1}, // wound from pause: stay paused
        {nullptr, SEQ_FFS, 1},
        {"other", SEQ_UNKNOWN, 1},
        {"load", SEQ_LOAD, 1},
        {"stop", SEQ_STOP, 1},
        {"play", SEQ_PLAY, 0},
        {"nosong", SEQ_NOSONG, 1}, // ended without a next song: the next is held
    };
    for (const auto& step : steps) {
        set_seq_status(step.report);
        EXPECT_EQ(get_seq_status(), step.state) << (step.report ? step.report : "(none)");
        EXPECT_EQ(get_next_control_status(), step.next_control)
            << (step.report ? step.report : "(none)");
    }
}
