// Device identity, user agent, proxy, region, random ids and the credential
// store. Every value kept in a file is read again at each use, so a change
// made by the device's other software takes effect at the next request.
#pragma once

#include <string>

int get_region(std::string& out);
int get_tqr_version(std::string& out);
// The instrument id: the first word of the host-name file.
int get_tqrid(std::string& out);
// Appends the upper-case hexadecimal MD5 digest of the instrument id.
int get_deviceid(std::string& out);

// "MODEL/MAJOR.MINOR (BR; REGION_...)", rebuilt at each call.
const std::string& get_useragent();
void set_useragent_model(const std::string& model);

const std::string& get_proxy();
void set_proxy(const std::string& proxy);

// 1 when the account file says the device is registered for the service.
int isOndemandFlag();

// Value of a "key<separator>value" line among the first five lines of the
// account file; empty when absent.
std::string read_account_value(const std::string& key);

// A new random UUID in its 36-character text form.
void get_randomid(std::string& out);

// Credential store: the token files are the truth, read at every get, with
// the white space around the first line left out (a file of white space
// holds no token). A set gives 0 also when the file cannot be opened (the
// old token stays).
const std::string& get_token();
int set_token(const std::string& token);
const std::string& get_refresh_token();
int set_refresh_token(const std::string& token);
long long set_token_expires(long long ms);
long long set_token_expires();

// The song budget in bytes: the deployment value ONDEMAND_SONG_BUDGET_MB, or,
// for tests only, the environment value ONDEMAND_SONG_BUDGET_BYTES (a positive
// number of bytes) read at the first call, which start-up makes.
long long song_budget_bytes();
// For tests: a budget of `bytes` (> 0) from now on; 0 restores the default.
void song_budget_set(long long bytes);
