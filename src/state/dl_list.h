// The download registry: per song, which download addresses are known and
// which files have arrived, and the order in which songs were registered so
// that old song directories can be evicted.
#pragma once

#include "xml/self.h"

#include <cstddef>
#include <cstdint>
#include <map>
#include <string>
#include <vector>

struct dlSongInfo {
    std::map<std::string, std::string> urls;
    bool isUrl = false;
    bool isUrlAudio = false;
    bool isSong = false;
    bool isSongAudio = false;
    bool isImage = false;
};

// The directory of a song's files: /usr/local/ondemand/<id>, below the root.
std::string song_dir(uint64_t id);

bool dlListCheck_id(uint64_t id);
// The record of a registered id (callers check dlListCheck_id first).
const dlSongInfo& getDlSong_from_id(uint64_t id);
const std::map<uint64_t, dlSongInfo>& getDlList();
// Ids in the order they were first registered, oldest first.
const std::vector<uint64_t>& dl_id_list();
// False for a song the registry does not know.
bool isUrlDownload(uint64_t id);
bool isUrlDownload_audio(uint64_t id);
bool isSongDownload(uint64_t id);
bool isSongDownload_audio(uint64_t id);
bool isImageDownload(uint64_t id);
// File flags of a registered id; an unknown id is left unregistered.
void setDlInfoToSong(uint64_t id, bool done);
void setDlInfoToSong_audio(uint64_t id, bool done);
void setDlInfoToImage(uint64_t id, bool done);
// Registers the id if needed and records the addresses of a download-address
// answer ("image", "midi" or "zip", "mp3" as "audio").
void setDlInfoToURL(uint64_t id, const Self& answer);
// Evicts the oldest songs other than the play manager's play and next song
// until at most maxNum remain (0: all but those two).
void removedOldFile(size_t maxNum);
void removeFileToMaxNum();
// Empties the registry; the registration order keeps its ids, so their
// directories go with the next eviction.
void initDLlist();
