// The service's own playlists: the preset playlists, or for a gratis member
// the gratis playlists, held in one list.
#pragma once

#include <string>

void do_presetPlaylist(const char* id);
void callback_presetPlaylist(int status, const std::string& body, void* user);
void do_allPresetPlaylist();
void callback_allPresetPlaylist(int status, const std::string& body, void* user);
void do_gratisPlaylist();
void callback_gratisPlaylist(int status, const std::string& body, void* user);
