#include "net/webapi.h"

#include "common/common.h"
#include "common/fs.h"
#include "common/paths.h"
#include "common/str.h"

#include <cctype>
#include <cstdarg>
#include <cstdlib>

namespace {

constexpr size_t BASE_URL_MAX = 1023;
const std::vector<std::string> NONE;

// A request with the common header lines and the access token, which the
// runner puts in when the request starts.
int send(const std::string& url, int method, const std::vector<std::string>& data,
         RequestCallback callback, void* user) {
    std::vector<std::string> headers;
    get_commonHeaders(headers, "");
    headers.push_back(CURL_ACCESS_TOKEN_HEADER);
    return curl_exec(url, method, headers, NONE, data, "", std::move(callback), user);
}

// The token as a header line carries it: up to its first line end. A token
// file written with a line end (or anything after one) would otherwise end
// the request's header block inside the line and spill into the body.
std::string header_token(const std::string& token) {
    return token.substr(0, token.find_first_of("\r\n"));
}

// A token file that holds only a line end counts as no token.
bool logged_in() {
    return !header_token(get_token()).empty();
}

std::string url_for(const char* path) {
    return get_baseURL() + path;
}

// A formatted text, such as a path with the base URL as its first argument
// or one "name=value" data field.
std::string text_of(const char* format, ...) __attribute__((format(printf, 1, 2)));
std::string text_of(const char* format, ...) {
    std::string text;
    va_list args;
    va_start(args, format);
    str::vformat(text, format, args);
    va_end(args);
    return text;
}

int hex_value(char c) {
    if (c >= '0' && c <= '9') {
        return c - '0';
    }
    c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    return c >= 'A' && c <= 'F' ? c - 'A' + 10 : -1;
}

} // namespace

std::string get_baseURL() {
    std::string url;
    fs::read_first_line(paths::at(paths::BASE_URL_FILE), BASE_URL_MAX, url);
    return url;
}

void get_commonHeaders(std::vector<std::string>& headers, const std::string& token) {
    std::string device_id;
    get_deviceid(device_id);
    std::string line;
    headers.push_back(str::format(line, "X-Vqat-Did: %s", device_id.c_str()));
    headers.push_back("Content-Type: application/x-www-form-urlencoded");
    headers.push_back("Accept-Encoding: gzip, deflate, br");
    headers.push_back("Connection: keep-alive");
    headers.push_back("Accept: text/xml");
    headers.push_back(str::format(line, "user-agent: %s", get_useragent().c_str()));
    std::string value = header_token(token);
    if (!value.empty()) {
        headers.push_back(str::format(line, "token: %s", value.c_str()));
    }
}

int webapi_num() {
    return curl_num();
}

int url_encode_utf8(const std::string& text, std::string& out) {
    std::string encoded;
    encoded.reserve(text.size() * 3);
    for (char c : text) {
        auto byte = static_cast<unsigned char>(c);
        // Decided on the byte values, whatever the process's locale.
        bool alnum = (byte >= '0' && byte <= '9') || (byte >= 'A' && byte <= 'Z') ||
                     (byte >= 'a' && byte <= 'z');
        if (alnum) {
            encoded += c;
        } else {
            encoded += '%';
            encoded += xtoc(static_cast<unsigned char>(byte >> 4));
            encoded += xtoc(static_cast<unsigned char>(byte & 0x0f));
        }
    }
    out.swap(encoded);
    return 0;
}

int downloadDecodeURL(const std::string& url, std::string& out) {
    std::string decoded;
    decoded.reserve(url.size());
    for (size_t i = 0; i < url.size(); ++i) {
        int high = i + 2 < url.size() && url[i] == '%' ? hex_value(url[i + 1]) : -1;
        int low = high >= 0 ? hex_value(url[i + 2]) : -1;
        if (low >= 0) {
            decoded += static_cast<char>(high * 16 + low);
            i += 2;
        } else {
            decoded += url[i];
        }
    }
    out.swap(decoded);
    return 0;
}

int webapi_api_list(RequestCallback, void*) {
    return 0;
}

