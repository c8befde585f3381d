#include "ui/json.h"

#include "base/debug.h"
#include "base/log.h"
#include "common/deployment.h"
#include "common/fs.h"
#include "common/paths.h"
#include "common/str.h"
#include "net/webapi.h"
#include "state/dl_list.h"
#include "state/genre_list.h"
#include "state/playManager.h"
#include "state/playlist.h"
#include "state/presetPlaylist.h"
#include "state/queuelist.h"
#include "state/recommendPlaylist.h"
#include "state/service.h"
#include "state/song_list.h"
#include "state/where.h"
#include "ui/dialog.h"

#include <cstdio>
#include <map>

namespace {

constexpr const char* STATUS_FILE = "ondemand_status.json";
constexpr const char* DIALOG_FILE = "ondemand_dialog.json";
constexpr const char* SONG_FILE = "ondemand_song.json";
constexpr const char* QUEUE_FILE = "ondemand_queuelist.json";
constexpr const char* PLAYLIST_FILE = "ondemand_playlist.json";
constexpr const char* PRESET_FILE = "ondemand_presetPlaylist.json";
constexpr const char* RECOMMEND_FILE = "ondemand_recommendPlaylist.json";
constexpr const char* PLAYMANAGER_FILE = "ondemand_playmanager.json";

// The web interface lists at most this many songs of a search.
constexpr size_t MAX_PUBLISHED_SONGS = 200;

// A file's entries stop short of its bound, with room for what closes it.
constexpr size_t FILE_LIMIT = size_t{deployment::MAX_PUBLISHED_KB} * 1024 - 64;
// Songs stop at three quarters of it, so the heads of later playlists show.
constexpr size_t SONGS_LIMIT = FILE_LIMIT / 4 * 3;

JsonPublisher publisher_ = nullptr;

// Builds the one-line text of a file. Separators are added where a value
// follows another, so layouts read as their sequence of keys.
class Writer {
  public:
    Writer& open(const char* key = nullptr) { return start(key).put("{"); }
    Writer& close() { return put("}"); }
    Writer& array(const char* key) { return start(key).put("["); }
    Writer& end_array() { return put("]"); }

    Writer& text(const char* key, const std::string& value) {
        start(key).put("\"");
        json_escape_append(text_, value);
        return put("\"");
    }
    // Identifiers, orders and times are published as quoted decimals.
    Writer& quoted(const char* key, unsigned long long value) {
        return start(key).put("\"").put(std::to_string(value)).put("\"");
    }
    Writer& quoted_time(const char* key, long long value) {
        return start(key).put("\"").put(std::to_string(value)).put("\"");
    }
    Writer& number(const char* key, long long value) {
        return start(key).put(std::to_string(value));
    }
    Writer& flag(const char* key, bool value) { return start(key).put(value ? "true" : "false"); }

    // One entry of a list, written by `write`, kept only if the file stays
    // within `limit`. Once one is left out, so is every later entry under
    // the same or a smaller limit: a list is cut, not thinned. Entries left
    // out are counted for the publish line.
    template <typename Write> void entry(size_t limit, Write write) {
        if (limit > reached_) {
            size_t at = text_.size();
            write();
            if (text_.size() <= limit) {
                return;
            }
            text_.resize(at); // its separator goes with it
            reached_ = limit;
        }
        ++left_out_;
    }

    // The published file keeps its previous contents when this fails.
    void publish(const char* name) const {
        if (left_out_ > 0) {
            debug_printf("json: %s: %zu entries beyond %u KiB left out\n", name, left_out_,
                         deployment::MAX_PUBLISHED_KB);
        }
        if (publisher_ != nullptr) {
            publisher_(name, text_);
            return;
        }
        std::string path = paths::at(paths::WWW_CTRL_DIR) + name;
        if (fs::write_file_atomic(path, text_) != 0) {
            debug_printf("json: cannot write %s\n", path.c_str());
            log_error("cannot write %s", path.c_str());
        }
    }

  private:
    Writer& put(const std::string& piece) {
        text_ += piece;
        return *this;
    }
    Writer& start(const char* key) {
        if (!text_.empty() && text_.back() != '{' && text_.back() != '[') {
            text_ += ',';
        }
        if (key != nullptr) {
            text_ += '"';
            text_ += key;
            text_ += "\":";
        }
        return *this;
    }

