// The download registry: per song, which download addresses are known and
// which files have arrived.
#pragma once

#include <cstdint>
#include <map>
#include <string>

struct dlSongInfo {
    std::map<std::string, std::string> urls;
    bool isUrl = false;
    bool isUrlAudio = false;
    bool isSong = false;
    bool isSongAudio = false;
    bool isImage = false;
};

bool dlListCheck_id(uint64_t id);
std::map<uint64_t, dlSongInfo>& getDlList();
// False for a song the registry does not know.
bool isUrlDownload(uint64_t id);
bool isUrlDownload_audio(uint64_t id);
bool isSongDownload(uint64_t id);
bool isSongDownload_audio(uint64_t id);
bool isImageDownload(uint64_t id);
void initDLlist();
