#include "state/session.h"

namespace {

std::string m_session_id;
int m_maxTime_sec = 0;
bool isPlayedSong = false;

} // namespace

const std::string& session_id() {
    return m_session_id;
}

void session_clear() {
    m_session_id.clear();
}

int max_time_sec() {
    return m_maxTime_sec;
}

bool is_played_song() {
    return isPlayedSong;
}

void set_played_song(bool played) {
    isPlayedSong = played;
}
