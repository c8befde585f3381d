// The music service's operations: each builds one request (base URL, common
// header lines, parameters) and hands it to the request runner with the
// caller's callback. Operations that need a login send nothing without a
// stored access token and return -1.
#pragma once

#include "net/curl.h"

#include <string>
#include <vector>

std::string get_baseURL();
// Appends the header lines every request carries; the "token" line holds the
// token up to its first line end and is left out when that is empty.
void get_commonHeaders(std::vector<std::string>& headers, const std::string& token);
int webapi_num();

// Search values: ASCII letters and digits as they are, every other byte as
// "%" and two upper-case hexadecimal digits. Never fails.
int url_encode_utf8(const std::string& text, std::string& out);
// The inverse: percent escapes back to bytes.
int downloadDecodeURL(const std::string& url, std::string& out);

int webapi_api_list(RequestCallback callback, void* user);
int webapi_account_login(const std::string& username, const std::string& password,
                         RequestCallback callback, void* user);
int webapi_account_refresh(RequestCallback callback, void* user);
int webapi_account_features(RequestCallback callback, void* user);
int webapi_ondemand_items(const std::string& page, const std::string& page_size,
                          const std::string& title, const std::string& artist_composer,
                          const std::string& composer, const std::string& genre_id,
                          RequestCallback callback, void* user);
int webapi_ondemand_genres(RequestCallback callback, void* user);
int webapi_ondemand_items_downloadurl(unsigned int item_id, RequestCallback callback, void* user);
int webapi_ondemand_gratis_downloadurl(unsigned int item_id, RequestCallback callback, void* user);
int webapi_ondemand_items_download(const std::string& url, const std::string& tag,
                                   unsigned long long song_id, const std::string& output,
                                   RequestCallback callback, void* user);
int webapi_ondemand_recommendPlaylists(RequestCallback callback, void* user);
int webapi_ondemand_recommend(RequestCallback callback, void* user);
int webapi_ondemand_history(RequestCallback callback, void* user);
// True for the URL of a play or stop event of the play history: reports
// whose answers change nothing, so switching off lets them finish.
bool webapi_is_history_event(const std::string& url);
int webapi_ondemand_all_playlists(RequestCallback callback, void* user);
int webapi_ondemand_playlist(unsigned long long playlist_id, RequestCallback callback, void* user);
int webapi_ondemand_create_playlist(const std::string& name, const std::string& items,
                                    RequestCallback callback, void* user);
int webapi_ondemand_update_playlist(unsigned long long playlist_id, const std::string& name,
                                    const std::string& items, const std::string& sort,
                                    RequestCallback callback, void* user);
int webapi_ondemand_delete_playlist(unsigned long long playlist_id, RequestCallback callback,
                                    void* user);
int webapi_ondemand_addsong_playlist(unsigned long long playlist_id, const std::string& item_id,
                                     RequestCallback callback, void* user);
int webapi_ondemand_removesong_playlist(unsigned long long playlist_id, const std::string& index,
                                        RequestCallback callback, void* user);
int webapi_ondemand_cms_allplaylist(RequestCallback callback, void* user);
int webapi_ondemand_cms_playlist(unsigned long long playlist_id, RequestCallback callback,
                                 void* user);
int webapi_ondemand_gratis_playlist(RequestCallback callback, void* user);
// pinfo is the play-origin code; "pp" and "up" also send the playlist id.
int webapi_ondemand_items_play(unsigned long long item_id, std::string session_id,
                               std::string pinfo, unsigned long long playlist_id,
                               RequestCallback callback, void* user);
int webapi_ondemand_items_stop(unsigned long long item_id, std::string session_id,
                               unsigned int playtime, RequestCallback callback, void* user);
