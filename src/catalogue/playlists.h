// The user's own playlists: fetching the list and a playlist's songs, and
// editing them through the service (create, copy, delete, update, add songs
// one batch at a time).
#pragma once

#include <string>

void do_allplaylists();
void callback_allplaylists(int status, const std::string& body, void* user);
void do_playlist(const char* id);
void callback_playlist(int status, const std::string& body, void* user);

void do_createPlaylist(const char* name, const char* items);
void do_copyPlaylist(const char* name, const char* items);
void callback_createPlaylist(int status, const std::string& body, void* user);
void do_deletePlaylist(const char* id);
void callback_deletePlaylist(int status, const std::string& body, void* user);
void do_updatePlaylist(const char* id, const char* name, const char* items, const char* sort,
                       const char* ctrl);
void callback_updatePlaylist(int status, const std::string& body, void* user);
void do_addPreparePlaylist(const char* id);
void do_addSongPlaylist(const char* id, const char* item_id);
void callback_addSongPlaylist(int status, const std::string& body, void* user);
// The service is switched off: the edits under way are forgotten, their
// requests withdrawn.
void forget_playlist_edits();