int webapi_account_login(const std::string& username, const std::string& password,
                         RequestCallback callback, void* user) {
    std::string device_id;
    get_tqrid(device_id);
    return send(url_for(CURL_LOGIN_PATH), CURL_POST,
                {text_of("username=%s", username.c_str()), text_of("password=%s", password.c_str()),
                 text_of("device_id=%s", device_id.c_str())},
                std::move(callback), user);
}

int webapi_account_refresh(RequestCallback callback, void* user) {
    std::vector<std::string> headers;
    get_commonHeaders(headers, "");
    headers.push_back(CURL_REFRESH_TOKEN_HEADER);
    return curl_exec(url_for(CURL_REFRESH_PATH), CURL_POST, headers, NONE, NONE, "",
                     std::move(callback), user);
}

int webapi_account_features(RequestCallback callback, void* user) {
    return send(url_for("/user/account/features"), CURL_GET, NONE, std::move(callback), user);
}

int webapi_ondemand_items(const std::string& page, const std::string& page_size,
                          const std::string& title, const std::string& artist_composer,
                          const std::string& composer, const std::string& genre_id,
                          RequestCallback callback, void* user) {
    if (!logged_in()) {
        return -1;
    }
    std::string url = url_for("/items");
    bool first = true;
    auto append = [&url, &first](const char* name, const std::string& value, bool encode) {
        if (value.empty()) {
            return;
        }
        url += first ? "?" : "&";
        first = false;
        url += name;
        if (encode) {
            std::string encoded;
            url_encode_utf8(value, encoded);
            url += encoded;
        } else {
            url += value;
        }
    };
    append("page=", page, false);
    append("page_size=", page_size, false);
    append("title=", title, true);
    append("artist_composer=", artist_composer, true);
    append("composer=", composer, true);
    append("genre_id=", genre_id, true);
    return send(url, CURL_GET, NONE, std::move(callback), user);
}

int webapi_ondemand_genres(RequestCallback callback, void* user) {
    return send(url_for("/items/genres"), CURL_GET, NONE, std::move(callback), user);
}

int webapi_ondemand_items_downloadurl(unsigned int item_id, RequestCallback callback, void* user) {
    if (!logged_in()) {
        return -1;
    }
    return send(text_of("%s/items/%u/downloadurls", get_baseURL().c_str(), item_id), CURL_GET, NONE,
                std::move(callback), user);
}

int webapi_ondemand_gratis_downloadurl(unsigned int item_id, RequestCallback callback, void* user) {
    if (!logged_in()) {
        return -1;
    }
    return send(text_of("%s/items/%u/downloadurls/gratis", get_baseURL().c_str(), item_id),
                CURL_GET, NONE, std::move(callback), user);
}

int webapi_ondemand_items_download(const std::string& url, const std::string&, unsigned long long,
                                   const std::string& output, RequestCallback callback,
                                   void* user) {
    return curl_exec(url, CURL_GET, NONE, NONE, NONE, output, std::move(callback), user);
}

int webapi_ondemand_recommendPlaylists(RequestCallback callback, void* user) {
    return send(url_for("/items/recommend/playlists"), CURL_GET, NONE, std::move(callback), user);
}

int webapi_ondemand_recommend(RequestCallback callback, void* user) {
    return send(url_for("/items/recommend/playlist"), CURL_GET, NONE, std::move(callback), user);
}

int webapi_ondemand_history(RequestCallback callback, void* user) {
    return send(url_for("/user/history"), CURL_GET, NONE, std::move(callback), user);
}

int webapi_ondemand_all_playlists(RequestCallback callback, void* user) {
    if (!logged_in()) {
        return -1;
    }
    return send(url_for("/user/playlists"), CURL_GET, NONE, std::move(callback), user);
}

int webapi_ondemand_playlist(unsigned long long playlist_id, RequestCallback callback, void* user) {
    if (!logged_in()) {
        return -1;
    }
    return send(text_of("%s/user/playlists/%llu", get_baseURL().c_str(), playlist_id), CURL_GET,
                NONE, std::move(callback), user);
}

int webapi_ondemand_create_playlist(const std::string& name, const std::string& items,
                                    RequestCallback callback, void* user) {
    if (!logged_in()) {
        return -1;
    }
    std::string name_field = text_of("name=%s", name.c_str());
    str::replace(name_field, "(%)", "%");
    std::vector<std::string> data = {name_field};
    if (!items.empty()) {
        data.push_back(text_of("items=%s", items.c_str()));
    }
    return send(url_for("/user/playlists/"), CURL_POST, data, std::move(callback), user);
}

