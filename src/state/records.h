// The catalogue's records and the one way every list is read from a service
// answer.
#pragma once

#include "base/debug.h"
#include "common/deployment.h"
#include "xml/self.h"

#include <algorithm>
#include <cstdint>
#include <memory>
#include <string>
#include <type_traits>
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

// Songs that several playlists show (every gratis playlist shows all the
// songs of its answer): held once, and replaced, never changed, once filled.
using SharedSongs = std::shared_ptr<const std::vector<Song>>;
SharedSongs share_songs(std::vector<Song> songs);

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
// Song ids are unsigned 32-bit values for the service: read whole up to
// 4294967295, so that no two are clamped onto one; other text as attr_id.
uint64_t attr_song_id(const Self& element, const char* name);
// A record's text (a title, a name): the attribute's text cut to the
// deployment's text bound at a character boundary.
std::string record_text(const Self& element, const char* name);
bool has_attributes(const Self& element, const std::vector<const char*>& names);

// A song read from the attributes of one "item" element.
Song song_from(const Self& item);

// How one list is read from an answer: the record element, the attributes a
// record must have (an element lacking one is skipped whole), how a record
// is built from the element, and the list's order.
template <typename Record> struct ListRule {
    const char* element;
    std::vector<const char*> required;
    Record (*read)(const Self& element);
    // The field the list is sorted by (unstably, as the service leaves equal
    // keys in no order); null keeps document order.
    uint32_t Record::*order;
    // The key is a running count from 1 in document order, not an attribute.
    bool counted;
    // The most records kept, in document order (a deployment value); the
    // rest of the answer's records are left out.
    size_t limit;
    // Records that hold their own songs (a recommended playlist): an element
    // named `child` is read as a playlist song into `songs` of the last record
    // before it in document order; one before any record is dropped with the
    // debug line `orphan`.
    const char* child = nullptr;
    std::vector<Song> Record::*songs = nullptr;
    const char* orphan = nullptr;
};

// Records left out of the answer being read, for its one debug line.
void note_left_out();
// Writes that line when records were left out, and starts counting afresh.
void report_left_out(const char* element);

// Takes one element into the list `out` (emptied before the first): a record
// element becomes a record, a child element of a record holding songs a
// song of the last record. Elements come depth first in document order,
// from a walk of the answer or from the parser as it reads. True when the
// element became a record.
template <typename Record, typename Out>
bool read_record(const Self& node, const ListRule<Record>& rule, Out& out) {
    if (node.name == rule.element && has_attributes(node, rule.required)) {
        if (out.size() >= rule.limit) {
            note_left_out();
            return true;
        }
        Record record = rule.read(node);
        if (rule.counted) {
            record.*rule.order = static_cast<uint32_t>(out.size() + 1);
        }
        out.push_back(std::move(record));
        return true;
    }
    if constexpr (std::is_same_v<Out, std::vector<Record>>) {
        // A song element without an id (one nested in a song) is no song.
        if (rule.child != nullptr && node.name == rule.child && has_attributes(node, {"id"})) {
            if (out.empty()) {
                debug_printf("%s", rule.orphan != nullptr ? rule.orphan : "");
            } else if ((out.back().*rule.songs).size() >= deployment::MAX_LIST_SONGS) {
                note_left_out();
            } else {
                (out.back().*rule.songs).push_back(song_from(node));
            }
        }
    }
    return false;
}

template <typename Record> void sort_records(std::vector<Record>& out, uint32_t Record::*order) {
    std::sort(out.begin(), out.end(),
              [order](const Record& a, const Record& b) { return a.*order < b.*order; });
}

// Puts the list read in the rule's order.
template <typename Record, typename Out> void finish_list(const ListRule<Record>& rule, Out& out) {
    report_left_out(rule.element);
    if (rule.order != nullptr) {
        sort_records(out, rule.order);
    }
}

// Every record element of the answer, depth first in document order, into
// `out` (emptied first), then sorted by the rule's key.
template <typename Record, typename Out>
void read_list(const Self& answer, const ListRule<Record>& rule, Out& out) {
    out.clear();
    report_left_out(nullptr);
    self_foreach(answer, [&rule, &out](const Self& node) {
        read_record(node, rule, out);
        return 0;
    });
    finish_list(rule, out);
}

// The song list of a search, recommended songs or history answer.
extern const ListRule<Song> SONG_LIST_RULE;
// The songs of one playlist: every item, in document order.
extern const ListRule<Song> PLAYLIST_SONGS_RULE;
// The user's own playlists, ordered by the service's "sort".
extern const ListRule<Playlist> USER_PLAYLIST_RULE;
// The service's preset playlists, in the answer's order.
extern const ListRule<Playlist> PRESET_PLAYLIST_RULE;
// The gratis playlists: as the presets, but the stamp may be missing.
extern const ListRule<Playlist> GRATIS_PLAYLIST_RULE;
// The recommended playlists, in the answer's order, each with its songs.
extern const ListRule<Playlist> RECOMMEND_PLAYLIST_RULE;
// The genres, ordered by the service's "sort".
extern const ListRule<Genre> GENRE_LIST_RULE;

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
