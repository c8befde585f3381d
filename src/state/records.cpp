#include "state/records.h"

#include "base/debug.h"
#include "common/str.h"

#include <cerrno>
#include <climits>
#include <cstdlib>

namespace {

const std::string EMPTY;
size_t left_out_ = 0;

} // namespace

void note_left_out() {
    ++left_out_;
}

void report_left_out(const char* element) {
    if (left_out_ > 0 && element != nullptr) {
        debug_printf("records: %u %s elements beyond the limit left out\n",
                     static_cast<unsigned>(left_out_), element);
    }
    left_out_ = 0;
}

const std::string& attr_text(const Self& element, const char* name) {
    auto it = element.attributes.find(name);
    return it != element.attributes.end() ? it->second : EMPTY;
}

int32_t attr_int(const Self& element, const char* name) {
    errno = 0;
    long long value = strtoll(attr_text(element, name).c_str(), nullptr, 10);
    if (value > INT32_MAX) {
        return INT32_MAX;
    }
    if (value < INT32_MIN) {
        return INT32_MIN;
    }
    return static_cast<int32_t>(value);
}

uint64_t attr_id(const Self& element, const char* name) {
    return static_cast<uint64_t>(static_cast<int64_t>(attr_int(element, name)));
}

uint64_t attr_song_id(const Self& element, const char* name) {
    long long value = strtoll(attr_text(element, name).c_str(), nullptr, 10);
    if (value >= 0 && value <= static_cast<long long>(UINT32_MAX)) {
        return static_cast<uint64_t>(value);
    }
    return attr_id(element, name);
}

std::string record_text(const Self& element, const char* name) {
    std::string text = attr_text(element, name);
    str::cut_utf8(text, deployment::MAX_TEXT_BYTES);
    return text;
}

SharedSongs share_songs(std::vector<Song> songs) {
    return std::make_shared<const std::vector<Song>>(std::move(songs));
}

bool has_attributes(const Self& element, const std::vector<const char*>& names) {
    for (const char* name : names) {
        if (element.attributes.find(name) == element.attributes.end()) {
            return false;
        }
    }
    return true;
}

Song song_from(const Self& item) {
    Song song;
    song.id = attr_song_id(item, "id");
    song.display_order = static_cast<uint32_t>(attr_int(item, "display_order"));
    song.title = record_text(item, "title");
    song.artist = record_text(item, "artist");
    song.composer = record_text(item, "composer");
    song.performer = record_text(item, "performer");
    song.length = record_text(item, "length");
    song.genre = record_text(item, "genre");
    song.rollform_type = record_text(item, "rollform_type");
    song.isPlayOk = record_text(item, "ondemand_play");
    return song;
}

const ListRule<Song> SONG_LIST_RULE = {"item",
                                       {"id", "display_order", "title", "artist", "composer",
                                        "performer", "length", "genre", "rollform_type"},
                                       song_from,
                                       &Song::display_order,
                                       false,
                                       deployment::MAX_LIST_SONGS};

const ListRule<Song> PLAYLIST_SONGS_RULE = {"item",  {},    song_from,
                                            nullptr, false, deployment::MAX_LIST_SONGS};

namespace {

Playlist service_playlist_from(const Self& element) {
    Playlist playlist;
    playlist.id = attr_id(element, "id");
    playlist.name = record_text(element, "name");
    playlist.modified_at = record_text(element, "modified_at");
    return playlist;
}

// The user's own playlists also carry their order.
Playlist user_playlist_from(const Self& element) {
    Playlist playlist = service_playlist_from(element);
    playlist.sort = static_cast<uint32_t>(attr_int(element, "sort"));
    return playlist;
}

} // namespace

const ListRule<Playlist> USER_PLAYLIST_RULE = {"playlist",
                                               {"id", "name", "modified_at", "sort"},
                                               user_playlist_from,
                                               &Playlist::sort,
                                               false,
                                               deployment::MAX_LIST_SONGS};

namespace {

Playlist recommend_playlist_from(const Self& element) {
    Playlist playlist;
    playlist.id = attr_id(element, "genre_id");
    playlist.name = record_text(element, "title");
    return playlist;
}

Genre genre_from(const Self& element) {
    Genre genre;
    genre.id = attr_id(element, "id");
    genre.name = record_text(element, "name");
    genre.sort = static_cast<uint32_t>(attr_int(element, "sort"));
    return genre;
}

} // namespace

const ListRule<Playlist> PRESET_PLAYLIST_RULE = {
    "playlist", {"id", "name", "modified_at"},    service_playlist_from, &Playlist::sort,
    true,       deployment::MAX_SERVICE_PLAYLISTS};

const ListRule<Playlist> GRATIS_PLAYLIST_RULE = {
    "playlist",      {"id", "name"}, service_playlist_from,
    &Playlist::sort, true,           deployment::MAX_SERVICE_PLAYLISTS};

const ListRule<Playlist> RECOMMEND_PLAYLIST_RULE = {
    "playlist",
    {},
    recommend_playlist_from,
    &Playlist::sort,
    true,
    deployment::MAX_SERVICE_PLAYLISTS,
    "item",
    &Playlist::songs,
    "recommend Playlists Self : not getting playlist!\n"};

// A genre without an id (an empty element, or one in an error text) is none.
const ListRule<Genre> GENRE_LIST_RULE = {"genre",      {"id"}, genre_from,
                                         &Genre::sort, false,  deployment::MAX_GENRES};

void dump_songs(const std::vector<Song>& songs) {
    for (const Song& song : songs) {
        debug_printf("* %5lld: %s\n", static_cast<long long>(song.id), song.title.c_str());
    }
}
