#include "service/login.h"

#include "common/common.h"
#include "common/fs.h"
#include "common/paths.h"
#include "common/str.h"
#include "base/debug.h"
#include "net/webapi.h"
#include "service/answer.h"
#include "service/refreshTimer.h"
#include "service/status.h"
#include "ui/dialog.h"
#include "ui/json.h"

#include <cstdlib>

namespace {

bool isEnableOA_ = false;

constexpr size_t PASSWORD_MAX = 1023;

// Stores every token of a login or refresh answer; a new refresh token arms
// the next refresh.
void store_tokens(Self& answer) {
    self_foreach(answer, [](Self& node) {
        if (node.name == "token") {
            set_token(node.contents);
        } else if (node.name == "refreshtoken") {
            set_refresh_token(node.contents);
            if (!get_refresh_token().empty()) {
                started_refresh_timer(callback_refresh);
            }
        }
        return 0;
    });
}

} // namespace

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
    webapi_account_login(address, password, callback_refresh, nullptr);
    json_make_status_json();
}

void do_reLogin(const char* username, const char* password) {
    json_make_dlg_wait_modal(DLG_TITLE_MESSAGE, DLG_MSG_CONNECTING, true, false);
    report_unsent_request(webapi_account_login(username != nullptr ? username : "",
                                               password != nullptr ? password : "",
                                               callback_relogin, nullptr),
                          "re-login");
    json_make_status_json();
}

void callback_refresh(int status, const std::string& body, void*) {
    Self answer;
    if (self_parse(body, answer) != 0) {
        return;
    }
    if (is_success_status(status)) {
        store_tokens(answer);
    } else {
        regionsErrorCheck(status, false);
    }
}

void callback_relogin(int status, const std::string& body, void*) {
    Self answer;
    if (self_parse(body, answer) != 0) {
        debug_printf("parse error Re-Login\n");
        // The connecting dialog is modal: replace it, or the user is stuck.
        json_make_dlg_error("Error", is_success_status(status)
                                         ? std::string("re-login")
                                         : server_error_text(status, "re-login"));
        return;
    }
    if (is_success_status(status)) {
        store_tokens(answer);
        ondemand_restart_last_song();
    } else {
        report_failed_answer(status, "re-login", answer);
    }
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
    // On failure the chain rests here, under the error dialog.
    report_unsent_request(webapi_account_features(callback_account_features, nullptr), "account");
}

void callback_account_features(int status, const std::string& body, void*) {
    Self answer;
    if (self_parse(body, answer) != 0) {
        debug_printf("parse error account features\n");
    }
    if (!is_success_status(status)) {
        report_failed_answer(status, "account", answer);
        return;
    }
    self_foreach(answer, [](Self& node) {
        if (node.name == "feature") {
            auto id = node.attributes.find("id");
            auto value = node.attributes.find("value");
            if (id != node.attributes.end() && id->second == "original_artist") {
                isEnableOA_ = value != node.attributes.end() && atoi(value->second.c_str()) != 0;
            }
        }
        return 0;
    });
    initCallWebApi();
    json_make_status_json();
}

bool isOriginalArtist() {
    return isEnableOA_;
}

void do_api_list() {
    debug_printf("** do_api_list\n");
    webapi_api_list(callback_api_list, nullptr);
    json_make_status_json();
}

void callback_api_list(int status, const std::string& body, void*) {
    if (!is_success_status(status)) {
        regionsErrorCheck(status, false);
    } else {
        Self answer;
        if (self_parse(body, answer) == 0) {
            self_dump(answer);
        }
    }
    json_make_status_json();
}
