#include "state/session.h"

namespace {

std::string m_session_id;
int m_maxTime_sec = 0;
bool isPlayedSong = false;
bool reported_ = false;
uint64_t seq_time_msec_ = 0;

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

void session_start(const std::string& id) {
    m_session_id = id;
    m_maxTime_sec = 0;
    reported_ = false;
}

bool is_session_reported() {
    return reported_;
}

void set_session_reported() {
    reported_ = true;
}

void session_note_position(uint64_t msec) {
    seq_time_msec_ = msec;
    uint64_t seconds = msec / 1000;
    if (seconds > static_cast<uint64_t>(m_maxTime_sec)) {
        m_maxTime_sec = seconds > INT32_MAX ? INT32_MAX : static_cast<int>(seconds);
    }
}

uint64_t seq_time_msec() {
    return seq_time_msec_;
}