    std::string text_;
    size_t reached_ = 0; // the largest limit an entry has passed
    size_t left_out_ = 0;
};

unsigned long long id_of(uint64_t id) {
    return static_cast<unsigned long long>(id);
}

// The song's credits, common to every song object.
Writer& add_credits(Writer& w, const Song& s) {
    return w.text("title", s.title)
        .text("artist", s.artist)
        .text("composer", s.composer)
        .text("performer", s.performer)
        .text("length", s.length);
}

// A song of a playlist, or with its entry id and selection state, of the
// queue: both show whether its files have arrived.
void add_listed_song(Writer& w, const Song& s, bool queue_entry) {
    w.open().quoted("id", id_of(s.id));
    if (queue_entry) {
        w.text("uid", s.uid);
    }
    w.quoted("display_order", s.display_order);
    add_credits(w, s)
        .text("genre", s.genre)
        .text("rollform_type", s.rollform_type)
        .text("isPlayOk", s.isPlayOk)
        .flag("url_download", isUrlDownload(s.id))
        .flag("file_download", isSongDownload(s.id));
    if (queue_entry) {
        w.flag("checked", false);
    }
    w.close();
}

void add_songs(Writer& w, const std::vector<Song>& songs) {
    w.array("songs");
    for (const Song& song : songs) {
        w.entry(SONGS_LIMIT, [&] { add_listed_song(w, song, false); });
    }
    w.end_array();
}

const std::vector<Song> NO_SONGS;

const std::vector<Song>& songs_of(const std::vector<Song>& songs) {
    return songs;
}
const std::vector<Song>& songs_of(const SharedSongs& songs) {
    return songs != nullptr ? *songs : NO_SONGS;
}

template <typename SongsOf>
void write_playlists(const char* file, const std::vector<Playlist>& playlists,
                     const std::map<uint64_t, SongsOf>& songs) {
    Writer w;
    w.open().quoted_time("updatetime", get_systime()).array("playlists");
    for (const Playlist& p : playlists) {
        w.entry(FILE_LIMIT, [&] {
            w.open()
                .quoted("id", id_of(p.id))
                .text("name", p.name)
                .text("modified_at", p.modified_at)
                .quoted("sort", p.sort);
            auto it = songs.find(p.id);
            add_songs(w, it != songs.end() ? songs_of(it->second) : NO_SONGS);
            w.close();
        });
    }
    w.end_array().close().publish(file);
}

// The play manager's songs: the play song also tells whether its image
// has arrived.
void add_managed_song(Writer& w, const char* key, const Song& s, bool with_image) {
    w.open(key).quoted("id", id_of(s.id)).quoted("display_order", s.display_order);
    add_credits(w, s).text("genre", s.genre);
    if (with_image) {
        w.flag("isImageDL", isImageDownload(s.id));
    }
    w.text("rollform_type", s.rollform_type).close();
}

} // namespace

void json_escape_append(std::string& out, const std::string& text) {
    size_t plain = 0; // start of the run of bytes that need no escape
    for (size_t i = 0; i < text.size(); ++i) {
        auto byte = static_cast<unsigned char>(text[i]);
        if (byte >= 0x20 && byte != '\\' && byte != '"' && byte != '/') {
            continue;
        }
        out.append(text, plain, i - plain);
        plain = i + 1;
        switch (byte) {
        case '\\':
            out += "\\\\";
            break;
        case '"':
            out += "\\\"";
            break;
        case '/':
            out += "\\/";
            break;
        case '\b':
            out += "\\b";
            break;
        case '\f':
            out += "\\f";
            break;
        case '\n':
            out += "\\n";
            break;
        case '\r':
            out += "\\r";
            break;
        case '\t':
            out += "\\t";
            break;
        default: {
            // Any other control byte would make the whole file invalid JSON;
            // it is written as a \u escape with upper-case hex digits, as xtoc
            // writes them.
            char code[8];
            snprintf(code, sizeof code, "\\u%04X", static_cast<unsigned>(byte));
            out += code;
        }
        }
    }
    out.append(text, plain, std::string::npos);
}

std::string& json_escape(std::string& text) {
    std::string escaped;
    json_escape_append(escaped, text);
    text.swap(escaped);
    return text;
}

