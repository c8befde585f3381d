// Recommendations and history: the recommended playlists, and the
// recommended songs and the play history, which fill the song list; and the
// genres the service offers.
#pragma once

#include <string>

void do_recommendPlaylists();
void callback_recommendPlaylist(int status, const std::string& body, void* user);
void do_recommend();
void callback_recommend(int status, const std::string& body, void* user);
void do_history();
void callback_hisotry(int status, const std::string& body, void* user);
void do_genres();
void callback_genres(int status, const std::string& body, void* user);
