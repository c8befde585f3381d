#include "service/login.h"

#include "base/debug.h"
#include "common/common.h"
#include "common/fs.h"
#include "common/paths.h"
#include "common/str.h"
#include "net/webapi.h"
#include "request/answer.h"
#include "service/refreshTimer.h"
#include "service/status.h"
#include "state/service.h"
#include "ui/dialog.h"
#include "ui/dialog_keys.h"
#include "ui/json.h"

#include <climits>
#include <cstdlib>

namespace {

constexpr size_t PASSWORD_MAX = 1023;

// Stores the contents of the first element named `name` with `store`.
void store_first(const Self& answer, const char* name, int (*store)(const std::string&)) {
    self_foreach(answer, [name, store](const Self& node) {
        if (node.name == name) {
            store(node.contents);
            return 1;
        }
        return 0;
    });
}

// Every login, re-login and refresh carries a serial; only the answer to the
// newest one sent is handled. An older answer, say a refresh sent before a
// re-login and answered after it, would otherwise overwrite newer tokens.
unsigned token_serial_ = 0;
// The newest token request has not been answered yet.
bool token_in_flight_ = false;
// The login under way answers a refresh the service refused.
bool relogin_after_refusal_ = false;
// The answer being handled stored a token.
bool stored_ = false;

using AnswerFunction = void (*)(int status, const std::string& body, void* user);

RequestCallback newest_only(AnswerFunction handle) {
    unsigned serial = ++token_serial_;
    token_in_flight_ = true;
    return [serial, handle](int status, const std::string& body, void* user) {
        if (serial != token_serial_) {
            debug_printf("token answer %u dropped: request %u is newer\n", serial, token_serial_);
            return;
        }
        token_in_flight_ = false;
        handle(status, body, user);
    };
}

bool logged_in() {
    return !get_refresh_token().empty();
}

// A token request that could not be sent gets no answer to arm the timer.
void not_sent() {
    token_in_flight_ = false;
    if (logged_in()) {
        refresh_after_failure();
    }
}

void on_tokens(Self& answer, void*) {
    stored_ = store_tokens(answer, true);
}

void callback_login(int status, const std::string& body, void* user);

int send_login(bool after_refusal) {
    std::string address = read_account_value("emailaddress");
    std::string password;
    fs::read_first_line(paths::at(paths::PASSWORD_FILE), PASSWORD_MAX, password);
    // The line end ends the password; sent along, it would make every login
    // from a file written with one fail.
    if (!password.empty() && password.back() == '\n') {
        password.pop_back();
        if (!password.empty() && password.back() == '\r') {
            password.pop_back();
        }
    }
    relogin_after_refusal_ = after_refusal;
    return webapi_account_login(address, password, newest_only(callback_login), nullptr);
}

// What follows a login or refresh answer that stored no token. A refresh
// refused with 401 (the refresh token is no longer taken) logs in again with
// the stored account; when that is refused too (401 or 403), refreshing stops
// and the user is asked to log in. A 403 to the refresh itself is the
// service's regional refusal: it has switched the service off, as for any
// request, and the refresh is tried again after the back-off like any other
// failure, as is a login that failed otherwise.
void after_failed_answer(int status, bool login) {
    debug_printf("%s: no token stored (status %d)\n", login ? "login" : "refresh", status);
    if (!login && status == 401) {
        debug_printf("refresh: refused, logging in again with the stored account\n");
        if (send_login(true) != 0) {
            not_sent();
        }
        return;
    }
    if (login && relogin_after_refusal_ && (status == 401 || status == 403)) {
        relogin_after_refusal_ = false;
        debug_printf("refresh: the stored account is refused; refreshing stops\n");
        stopped_refresh_timer();
        if (get_status() != 0) {
            json_make_dlg_relogin();
        }
        return;
    }
    if (logged_in()) {
        refresh_after_failure();
    }
}

void answer_tokens(int status, const std::string& body, void* user, bool login);

void callback_login(int status, const std::string& body, void* user) {
    answer_tokens(status, body, user, true);
}

void on_relogin(Self& answer, void*) {
    stored_ = store_tokens(answer, true);
    ondemand_restart_last_song();
}

// A typed re-login that failed may have replaced a refresh under way.
void relogin_failed(void*) {
    if (logged_in()) {
        refresh_after_failure();
    }
}

void on_account_features(Self& answer, void*) {
    self_foreach(answer, [](const Self& node) {
        if (node.name == "feature") {
            auto id = node.attributes.find("id");
            auto value = node.attributes.find("value");
            if (id != node.attributes.end() && id->second == "original_artist") {
                setOriginalArtist(value != node.attributes.end() &&
                                  atoi(value->second.c_str()) != 0);
            }
        }
        return 0;
    });
    initCallWebApi();
    json_make_status_json();
}

void on_api_list(Self& answer, void*) {
    self_dump(answer);
}

// A refresh has no dialog to show: only a regional refusal acts.
constexpr AnswerHandler REFRESH_ANSWER = AnswerHandler()
                                             .with_operation("login or token refresh")
                                             .with_success(on_tokens)
                                             .with_unreadable(Unreadable::Ignore)
                                             .with_failure(Failure::RegionCheck);
constexpr AnswerHandler RELOGIN_ANSWER = AnswerHandler()
                                             .with_parse_label("re-login")
                                             .with_operation("re-login")
                                             .with_success(on_relogin)
                                             .with_unreadable(Unreadable::ShowLabelOrStatus)
                                             .with_parse_debug("parse error Re-Login\n")
                                             .with_failed(relogin_failed);
constexpr AnswerHandler ACCOUNT_ANSWER = AnswerHandler()
                                             .with_parse_label("account")
                                             .with_operation("account")
                                             .with_success(on_account_features)
                                             .with_unreadable(Unreadable::ReadEmpty)
                                             .with_parse_debug("parse error account features\n");
constexpr AnswerHandler API_LIST_ANSWER = AnswerHandler()
                                              .with_success(on_api_list)
                                              .with_publishes_status(true)
                                              .with_unreadable(Unreadable::Ignore)
                                              .with_failure(Failure::RegionCheck);

// On failure the start-up chain rests under the error dialog.
constexpr RequestStarter ACCOUNT_REQUEST =
    RequestStarter().with_needs_service_on(false).with_unsent_label("account").with_newest_only(
        true);
// Sent as it is; the status file shows the request count afterwards.
constexpr RequestStarter BACKGROUND_REQUEST =
    RequestStarter().with_needs_service_on(false).with_publishes_status(true);
constexpr RequestStarter RELOGIN_REQUEST = RequestStarter()
                                               .with_needs_service_on(false)
                                               .with_wait_message(DLG_MSG_CONNECTING)
                                               .with_unsent_label("re-login")
                                               .with_publishes_status(true);

} // namespace

