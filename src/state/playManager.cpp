#include "state/playManager.h"

namespace {

PlayManager m_ondemandPM_Info;

bool is_default(const Song& s) {
    return s.id == 0 && s.display_order == 0 && s.title.empty() && s.artist.empty() &&
           s.composer.empty() && s.performer.empty() && s.length.empty() && s.genre.empty() &&
           s.rollform_type.empty() && s.isPlayOk.empty();
}

} // namespace

const PlayManager& getOndemandPlayManager() {
    return m_ondemandPM_Info;
}

void ondemandInitManager() {
    int repeat = m_ondemandPM_Info.repeat;
    m_ondemandPM_Info = PlayManager();
    m_ondemandPM_Info.repeat = repeat;
}

void ondemandSetRepeatType(int type) {
    if (type == REPEAT_OFF || type == REPEAT_ONE || type == REPEAT_ALL) {
        m_ondemandPM_Info.repeat = type;
    }
}

void setPlaySongIndex(uint32_t index) {
    m_ondemandPM_Info.playSongIndex = index;
}

void setPlayManagerSource(int category, uint32_t index, uint64_t playlistID) {
    m_ondemandPM_Info.category = category;
    m_ondemandPM_Info.playSongIndex = index;
    m_ondemandPM_Info.playlistID = playlistID;
}

void setPlayManagerSongs(const Song& playSong, const Song& nextSong) {
    m_ondemandPM_Info.playSong = playSong;
    m_ondemandPM_Info.nextSong = nextSong;
}

std::string strCategory(int category) {
    switch (category) {
    case CATEGORY_QUEUE:
        return "queuelist";
    case CATEGORY_PRESET:
        return "preset";
    case CATEGORY_RECOMMEND:
        return "recommendPlaylist";
    case CATEGORY_USER:
        return "userplaylist";
    default:
        return "";
    }
}

std::string strRepeat(int repeat) {
    switch (repeat) {
    case REPEAT_OFF:
        return "off";
    case REPEAT_ONE:
        return "one";
    case REPEAT_ALL:
        return "all";
    default:
        return "";
    }
}

bool isNextSong() {
    return !is_default(m_ondemandPM_Info.nextSong);
}
