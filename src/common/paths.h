// Every fixed path of the daemon, and the root they are taken below.
//
// When ONDEMAND_ROOT is set and non-empty, each absolute path is taken below
// that directory (tests and the demo run the daemon under a temporary root);
// otherwise the paths are used exactly as written here.
#pragma once

#include <string>

namespace paths {

constexpr const char* RCS_SOCKET = "/tmp/rcs_socket";
constexpr const char* CURL = "/usr/bin/curl";
constexpr const char* UNZIP = "/usr/local/bin/unzip";

constexpr const char* DOWNLOAD_DIR = "/usr/local/ondemand";
constexpr const char* WWW_CTRL_DIR = "/usr/local/www/ctrl/";
constexpr const char* SESSION_DIR = "/usr/local/session";
constexpr const char* SESSION_FILE = "/usr/local/session/sssn";

constexpr const char* TOKEN_FILE = "/usr/local/olc/api_token.txt";
constexpr const char* REFRESH_TOKEN_FILE = "/usr/local/olc/api_refresh_token.txt";
constexpr const char* USER_FILE = "/usr/local/olc/user_arth.txt";
constexpr const char* PASSWORD_FILE = "/tmp/olc/password";
constexpr const char* BASE_URL_FILE = "/usr/local/olc/ondemand_base_url";
constexpr const char* COOKIE_FILE = "/usr/local/olc/cookie.txt";

constexpr const char* REGION_FILE = "/usr/local/etc/destination.conf";
constexpr const char* VERSION_FILE = "/usr/local/etc/vellichord.conf";
constexpr const char* HOSTNAME_FILE = "/etc/hostname";

constexpr const char* CERT_KEY = "/tmp/certs/key";
constexpr const char* CERT_CA = "/tmp/certs/ca";
constexpr const char* CERT_CERT = "/tmp/certs/cert";

// The directory every absolute path is taken below; empty on the device.
std::string root();

// `path` below the root (path unchanged when no root is set).
std::string at(const std::string& path);

} // namespace paths
