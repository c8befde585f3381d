// The play manager's step machine: it chooses the play song and the next
// song from a list, has both downloaded, evicts old downloads and loads the
// play song into the sequencer. Each step that needs the service starts a
// request and returns; the download answers continue it.
#pragma once

#include "state/records.h"

#include <cstdint>
#include <vector>

enum PlayStep : unsigned int {
    STEP_START = 0,
    STEP_PLAY_URL = 1,
    STEP_PLAY_DOWNLOAD = 2,
    STEP_CHOOSE = 3,
    STEP_NEXT_URL = 4,
    STEP_NEXT_DOWNLOAD = 6,
    STEP_NEXT_DOWNLOADING = 7,
    STEP_EVICT = 8,
    STEP_LOAD = 9,
    STEP_END = 10
};

unsigned int ondemand_step();
// Steps 1 and 2: the play song's addresses or files are on their way.
bool isDownloadStep();
// Steps 6 and 7: the next song's files are on their way.
bool isNextDownloadStep();
bool isStepEnd();

// A copy of the category's list; false for an unknown category, an empty
// playlist or an index past the end.
bool ondemandGetList(int category, uint32_t index, uint64_t playlistID, std::vector<Song>& out);
// Chooses the play song and the next song from the record's list.
bool updatePlayManager();

// Starts playing entry `index` of the category's list.
void ondemandPlaySong(int category, uint32_t index, uint64_t playlistID);
void initPlaySongStep();
void playSongCheck(int category, uint32_t index, uint64_t playlistID);
// Continues the machine with the record's own category, index and playlist.
void ondemandNextStep();
// Loads the play song without preparing the next one.
void skipNextSongStep();
void ondemandPlayNext();
// `msec`: the sequencer's position; early in a song "back" means the
// previous song, later the start of this one.
void ondemandPlayBack(uint64_t msec);
// The sequencer has ended the song and a next song exists.
void ondemandPlaySongSetup();
// Loads the play song again (the last song of the list stays loaded).
void ondemandSetLastSong();
// The play song could not be fetched: on to the next song, or give up.
void playManagerDownloadError();
// A user playlist being played was edited or deleted.
void checkPlayManagerPlaylistID(uint64_t id);
