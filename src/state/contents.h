// The unpacked files of each downloaded song: the MIDI file the sequencer
// plays, the optional audio track played along, and the image.
#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <string>

struct Contents {
    int64_t time = 0;
    std::string midi_path;
    std::string audio_path;
    std::string image_path;
};

// The kind of a recorded file: 1 the image, 2 the audio track, 0 music data
// (a MIDI file, or an archive unpacked with its MIDI file), -1 a file that
// cannot be used.
using ContentsDone = std::function<void(int kind)>;

// Classifies and records one downloaded file by its name, then calls `done`
// exactly once with its kind: "image" gives 1, "audio.mp3" 2, "midi" 0,
// anything else -1, all before contents_set returns. A "zip" archive is
// unpacked by unzip children of the event loop and `done` follows from the
// loop: 0 when it gave a MIDI file, -1 when it failed. It fails when its
// listing shows more than CONTENTS_MAX_ENTRIES entries, or the entries it
// would unpack (the MIDI files and audio tracks at its top level, nothing
// else) add up to more than the song budget, when unzip ends with any status
// but success, runs past the unpack limit (30 s), or unpacks to more than the
// budget after all, and when no MIDI file came out. A failed archive takes
// the song's whole directory with it, and the song is forgotten.
// A second archive of the same song while one unpacks replaces it: the first
// is ended and its `done` never called, as after contents_forget.
void contents_set(uint64_t id, const std::string& path, ContentsDone done);

bool contents_is_valid_id(uint64_t id);
// Forgets the song's files, before its directory is emptied or removed: a
// path into it must not outlive the file. An unpack of the song under way is
// ended and its `done` never called.
void contents_forget(uint64_t id);
// Forgets every song, for the removal of the whole download directory.
void contents_clear();
// Unpacks under way; for tests and the status of a shutdown.
int contents_unpacking();

// How long an archive may take to unpack before the song counts as failed;
// 0 restores the default (tests shorten it).
void contents_set_unzip_timeout_ms(int ms);
const std::map<uint64_t, Contents>& contents_get();
// True when the path's last component is exactly "image".
bool isImageFile(const std::string& path);

// The most entries an archive may hold.
constexpr size_t CONTENTS_MAX_ENTRIES = 1000;
