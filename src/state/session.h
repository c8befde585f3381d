// The record of the current play, reported to the service's history.
#pragma once

#include <string>

std::string& session_id();
int& max_time_sec();
bool& is_played_song();
