#include "player/progress.h"

#include "state/dl_list.h"
#include "state/playManager.h"

#include <cstdio>
#include <cstdlib>
#include <deque>

namespace {

std::deque<std::string> progressList;

// Only the newest figures matter to a dialog that shows one every tick.
constexpr size_t MAX_PROGRESS = 5;

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

void updateProgress(const std::string& text, uint64_t id) {
    double value = 0;
    if (!parse_figure(text, value)) {
        return;
    }
    const PlayManager& pm = getOndemandPlayManager();
    if (id == pm.playSong.id) {
        progressList.push_back(isNextSong() ? figure_text(value / 2) : text);
    } else if (id == pm.nextSong.id) {
        progressList.push_back(figure_text(50 + value / 2));
    } else {
        return;
    }
    if (progressList.size() > MAX_PROGRESS) {
        progressList.pop_front();
    }
}

void progress_of_download(const std::string& output, uint64_t id, const std::string& figure) {
    bool sized = output.find("zip") != std::string::npos ||
                 output.find("audio") != std::string::npos ||
                 (output.find("midi") != std::string::npos && !isUrlDownload_audio(id));
    if (sized) {
        updateProgress(figure, id);
    }
}

bool progress_take(std::string& figure) {
    if (progressList.empty()) {
        return false;
    }
    figure = std::move(progressList.front());
    progressList.pop_front();
    return true;
}

void progress_clear() {
    progressList.clear();
}
