// The unpacked files of each downloaded song: the MIDI file the sequencer
// plays, the optional audio track played along, and the image.
#pragma once

#include <cstdint>
#include <map>
#include <string>

struct Contents {
    int64_t time = 0;
    std::string midi_path;
    std::string audio_path;
    std::string image_path;
};

// Classifies and records one downloaded file by its name: "image" gives 1,
// "audio.mp3" 2, "midi" or an unpacked "zip" 0, anything else -1.
int contents_set(uint64_t id, const std::string& path);
bool contents_is_valid_id(uint64_t id);
// Forgets the song's files: its directory is being emptied for a new
// download, and a path into it must not outlive the file.
void contents_forget(uint64_t id);
// How long an archive may take to unpack before the song counts as failed;
// 0 restores the default (tests shorten it).
void contents_set_unzip_timeout_ms(int ms);
const std::map<uint64_t, Contents>& contents_get();
// True when the path's last component is exactly "image".
bool isImageFile(const std::string& path);
