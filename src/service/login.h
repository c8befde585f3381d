// Logging in, re-logging in with typed credentials, refreshing the token,
// and the account's features.
#pragma once

#include "xml/self.h"

#include <string>

void do_login();
void do_reLogin(const char* username, const char* password);
void callback_refresh(int status, const std::string& body, void* user);
void callback_relogin(int status, const std::string& body, void* user);
// "start", "auth" or "stop", in any case.
void set_refreshTimer_state(const char* value);
void do_account_features();
void callback_account_features(int status, const std::string& body, void* user);
void do_api_list();
void callback_api_list(int status, const std::string& body, void* user);

// Sends a refresh of the tokens; its answer arms the next one.
void send_refresh();
// After the service's requests were withdrawn (switched off): a login or
// refresh under way will not be answered, so the timer is armed instead.
void token_requests_withdrawn();
// At start-up: reads the refresh settings and, with tokens stored, arms the
// timer.
void refresh_at_startup();

// Stores the tokens of a login or refresh answer: the last non-empty one of
// each name, with the token's "expires" seconds. Only an answer with an access
// token is stored (the refresh token may be left out, the stored one stays);
// false when it had none, and nothing changed. With `arm_refresh`, a stored
// answer arms the next refresh.
bool store_tokens(const Self& answer, bool arm_refresh);
// The first "token" or "refreshtoken" element of an answer into its file.
void set_token(const Self& answer);
void set_refresh_token(const Self& answer);