int webapi_ondemand_update_playlist(unsigned long long playlist_id, const std::string& name,
                                    const std::string& items, const std::string& sort,
                                    RequestCallback callback, void* user) {
    if (!logged_in()) {
        return -1;
    }
    std::vector<std::string> data;
    if (!name.empty()) {
        // Written as create writes it: the web interface sends "%" as "(%)".
        std::string name_field = text_of("name=%s", name.c_str());
        str::replace(name_field, "(%)", "%");
        data.push_back(name_field);
    }
    if (!items.empty()) {
        data.push_back(text_of("items=%s", items.c_str()));
    }
    if (!sort.empty()) {
        data.push_back(text_of("sort=%s", sort.c_str()));
    }
    return send(text_of("%s/user/playlists/%llu", get_baseURL().c_str(), playlist_id), CURL_POST,
                data, std::move(callback), user);
}

int webapi_ondemand_delete_playlist(unsigned long long playlist_id, RequestCallback callback,
                                    void* user) {
    if (!logged_in()) {
        return -1;
    }
    return send(text_of("%s/user/playlists/%llu/delete", get_baseURL().c_str(), playlist_id),
                CURL_POST, NONE, std::move(callback), user);
}

int webapi_ondemand_addsong_playlist(unsigned long long playlist_id, const std::string& item_id,
                                     RequestCallback callback, void* user) {
    if (!logged_in()) {
        return -1;
    }
    return send(text_of("%s/user/playlists/%llu/add", get_baseURL().c_str(), playlist_id),
                CURL_POST, {text_of("item_id=%s", item_id.c_str())}, std::move(callback), user);
}

int webapi_ondemand_removesong_playlist(unsigned long long playlist_id, const std::string& index,
                                        RequestCallback callback, void* user) {
    if (!logged_in()) {
        return -1;
    }
    return send(text_of("%s/user/playlists/%llu/remove", get_baseURL().c_str(), playlist_id),
                CURL_POST, {text_of("index=%s", index.c_str())}, std::move(callback), user);
}

int webapi_ondemand_cms_allplaylist(RequestCallback callback, void* user) {
    return send(url_for("/cms/playlists"), CURL_GET, NONE, std::move(callback), user);
}

int webapi_ondemand_cms_playlist(unsigned long long playlist_id, RequestCallback callback,
                                 void* user) {
    return send(text_of("%s/cms/playlists/%llu", get_baseURL().c_str(), playlist_id), CURL_GET,
                NONE, std::move(callback), user);
}

int webapi_ondemand_gratis_playlist(RequestCallback callback, void* user) {
    return send(url_for("/cms/playlist/gratis"), CURL_GET, NONE, std::move(callback), user);
}

bool webapi_is_history_event(const std::string& url) {
    return url.find("/user/history/event/") != std::string::npos;
}

int webapi_ondemand_items_play(unsigned long long item_id, std::string session_id,
                               std::string pinfo, unsigned long long playlist_id,
                               RequestCallback callback, void* user) {
    if (!logged_in()) {
        return -1;
    }
    std::vector<std::string> data = {text_of("pinfo=%s", pinfo.c_str())};
    if (str::iequals(pinfo, "pp") || str::iequals(pinfo, "up")) {
        data.push_back(text_of("playlist_id=%llu", playlist_id));
    }
    data.push_back(text_of("session_id=%s", session_id.c_str()));
    data.push_back("playtime=0");
    return send(text_of("%s/user/history/event/play/%llu/", get_baseURL().c_str(), item_id),
                CURL_POST, data, std::move(callback), user);
}

int webapi_ondemand_items_stop(unsigned long long item_id, std::string session_id,
                               unsigned int playtime, RequestCallback callback, void* user) {
    if (!logged_in()) {
        return -1;
    }
    return send(text_of("%s/user/history/event/stop/%llu/", get_baseURL().c_str(), item_id),
                CURL_POST,
                {text_of("session_id=%s", session_id.c_str()), text_of("playtime=%u", playtime)},
                std::move(callback), user);
}