namespace {

const char* const SPACE = " \t\r\n\v\f";

void answer_tokens(int status, const std::string& body, void* user, bool login) {
    stored_ = false;
    handle_answer(REFRESH_ANSWER, status, body, user);
    if (stored_) {
        relogin_after_refusal_ = false;
    } else {
        after_failed_answer(status, login);
    }
}

// The service's lifetime in seconds as milliseconds; one beyond what
// milliseconds can hold stops at the end of the range instead of overflowing.
long long seconds_to_ms(long long seconds) {
    constexpr long long LIMIT = LLONG_MAX / 1000;
    if (seconds > LIMIT || seconds < -LIMIT) {
        return seconds > 0 ? LLONG_MAX : LLONG_MIN;
    }
    return seconds * 1000;
}

} // namespace

bool store_tokens(const Self& answer, bool arm_refresh) {
    std::string token;
    std::string refresh;
    long long expires_ms = 0;
    self_foreach(answer, [&](const Self& node) {
        std::string text = str::trim(node.contents, SPACE);
        if (text.empty()) {
            return 0;
        }
        if (node.name == "token") {
            token = text;
            auto expires = node.attributes.find("expires");
            expires_ms = expires != node.attributes.end()
                             ? seconds_to_ms(strtoll(expires->second.c_str(), nullptr, 10))
                             : 0;
        } else if (node.name == "refreshtoken") {
            refresh = text;
        }
        return 0;
    });
    // An answer without an access token is no login: what is stored stays.
    if (token.empty()) {
        return false;
    }
    set_token(token);
    set_token_expires(expires_ms);
    if (!refresh.empty()) {
        set_refresh_token(refresh);
    }
    if (arm_refresh && logged_in()) {
        started_refresh_timer();
    }
    return true;
}

void set_token(const Self& answer) {
    store_first(answer, "token", set_token);
}

void set_refresh_token(const Self& answer) {
    store_first(answer, "refreshtoken", set_refresh_token);
}

void do_login() {
    start_request(BACKGROUND_REQUEST, [] {
        int result = send_login(false);
        if (result != 0) {
            not_sent();
        }
        return result;
    });
}

void do_reLogin(const char* username, const char* password) {
    start_request(RELOGIN_REQUEST, [username, password] {
        int result = webapi_account_login(username != nullptr ? username : "",
                                          password != nullptr ? password : "",
                                          newest_only(callback_relogin), nullptr);
        if (result != 0) {
            not_sent();
        }
        return result;
    });
}

void callback_refresh(int status, const std::string& body, void* user) {
    answer_tokens(status, body, user, false);
}

void send_refresh() {
    if (webapi_account_refresh(newest_only(callback_refresh), nullptr) != 0) {
        not_sent();
    }
}

void token_requests_withdrawn() {
    if (!token_in_flight_) {
        return;
    }
    // Its answer never comes: the timer is armed in its place.
    token_in_flight_ = false;
    ++token_serial_;
    if (logged_in() && !is_refresh_timer_armed()) {
        refresh_after_failure();
    }
}

void refresh_at_startup() {
    refresh_configure();
    if (!get_token().empty() && logged_in()) {
        started_refresh_timer();
    }
}

void callback_relogin(int status, const std::string& body, void* user) {
    handle_answer(RELOGIN_ANSWER, status, body, user);
}

void set_refreshTimer_state(const char* value) {
    if (value == nullptr) {
        return;
    }
    if (str::iequals(value, "auth")) {
        stopped_refresh_timer();
        send_refresh();
    } else if (str::iequals(value, "stop")) {
        stopped_refresh_timer();
    }
}

void do_account_features() {
    start_request(ACCOUNT_REQUEST, callback_account_features, 0, [](const RequestCallback& answer) {
        return webapi_account_features(answer, nullptr);
    });
}

void callback_account_features(int status, const std::string& body, void* user) {
    handle_answer(ACCOUNT_ANSWER, status, body, user);
}

void do_api_list() {
    debug_printf("** do_api_list\n");
    start_request(BACKGROUND_REQUEST, [] { return webapi_api_list(callback_api_list, nullptr); });
}

void callback_api_list(int status, const std::string& body, void* user) {
    handle_answer(API_LIST_ANSWER, status, body, user);
}
