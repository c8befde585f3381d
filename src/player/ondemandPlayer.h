// The play manager's step machine: it chooses the play song and the next
// song from a list, has both downloaded, evicts old downloads and loads the
// play song into the sequencer. Each step that needs the service starts a
// request and returns; the download answers continue it.
#pragma once

#include "player/download.h"
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
// The number of the current play, which its requests carry.
uint32_t ondemand_play();
// Steps 1 and 2: the play song's addresses or files are on their way.
bool isDownloadStep();
// Steps 6 and 7: the next song's files are on their way.
bool isNextDownloadStep();
bool isStepEnd();
// The answer is for the song the current step waits for, asked for by the
// current play.
bool isAwaitedSong(const SongTicket& ticket);

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
// The list played from, or the repeat type, has changed: the next song
// follows it. While a song is being prepared, a change of the play or the
// next song prepares the new choice from its start; with `relocate` the play
// song is first looked for in the queue by its entry, as edits move it.
void ondemandFollowList(bool relocate);
// The service is switched off: the machine stops where it is and every
// answer still on its way is ignored.
void ondemandStopPlayer();
