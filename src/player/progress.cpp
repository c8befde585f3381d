#include "player/progress.h"

#include "base/rvx.h"
#include "state/dl_list.h"
#include "state/playManager.h"
#include "ui/dialog.h"

#include <cstdio>
#include <cstdlib>
#include <deque>

namespace {

std::deque<std::string> progressList;
rvx_st_io* progress_timer_ = nullptr;

constexpr int64_t PROGRESS_PERIOD_MS = 250;

// Only the newest figures matter to a dialog that shows one every tick.
constexpr size_t MAX_PROGRESS = 5;

bool parse_figure(const std::string& text, double& value) {
    const char* start = text.c_str();
    char* end = nullptr;
    value = strtod(start, &end);
    return end != start;
}

int progress_event(rvx_st_io*) {
    std::string figure;
    if (progress_take(figure)) {
        setDialogProg(figure);
    }
    return 0;
}

void put(std::string figure) {
    progressList.push_back(std::move(figure));
    if (progressList.size() > MAX_PROGRESS) {
        progressList.pop_front();
    }
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
        put(isNextSong() ? figure_text(value / 2) : text);
    } else if (id == pm.nextSong.id) {
        put(figure_text(50 + value / 2));
    }
}

void progress_put(const std::string& figure) {
    put(figure);
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

void started_progress_timer() {
    if (progress_timer_ != nullptr) {
        return;
    }
    progress_timer_ = rvx_Timer(1);
    if (progress_timer_ == nullptr) {
        return;
    }
    progressList.clear();
    rvx_Timer_Set_ReadEvent(progress_timer_, progress_event);
    rvx_Timer_Start(progress_timer_, PROGRESS_PERIOD_MS);
}

void stopped_progress_timer() {
    if (progress_timer_ != nullptr) {
        rvx_Timer_Stop(progress_timer_);
        rvx_Release_Rvx(progress_timer_);
        progress_timer_ = nullptr;
    }
}

bool is_started_progress_timer() {
    return progress_timer_ != nullptr;
}
