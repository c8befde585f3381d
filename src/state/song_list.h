// The song list: the last search, recommended-songs or history answer, and
// the last plain keyword search, remembered. A search may bring tens of
// thousands of songs, so the list is kept packed, not as Song records.
#pragma once

#include "state/records.h"

#include <string>
#include <vector>

// What filled the list.
enum SongListKind {
    SONGLIST_SEARCH = 0,
    SONGLIST_GENRE_SEARCH = 1,
    SONGLIST_HISTORY = 2,
    SONGLIST_RECOMMEND = 3
};

// Songs packed into one text buffer: per song a fixed entry (id, order and
// where its texts begin) and its texts one after another, each ended by a
// NUL byte (attribute values never hold one). A song costs its texts and 16
// bytes, instead of nine strings of their own.
class SongStore {
  public:
    size_t size() const { return entries_.size(); }
    bool empty() const { return entries_.empty(); }
    uint64_t id(size_t index) const { return entries_[index].id; }
    // The song at this place, unpacked.
    Song at(size_t index) const;
    // Every song, unpacked (for tests and the debug dump).
    std::vector<Song> songs() const;

    void push_back(const Song& song);
    void clear();
    // Orders the songs by display_order, with the same unstable sort (and so
    // the same order of equal keys) as a vector of Song records would get.
    void sort_by_display_order();

  private:
    struct Entry {
        uint64_t id;
        uint32_t display_order;
        uint32_t texts;
    };
    std::vector<Entry> entries_;
    std::string texts_;
};

inline void sort_records(SongStore& out, uint32_t Song::*) {
    out.sort_by_display_order();
}

// Fills the list from an answer; a plain search is also remembered.
void songlist_fill(const Self& answer, int kind);
// The same for an answer whose records were read while it was parsed: the
// parser hands every element to songlist_stream_visit between begin and the
// fill or the discard.
void songlist_stream_begin();
bool songlist_stream_visit(const Self& element);
void songlist_stream_discard();
void songlist_fill_streamed(int kind);

// Brings the remembered search back.
void songlist_set_old_search();
void songlist_clear();
const SongStore& songlist_get();
// Replaces the list (tests and hand-made lists).
void songlist_set(const std::vector<Song>& songs);
// The first song with this id; false when the list has none.
bool songlist_find(uint64_t id, Song& out);
void songlist_dump();
