#include "catalogue/presets.h"

void do_presetPlaylist(const char*) {}
void callback_presetPlaylist(int, const std::string&, void*) {}
void do_allPresetPlaylist() {}
void callback_allPresetPlaylist(int, const std::string&, void*) {}
void do_gratisPlaylist() {}
void callback_gratisPlaylist(int, const std::string&, void*) {}
