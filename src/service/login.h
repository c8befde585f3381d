// Logging in, re-logging in with typed credentials, refreshing the token,
// and the account's features.
#pragma once

#include <string>

void do_login();
void do_reLogin(const char* username, const char* password);
void callback_refresh(int status, const std::string& body, void* user);
void callback_relogin(int status, const std::string& body, void* user);
// "start", "auth" or "stop", in any case.
void set_refreshTimer_state(const char* value);
void do_account_features();
void callback_account_features(int status, const std::string& body, void* user);
bool isOriginalArtist();
void do_api_list();
void callback_api_list(int status, const std::string& body, void* user);
