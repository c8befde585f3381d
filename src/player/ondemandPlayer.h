// The play manager: the song being played, the one after it, and where they
// come from.
#pragma once

#include "state/records.h"

#include <cstdint>
#include <deque>
#include <string>

enum PlayCategory {
    CATEGORY_NONE = 0,
    CATEGORY_QUEUE = 1,
    CATEGORY_PRESET = 2,
    CATEGORY_RECOMMEND = 3,
    CATEGORY_USER = 4
};
enum RepeatType { REPEAT_OFF = 0, REPEAT_ONE = 1, REPEAT_ALL = 2 };

struct PlayManager {
    Song playSong;
    Song nextSong;
    int category = CATEGORY_NONE;
    int repeat = REPEAT_OFF;
    uint32_t playSongIndex = 0;
    uint64_t playlistID = 0;
};

PlayManager& getOndemandPlayManager();
// Clears songs, category, index and playlist; the repeat type stays.
void ondemandInitManager();
void ondemandSetRepeatType(int type);
std::string strCategory(int category);
std::string strRepeat(int repeat);
bool isNextSong();

// Queues a download progress figure of song `id` for the dialog.
void updateProgress(const std::string& text, uint64_t id);
// The figures waiting for the dialog, oldest first.
std::deque<std::string>& progress_queue();
