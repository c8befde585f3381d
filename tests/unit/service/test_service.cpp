#include "base/rvx.h"
#include "common/common.h"
#include "common/fs.h"
#include "net/curl.h"
#include "request/answer.h"
#include "service/login.h"
#include "service/refreshTimer.h"
#include "service/status.h"
#include "support/service_hooks.h"
#include "support/temp_root.h"
#include "support/wait.h"
#include "ui/dialog.h"
#include "xml/self.h"
#include "xml/xml.h"

#include <climits>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <utility>

class Service : public ::testing::Test {
  protected:
    void SetUp() override {
        xml_init();
        connect_service_hooks();
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

TEST_F(Service, RefreshTimerFiresAndKeepsItsHandle) {
    int before = rvx_Count();
    ASSERT_EQ(started_refresh_timer(), 0);
    ASSERT_EQ(started_refresh_timer(), 0); // restarted, not doubled
    EXPECT_TRUE(is_refresh_timer_armed());
    EXPECT_EQ(rvx_Count(), before + 1);

    // What the loop calls when the period has passed: one refresh; its
    // answer arms the next.
    set_refreshTimer_state("start");
    EXPECT_TRUE(is_refresh_timer_armed());
    ASSERT_EQ(refresh_timerEvent(nullptr), 0);
    EXPECT_FALSE(is_refresh_timer_armed());
    ASSERT_TRUE(run_until([] { return curl_num() == 0; }));
    EXPECT_EQ(root.read("/started"), "/auth/refresh\n");

    started_refresh_timer();
    set_refreshTimer_state("STOP");
    EXPECT_FALSE(is_refresh_timer_armed());
    EXPECT_EQ(rvx_Count(), before);
}

TEST_F(Service, EveryRefreshOutcomeArmsTheTimer) {
    set_refresh_token("r1");
    set_token("a1");
    // A success: at three quarters of the token's life, or at the period.
    callback_refresh(200, "<r><token expires=\"600\">a2</token></r>", nullptr);
    EXPECT_EQ(get_token(), "a2");
    EXPECT_EQ(get_refresh_token(), "r1");
    EXPECT_EQ(refresh_armed_delay_ms(), 450000);
    callback_refresh(-1, "<r><refreshToken>r2</refreshToken><Token>a3</Token></r>", nullptr);
    EXPECT_EQ(get_refresh_token(), "r2");
    EXPECT_EQ(refresh_armed_delay_ms(), REFRESH_PERIOD_MS);
    // Failures back off, doubling up to fifteen minutes, and store nothing.
    std::vector<long long> delays;
    const std::vector<std::pair<int, const char*>> failures = {
        {500, "<r><token>bad</token></r>"},
        {200, "<r><token>bad</token>"},
        {-1, ""},
        {200, "<r><token> </token><refreshtoken>r9</refreshtoken></r>"},
        {200, "<r/>"},
        {502, "<r/>"}};
    for (const auto& [status, body] : failures) {
        callback_refresh(status, body, nullptr);
        EXPECT_TRUE(is_refresh_timer_armed());
        delays.push_back(refresh_armed_delay_ms() / 60000);
    }
    EXPECT_EQ(delays, (std::vector<long long>{1, 2, 4, 8, 15, 15}));
    EXPECT_EQ(get_token(), "a3");
    EXPECT_EQ(get_refresh_token(), "r2");
    // A success starts the back-off afresh.
    callback_refresh(200, "<r><token>a4</token></r>", nullptr);
    callback_refresh(500, "", nullptr);
    EXPECT_EQ(refresh_armed_delay_ms(), REFRESH_BACKOFF_FIRST_MS);
}

TEST_F(Service, SuccessIsMinusOneOrTwoHundreds) {
    for (int ok : {-1, 200, 204, 299}) {
        EXPECT_TRUE(is_success_status(ok)) << ok;
    }
    for (int bad : {0, 199, 300, 304, 403, 500, -2}) {
        EXPECT_FALSE(is_success_status(bad)) << bad;
    }
}

namespace {

// What the success action of a test row saw.
std::string succeeded;

void note_success(Self& answer, void*) {
    succeeded = answer.name;
}

} // namespace

TEST_F(Service, FailedAnswersShowWhyAndARefusalSwitchesOff) {
    constexpr AnswerHandler row =
        AnswerHandler().with_parse_label("label").with_operation("op").with_success(note_success);
    set_status("on");
    succeeded.clear();
    handle_answer(row, 500, "<e><message>m1</message></e>", nullptr);
    EXPECT_EQ(getDialogInfo().message, "server([500]: op)\n[ m1 ]");
    EXPECT_EQ(get_status(), 1);

    // The switch-off resets the dialog; the error must still be what shows.
    handle_answer(row, 403, "<e/>", nullptr);
    EXPECT_EQ(get_status(), 0);
    EXPECT_EQ(getDialogInfo().type, "error");
    EXPECT_EQ(getDialogInfo().message, "server([403]: op)");

    // A refusal that cannot be read is only an unreadable answer.
    set_status("on");
    handle_answer(row, 403, "", nullptr);
    EXPECT_EQ(get_status(), 1);
    EXPECT_EQ(getDialogInfo().message, "label");
    handle_answer(row, 200, "<open>", nullptr);
    EXPECT_EQ(get_status(), 1);
    EXPECT_EQ(succeeded, "");

    handle_answer(row, -1, "<ok/>", nullptr);
    EXPECT_EQ(succeeded, "ok");

    regionsErrorCheck(403, true);
    EXPECT_EQ(get_status(), 0);
    EXPECT_EQ(getDialogInfo().message, "server([403]: Region Error)");
    EXPECT_EQ(regionsErrorCheck(404, true), 404);
    EXPECT_EQ(getDialogInfo().message, "server([403]: Region Error)");
}

TEST_F(Service, EachRowChoosesWhatAnUnreadableOrFailedAnswerDoes) {
    auto dialog_file = [this] { return root.read("/usr/local/www/ctrl/ondemand_dialog.json"); };
    auto status_file = [this] { return root.read("/usr/local/www/ctrl/ondemand_status.json"); };
    set_status("on");

    // A modal wait dialog is replaced with the status when it names a failure.
    constexpr AnswerHandler modal = AnswerHandler()
                                        .with_parse_label("label")
                                        .with_operation("op")
                                        .with_success(note_success)
                                        .with_unreadable(Unreadable::ShowLabelOrStatus);
    handle_answer(modal, 502, "<html>bad gateway", nullptr);
    EXPECT_EQ(getDialogInfo().message, "server([502]: op)");
    handle_answer(modal, 200, "not xml", nullptr);
    EXPECT_EQ(getDialogInfo().message, "label");

    // Read on with an empty tree.
    constexpr AnswerHandler empty = AnswerHandler()
                                        .with_parse_label("label")
                                        .with_operation("op")
                                        .with_success(note_success)
                                        .with_unreadable(Unreadable::ReadEmpty);
    succeeded = "before";
    handle_answer(empty, 200, "<broken", nullptr);
    EXPECT_EQ(succeeded, "");

    // Quiet rows: nothing shows, only a refusal switches off; the status file
    // and the wait dialog follow the row.
    constexpr AnswerHandler quiet = AnswerHandler()
                                        .with_success(note_success)
                                        .with_hides_wait_dialog(true)
                                        .with_publishes_status(true)
                                        .with_unreadable(Unreadable::Ignore)
                                        .with_failure(Failure::RegionCheck);
    json_make_dlg_wait_modal(DLG_TITLE_MESSAGE, DLG_MSG_CONNECTING, true, false);
    fs::rm_file(root.path() + "/usr/local/www/ctrl/ondemand_status.json");
    handle_answer(quiet, 500, "<e/>", nullptr);
    EXPECT_EQ(getDialogInfo().type, "wait");
    EXPECT_NE(status_file(), "<missing>");
    fs::rm_file(root.path() + "/usr/local/www/ctrl/ondemand_status.json");
    handle_answer(quiet, 200, "", nullptr);
    EXPECT_NE(status_file(), "<missing>");
    EXPECT_EQ(getDialogInfo().type, "wait");
    handle_answer(quiet, 200, "<done/>", nullptr);
    EXPECT_EQ(succeeded, "done");
    EXPECT_FALSE(getDialogInfo().isShow);
    handle_answer(quiet, 403, "<e/>", nullptr);
    EXPECT_EQ(get_status(), 0);

    // A row that ignores the status runs its action on any answer.
    set_status("on");
    constexpr AnswerHandler blind = AnswerHandler()
                                        .with_success(note_success)
                                        .with_unreadable(Unreadable::Ignore)
                                        .with_failure(Failure::Ignore);
    handle_answer(blind, 403, "<refused/>", nullptr);
    EXPECT_EQ(succeeded, "refused");
    EXPECT_EQ(get_status(), 1);
    EXPECT_NE(dialog_file(), "<missing>");
}

TEST_F(Service, StartersCheckTheServiceAndReplaceTheWaitDialogOfAnUnsentRequest) {
    constexpr RequestStarter row = RequestStarter()
                                       .with_wait_message(DLG_MSG_CONNECTING)
                                       .with_unsent_label("unsent")
                                       .with_publishes_status(true);
    int sent = 0;
    fs::rm_file(root.path() + "/usr/local/www/ctrl/ondemand_status.json");
    EXPECT_EQ(start_request(row, [&sent] { return ++sent, 0; }), -1);
    EXPECT_EQ(sent, 0);
    EXPECT_NE(root.read("/usr/local/www/ctrl/ondemand_status.json"), "<missing>");

    set_status("on");
    EXPECT_EQ(start_request(row, [&sent] { return ++sent, 0; }), 0);
    EXPECT_EQ(sent, 1);
    EXPECT_EQ(getDialogInfo().type, "wait");
    EXPECT_EQ(getDialogInfo().message, DLG_MSG_CONNECTING);

    EXPECT_EQ(start_request(row, [] { return -1; }), -1);
    EXPECT_EQ(getDialogInfo().type, "error");
    EXPECT_EQ(getDialogInfo().message, "unsent");
}

TEST_F(Service, TokensFromAnAnswerTree) {
    Self answer;
    ASSERT_EQ(self_parse("<response><auth><token expires=\"1\">t1</token>"
                         "<refreshToken>r1</refreshToken></auth><token expires=\"1\">t2</token>"
                         "<refreshtoken>r2</refreshtoken></response>",
                         answer),
              0);
    // The first of each name...
    set_token(answer);
    set_refresh_token(answer);
    EXPECT_EQ(root.read("/usr/local/olc/api_token.txt"), "t1");
    EXPECT_EQ(root.read("/usr/local/olc/api_refresh_token.txt"), "r1");
    // ...or every one, the last winning, with the token's lifetime.
    EXPECT_TRUE(store_tokens(answer, false));
    EXPECT_EQ(root.read("/usr/local/olc/api_token.txt"), "t2");
    EXPECT_EQ(root.read("/usr/local/olc/api_refresh_token.txt"), "r2");
    EXPECT_EQ(set_token_expires(), 1000);
    EXPECT_FALSE(is_refresh_timer_armed());
    store_tokens(answer, true);
    EXPECT_TRUE(is_refresh_timer_armed());
}

// A lifetime beyond what milliseconds can hold stops at the end of the range
// (the product once overflowed); the refresh is still armed.
TEST_F(Service, TokenLifetimesOutOfRangeStopAtTheEnd) {
    const std::pair<const char*, long long> cases[] = {
        {"9223372036854775", 9223372036854775000LL},
        {"9223372036854776", LLONG_MAX},
        {"99999999999999999999", LLONG_MAX},
        {"-99999999999999999", LLONG_MIN},
    };
    for (const auto& [expires, ms] : cases) {
        Self answer;
        ASSERT_EQ(self_parse(std::string("<r><token expires=\"") + expires +
                                 "\">t</token><refreshtoken>r</refreshtoken></r>",
                             answer),
                  0);
        EXPECT_TRUE(store_tokens(answer, true)) << expires;
        EXPECT_EQ(set_token_expires(), ms) << expires;
        EXPECT_TRUE(is_refresh_timer_armed()) << expires;
    }
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

TEST_F(Service, SwitchingOnByHandClearsAStopLeftByARefusal) {
    set_status("on");
    regionsErrorCheck(403, false);
    EXPECT_EQ(get_status(), 0);
    // The next catalogue answer, after the user has switched on again, must
    // not switch off once more.
    set_status("on");
    initCallWebApi();
    EXPECT_EQ(get_status(), 1);
}
