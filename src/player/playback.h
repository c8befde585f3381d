// Playback commands and the play origin ("where") of the current song.
#pragma once

#include <string>

// Stores the short code of a play origin's long name; unknown names leave
// it unchanged.
void setWhereEvent(const std::string& name);
std::string strWhereLong();
std::string& getWhereCode();

void do_pause();
// `time` in seconds as decimal text; absent, nothing is sent.
void do_setTime(const char* time);
