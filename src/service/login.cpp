#include "service/login.h"

#include "base/debug.h"
#include "common/common.h"
#include "common/fs.h"
#include "common/paths.h"
#include "common/str.h"
#include "net/webapi.h"
#include "service/answer.h"
#include "service/refreshTimer.h"
#include "service/status.h"
#include "state/service.h"
#include "ui/dialog_keys.h"
#include "ui/json.h"

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

void on_tokens(Self& answer, void*) {
    store_tokens(answer, true);
}

void on_relogin(Self& answer, void*) {
    store_tokens(answer, true);
    ondemand_restart_last_song();
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
const AnswerHandler REFRESH_ANSWER = {
    nullptr, nullptr, on_tokens, false, false, Unreadable::Ignore, Failure::RegionCheck};
const AnswerHandler RELOGIN_ANSWER = {"re-login",      "re-login",
                                      on_relogin,      false,
                                      false,           Unreadable::ShowLabelOrStatus,
                                      Failure::Dialog, "parse error Re-Login\n"};
const AnswerHandler ACCOUNT_ANSWER = {"account",
                                      "account",
                                      on_account_features,
                                      false,
                                      false,
                                      Unreadable::ReadEmpty,
                                      Failure::Dialog,
                                      "parse error account features\n"};
const AnswerHandler API_LIST_ANSWER = {
    nullptr, nullptr, on_api_list, false, true, Unreadable::Ignore, Failure::RegionCheck};

// On failure the start-up chain rests under the error dialog.
const RequestStarter ACCOUNT_REQUEST = {false, nullptr, "account", false, true};
// Sent as it is; the status file shows the request count afterwards.
const RequestStarter BACKGROUND_REQUEST = {false, nullptr, nullptr, true};
const RequestStarter RELOGIN_REQUEST = {false, DLG_MSG_CONNECTING, "re-login", true};

} // namespace

void store_tokens(const Self& answer, bool arm_refresh) {
    self_foreach(answer, [arm_refresh](const Self& node) {
        if (node.name == "token") {
            set_token(node.contents);
            auto expires = node.attributes.find("expires");
            if (expires != node.attributes.end()) {
                set_token_expires(strtoll(expires->second.c_str(), nullptr, 10) * 1000);
            }
        } else if (node.name == "refreshtoken") {
            set_refresh_token(node.contents);
            if (arm_refresh && !get_refresh_token().empty()) {
                started_refresh_timer(callback_refresh);
            }
        }
        return 0;
    });
}

void set_token(const Self& answer) {
    store_first(answer, "token", set_token);
}

void set_refresh_token(const Self& answer) {
    store_first(answer, "refreshtoken", set_refresh_token);
}

void do_login() {
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
    start_request(BACKGROUND_REQUEST, [&] {
        return webapi_account_login(address, password, callback_refresh, nullptr);
    });
}

void do_reLogin(const char* username, const char* password) {
    start_request(RELOGIN_REQUEST, [username, password] {
        return webapi_account_login(username != nullptr ? username : "",
                                    password != nullptr ? password : "", callback_relogin, nullptr);
    });
}

void callback_refresh(int status, const std::string& body, void* user) {
    handle_answer(REFRESH_ANSWER, status, body, user);
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
        webapi_account_refresh(callback_refresh, nullptr);
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
