#include "catalogue/playlists.h"

void do_allplaylists() {}
void callback_allplaylists(int, const std::string&, void*) {}
void do_playlist(const char*) {}
void callback_playlist(int, const std::string&, void*) {}
void do_createPlaylist(const char*, const char*) {}
void do_copyPlaylist(const char*, const char*) {}
void callback_createPlaylist(int, const std::string&, void*) {}
void do_deletePlaylist(const char*) {}
void callback_deletePlaylist(int, const std::string&, void*) {}
void do_updatePlaylist(const char*, const char*, const char*, const char*, const char*) {}
void callback_updatePlaylist(int, const std::string&, void*) {}
void do_addPreparePlaylist(const char*) {}
void do_addSongPlaylist(const char*, const char*) {}
void callback_addSongPlaylist(int, const std::string&, void*) {}
