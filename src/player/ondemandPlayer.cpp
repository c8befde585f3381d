#include "player/ondemandPlayer.h"

#include <cstdio>
#include <cstdlib>
#include <deque>

namespace {

PlayManager m_ondemandPM_Info;
std::deque<std::string> progressList;

// Only the newest figures matter to a dialog that shows one every tick.
constexpr size_t MAX_PROGRESS = 5;

bool is_default(const Song& s) {
    return s.id == 0 && s.display_order == 0 && s.title.empty() && s.artist.empty() &&
           s.composer.empty() && s.performer.empty() && s.length.empty() && s.genre.empty() &&
           s.rollform_type.empty() && s.isPlayOk.empty();
}

bool parse_figure(const std::string& text, double& value) {
    const char* start = text.c_str();
    char* end = nullptr;
    value = strtod(start, &end);
    return end != start;
}

std::string figure_text(double value) {
    char buffer[64];
    snprintf(buffer, sizeof buffer, "%f", value);
    return buffer;
}

} // namespace

PlayManager& getOndemandPlayManager() {
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

void updateProgress(const std::string& text, uint64_t id) {
    double value = 0;
    if (!parse_figure(text, value)) {
        return;
    }
    // With a next song to prepare, the play song fills the first half of the
    // bar and the next song the second.
    if (id == m_ondemandPM_Info.playSong.id) {
        progressList.push_back(isNextSong() ? figure_text(value / 2) : text);
    } else if (id == m_ondemandPM_Info.nextSong.id) {
        progressList.push_back(figure_text(50 + value / 2));
    } else {
        return;
    }
    if (progressList.size() > MAX_PROGRESS) {
        progressList.pop_front();
    }
}

std::deque<std::string>& progress_queue() {
    return progressList;
}
