#include "catalogue/recommend.h"

void do_recommendPlaylists() {}
void callback_recommendPlaylist(int, const std::string&, void*) {}
void do_recommend() {}
void callback_recommend(int, const std::string&, void*) {}
void do_history() {}
void callback_hisotry(int, const std::string&, void*) {}
void do_genres() {}
void callback_genres(int, const std::string&, void*) {}
