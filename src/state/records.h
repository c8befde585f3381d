// The catalogue's records and the one way every list is read from a service
// answer.
#pragma once

#include "xml/self.h"

#include <cstdint>
#include <initializer_list>
#include <string>
#include <vector>

struct Song {
    uint64_t id = 0;
    uint32_t display_order = 0;
    std::string title;
    std::string artist;
    std::string composer;
    std::string performer;
    std::string length;
    std::string genre;
    std::string rollform_type;
    std::string isPlayOk;
    std::string uid;
};

struct Playlist {
    uint64_t id = 0;
    std::string name;
    std::vector<Song> songs;
    std::string modified_at;
    uint32_t sort = 0;
};

struct Genre {
    uint64_t id = 0;
    std::string name;
    uint32_t sort = 0;
};

// An attribute's text; empty when the element lacks it.
const std::string& attr_text(const Self& element, const char* name);
// An attribute read as atoi reads it: signed 32-bit, clamped, 0 without digits.
int32_t attr_int(const Self& element, const char* name);
// Identifiers are widened from the signed 32-bit value with sign extension.
uint64_t attr_id(const Self& element, const char* name);
bool has_attributes(const Self& element, std::initializer_list<const char*> names);

// A song read from the attributes of one "item" element.
Song song_from(const Self& item);

// Fills `out` with the songs of every "item" element in document order.
// With `require_all`, an item lacking one of the song list's required
// attributes is skipped.
void read_songs(const Self& answer, bool require_all, std::vector<Song>& out);

// Orders songs by display_order (equal keys in no defined order).
void sort_by_display_order(std::vector<Song>& songs);

// Position of the first record with this id, or end().
template <typename Records>
typename Records::iterator search_from_id(Records& records, uint64_t id) {
    auto it = records.begin();
    while (it != records.end() && it->id != id) {
        ++it;
    }
    return it;
}

// "* %5lld: %s" lines for the debug log.
void dump_songs(const std::vector<Song>& songs);
