// The play manager's record: the song being played, the one after it, and
// where they come from. The step machine that fills it lives in the player.
#pragma once

#include "state/records.h"

#include <cstdint>
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

const PlayManager& getOndemandPlayManager();
// Clears songs, category, index and playlist; the repeat type stays.
void ondemandInitManager();
// 0, 1 or 2; other values are ignored.
void ondemandSetRepeatType(int type);
void setPlaySongIndex(uint32_t index);
// The list a play takes its songs from.
void setPlayManagerSource(int category, uint32_t index, uint64_t playlistID);
void setPlayManagerSongs(const Song& playSong, const Song& nextSong);
std::string strCategory(int category);
std::string strRepeat(int repeat);
// True when a song has been chosen to follow the play song.
bool isNextSong();
