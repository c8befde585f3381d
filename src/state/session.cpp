#include "state/session.h"

namespace {

std::string m_session_id;
int m_maxTime_sec = 0;
bool isPlayedSong = false;

} // namespace

std::string& session_id() {
    return m_session_id;
}

int& max_time_sec() {
    return m_maxTime_sec;
}

bool& is_played_song() {
    return isPlayedSong;
}