namespace {

// The request count the status file shows; -1 until it is first written.
int published_count_ = -1;

void write_status() {
    published_count_ = webapi_num();
    Writer w;
    w.open()
        .number("updatetime", get_systime())
        .text("status", get_status() != 0 ? "on" : "off")
        .flag("gratis", isGratisMember())
        .flag("isStaging", isTestServer())
        .flag("isOriginalArtist", isOriginalArtist())
        .array("genres");
    for (const Genre& g : getGenres()) {
        w.entry(FILE_LIMIT, [&] {
            w.open().quoted("id", id_of(g.id)).text("name", g.name).quoted("sort", g.sort).close();
        });
    }
    w.end_array().number("download", published_count_).close().publish(STATUS_FILE);
}

void write_dialog() {
    const dialogInfo& d = getDialogInfo();
    Writer w;
    w.open()
        .number("updatetime", get_systime())
        .open("dialog")
        .text("title", d.title)
        .text("message", d.message)
        .text("type", d.type)
        .flag("isShow", d.isShow)
        .flag("isProg", d.isProg)
        .text("perProg", d.perProg)
        .flag("confirmed", d.confirmed)
        .close()
        .close()
        .publish(DIALOG_FILE);
}

void write_songlist() {
    const SongStore& songs = songlist_get();
    size_t count = songs.size() < MAX_PUBLISHED_SONGS ? songs.size() : MAX_PUBLISHED_SONGS;
    Writer w;
    w.open().quoted_time("updatetime", get_systime()).array("songs");
    for (size_t i = 0; i < count; ++i) {
        const Song s = songs.at(i);
        w.entry(SONGS_LIMIT, [&] {
            w.open().quoted("id", id_of(s.id)).quoted("display_order", s.display_order);
            add_credits(w, s)
                .text("rollform_type", s.rollform_type)
                .text("isPlayOk", s.isPlayOk)
                .flag("checked", false)
                .close();
        });
    }
    w.end_array().close().publish(SONG_FILE);
}

void write_queuelist() {
    Writer w;
    w.open().quoted_time("updatetime", get_systime()).array("songs");
    for (const Song& s : queuelist_get()) {
        w.entry(SONGS_LIMIT, [&] { add_listed_song(w, s, true); });
    }
    w.end_array().close().publish(QUEUE_FILE);
}

void write_playlist() {
    write_playlists(PLAYLIST_FILE, playlists_get(), playlistSongs_get());
}

void write_presetPlaylist() {
    write_playlists(PRESET_FILE, presetlists_get(), presetSongs_get());
}

void write_recommendPlaylist() {
    Writer w;
    w.open().quoted_time("updatetime", get_systime()).array("playlists");
    for (const Playlist& p : recommendPlaylists_get()) {
        w.entry(FILE_LIMIT, [&] {
            w.open().quoted("id", id_of(p.id)).text("name", p.name).quoted("sort", p.sort);
            add_songs(w, p.songs);
            w.close();
        });
    }
    w.end_array().close().publish(RECOMMEND_FILE);
}

void write_playmanager() {
    const PlayManager& pm = getOndemandPlayManager();
    Writer w;
    w.open()
        .quoted_time("updatetime", get_systime())
        .open("playmanager")
        .text("category", strCategory(pm.category))
        .text("repeat", strRepeat(pm.repeat))
        .text("where", strWhereLong())
        .quoted("playSongIndex", pm.playSongIndex)
        .quoted("playlistID", id_of(pm.playlistID));
    add_managed_song(w, "playSong", pm.playSong, true);
    add_managed_song(w, "nextSong", pm.nextSong, false);
    w.close().close().publish(PLAYMANAGER_FILE);
}

void reset_play_manager() {
    ondemandInitManager();
    ondemandSetRepeatType(REPEAT_OFF);
}

// Every published file with its writer and the reset of the state it shows,
// in the order a pass writes them: the status file goes last, as it also
// shows the genres and the requests the others' changes may have started.
enum File { SONGS, QUEUE, PLAYLISTS, PRESETS, RECOMMEND, PLAYMANAGER, DIALOG, STATUS, FILE_COUNT };
const struct {
    const char* name;
    void (*write)();
    void (*reset)();
} FILES[FILE_COUNT] = {
    {SONG_FILE, write_songlist, songlist_clear},
    {QUEUE_FILE, write_queuelist, init_qlist},
    {PLAYLIST_FILE, write_playlist, init_userplaylist},
    {PRESET_FILE, write_presetPlaylist, init_presetPlaylist},
    {RECOMMEND_FILE, write_recommendPlaylist, init_recmplaylist},
    {PLAYMANAGER_FILE, write_playmanager, reset_play_manager},
    {DIALOG_FILE, write_dialog, initDialogInfo},
    {STATUS_FILE, write_status, init_genrelist},
};

bool deferred_ = false;
bool marked_[FILE_COUNT] = {};

// Writes the file now, or, deferred, marks it for the next flush.
void publish(File file) {
    if (deferred_) {
        marked_[file] = true;
    } else {
        FILES[file].write();
    }
}

} // namespace

void json_make_status_json() {
    publish(STATUS);
}
void json_make_dialog_json() {
    publish(DIALOG);
}
void json_make_songlist_json() {
    publish(SONGS);
}
void json_make_queuelist_json() {
    publish(QUEUE);
}
void json_make_playlist_json() {
    publish(PLAYLISTS);
}
void json_make_presetPlaylist_json() {
    publish(PRESETS);
}
void json_make_recommendPlaylist_json() {
    publish(RECOMMEND);
}
void json_make_playmanager_info() {
    publish(PLAYMANAGER);
}

void json_defer(bool on) {
    deferred_ = on;
}

void json_flush() {
    // Requests started or ended since the status file was written show in it
    // even when nothing else it shows changed.
    if (published_count_ >= 0 && webapi_num() != published_count_) {
        marked_[STATUS] = true;
    }
    for (int file = 0; file < FILE_COUNT; ++file) {
        if (marked_[file]) {
            marked_[file] = false;
            FILES[file].write();
        }
    }
}

void json_set_publisher(JsonPublisher publisher) {
    publisher_ = publisher;
}

void json_make_init() {
    for (int file = 0; file < FILE_COUNT; ++file) {
        FILES[file].reset();
        publish(static_cast<File>(file));
    }
}

void json_clean() {
    std::string dir = paths::at(paths::WWW_CTRL_DIR);
    for (const auto& file : FILES) {
        fs::rm_file(dir + file.name);
    }
}
