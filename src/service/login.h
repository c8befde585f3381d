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

// Stores every token and refresh token of a login or refresh answer, the
// last of each name winning, with the token's "expires" seconds. With
// `arm_refresh`, a stored refresh token arms the next refresh.
void store_tokens(const Self& answer, bool arm_refresh);
// The first "token" or "refreshtoken" element of an answer into its file.
void set_token(const Self& answer);
void set_refresh_token(const Self& answer);
