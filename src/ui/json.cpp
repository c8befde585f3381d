#include "ui/json.h"

#include "catalogue/genre_list.h"
#include "catalogue/playlist.h"
#include "catalogue/presetPlaylist.h"
#include "catalogue/queuelist.h"
#include "catalogue/recommendPlaylist.h"
#include "catalogue/song_list.h"
#include "common/fs.h"
#include "common/paths.h"
#include "common/str.h"
#include "net/webapi.h"
#include "player/dl_list.h"
#include "player/ondemandPlayer.h"
#include "player/playback.h"
#include "service/login.h"
#include "service/status.h"
#include "ui/dialog.h"

#include <cstdarg>
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

// Builds the text of one file.
class Writer {
  public:
    Writer& add(const char* format, ...) __attribute__((format(printf, 2, 3))) {
        va_list args;
        va_start(args, format);
        va_list measure;
        va_copy(measure, args);
        int length = vsnprintf(nullptr, 0, format, measure);
        va_end(measure);
        if (length > 0) {
            size_t old = text_.size();
            text_.resize(old + static_cast<size_t>(length) + 1);
            vsnprintf(&text_[old], static_cast<size_t>(length) + 1, format, args);
            text_.resize(old + static_cast<size_t>(length));
        }
        va_end(args);
        return *this;
    }
    // An escaped string value, quotes included.
    Writer& str(const std::string& value) {
        std::string escaped = value;
        text_ += '"';
        text_ += json_escape(escaped);
        text_ += '"';
        return *this;
    }
    Writer& raw(const char* text) {
        text_ += text;
        return *this;
    }
    // Separates array elements.
    Writer& comma_unless_first(bool& first) {
        if (!first) {
            text_ += ',';
        }
        first = false;
        return *this;
    }
    void publish(const char* name) {
        fs::write_file_atomic(paths::at(paths::WWW_CTRL_DIR) + name, text_);
    }

  private:
    std::string text_;
};

const char* boolean(bool value) {
    return value ? "true" : "false";
}

unsigned long long id_of(uint64_t id) {
    return static_cast<unsigned long long>(id);
}

// The song fields shared by the playlist files; the queue file adds uid and
// checked around them.
void add_playlist_song(Writer& w, const Song& s) {
    w.add("{\"id\":\"%llu\",\"display_order\":\"%u\",\"title\":", id_of(s.id), s.display_order)
        .str(s.title)
        .raw(",\"artist\":")
        .str(s.artist)
        .raw(",\"composer\":")
        .str(s.composer)
        .raw(",\"performer\":")
        .str(s.performer)
        .raw(",\"length\":")
        .str(s.length)
        .raw(",\"genre\":")
        .str(s.genre)
        .raw(",\"rollform_type\":")
        .str(s.rollform_type)
        .raw(",\"isPlayOk\":")
        .str(s.isPlayOk)
        .add(",\"url_download\":%s,\"file_download\":%s}", boolean(isUrlDownload(s.id)),
             boolean(isSongDownload(s.id)));
}

void add_songs(Writer& w, const std::vector<Song>& songs) {
    w.raw("\"songs\":[");
    bool first = true;
    for (const Song& song : songs) {
        w.comma_unless_first(first);
        add_playlist_song(w, song);
    }
    w.raw("]}");
}

const std::vector<Song> NO_SONGS;

void write_playlists(const char* file, const std::vector<Playlist>& playlists,
                     const std::map<uint64_t, std::vector<Song>>& songs) {
    Writer w;
    w.add("{\"updatetime\":\"%lld\",\"playlists\":[", get_systime());
    bool first = true;
    for (const Playlist& p : playlists) {
        w.comma_unless_first(first);
        w.add("{\"id\":\"%llu\",\"name\":", id_of(p.id))
            .str(p.name)
            .raw(",\"modified_at\":")
            .str(p.modified_at)
            .add(",\"sort\":\"%u\",", p.sort);
        auto it = songs.find(p.id);
        add_songs(w, it != songs.end() ? it->second : NO_SONGS);
    }
    w.raw("]}");
    w.publish(file);
}

void add_song_head(Writer& w, const Song& s) {
    w.add("\"id\":\"%llu\",\"display_order\":\"%u\",\"title\":", id_of(s.id), s.display_order)
        .str(s.title)
        .raw(",\"artist\":")
        .str(s.artist)
        .raw(",\"composer\":")
        .str(s.composer)
        .raw(",\"performer\":")
        .str(s.performer)
        .raw(",\"length\":")
        .str(s.length)
        .raw(",\"genre\":")
        .str(s.genre);
}

} // namespace

std::string& json_escape(std::string& text) {
    str::replace(text, "\\", "\\\\");
    str::replace(text, "\"", "\\\"");
    str::replace(text, "/", "\\/");
    str::replace(text, "\b", "\\b");
    str::replace(text, "\f", "\\f");
    str::replace(text, "\n", "\\n");
    str::replace(text, "\r", "\\r");
    str::replace(text, "\t", "\\t");
    // Any other control byte would make the whole file invalid JSON.
    std::string escaped;
    escaped.reserve(text.size());
    for (char c : text) {
        auto byte = static_cast<unsigned char>(c);
        if (byte < 0x20) {
            char code[8];
            snprintf(code, sizeof code, "\\u%04X", byte);
            escaped += code;
        } else {
            escaped += c;
        }
    }
    text.swap(escaped);
    return text;
}

void json_make_status_json() {
    Writer w;
    w.add("{\"updatetime\":%lld,", get_systime())
        .add("\"status\":\"%s\",", get_status() != 0 ? "on" : "off")
        .add("\"gratis\":%s,", boolean(isGratisMember()))
        .add("\"isStaging\":%s,", boolean(isTestServer()))
        .add("\"isOriginalArtist\":%s,", boolean(isOriginalArtist()))
        .raw("\"genres\":[");
    bool first = true;
    for (const Genre& g : getGenres()) {
        w.comma_unless_first(first);
        w.add("{\"id\":\"%llu\",\"name\":", id_of(g.id))
            .str(g.name)
            .add(",\"sort\":\"%u\"}", g.sort);
    }
    w.add("],\"download\":%d}", webapi_num());
    w.publish(STATUS_FILE);
}

void json_make_dialog_json() {
    const dialogInfo& d = getDialogInfo();
    Writer w;
    w.add("{\"updatetime\":%lld,\"dialog\":{\"title\":", get_systime())
        .str(d.title)
        .raw(",\"message\":")
        .str(d.message)
        .raw(",\"type\":")
        .str(d.type)
        .add(",\"isShow\":%s,\"isProg\":%s,\"perProg\":", boolean(d.isShow), boolean(d.isProg))
        .str(d.perProg)
        .add(",\"confirmed\":%s}}", boolean(d.confirmed));
    w.publish(DIALOG_FILE);
}

void json_make_songlist_json() {
    Writer w;
    w.add("{\"updatetime\":\"%lld\",\"songs\":[", get_systime());
    const std::vector<Song>& songs = songlist_get();
    size_t count = songs.size() < MAX_PUBLISHED_SONGS ? songs.size() : MAX_PUBLISHED_SONGS;
    for (size_t i = 0; i < count; ++i) {
        const Song& s = songs[i];
        if (i > 0) {
            w.raw(",");
        }
        w.add("{\"id\":\"%llu\",\"display_order\":\"%u\",\"title\":", id_of(s.id), s.display_order)
            .str(s.title)
            .raw(",\"artist\":")
            .str(s.artist)
            .raw(",\"composer\":")
            .str(s.composer)
            .raw(",\"performer\":")
            .str(s.performer)
            .raw(",\"length\":")
            .str(s.length)
            .raw(",\"rollform_type\":")
            .str(s.rollform_type)
            .raw(",\"isPlayOk\":")
            .str(s.isPlayOk)
            .raw(",\"checked\":false}");
    }
    w.raw("]}");
    w.publish(SONG_FILE);
}

void json_make_queuelist_json() {
    Writer w;
    w.add("{\"updatetime\":\"%lld\",\"songs\":[", get_systime());
    bool first = true;
    for (const Song& s : queuelist_get()) {
        w.comma_unless_first(first);
        w.add("{\"id\":\"%llu\",\"uid\":", id_of(s.id))
            .str(s.uid)
            .add(",\"display_order\":\"%u\",\"title\":", s.display_order)
            .str(s.title)
            .raw(",\"artist\":")
            .str(s.artist)
            .raw(",\"composer\":")
            .str(s.composer)
            .raw(",\"performer\":")
            .str(s.performer)
            .raw(",\"length\":")
            .str(s.length)
            .raw(",\"genre\":")
            .str(s.genre)
            .raw(",\"rollform_type\":")
            .str(s.rollform_type)
            .raw(",\"isPlayOk\":")
            .str(s.isPlayOk)
            .add(",\"url_download\":%s,\"file_download\":%s,\"checked\":false}",
                 boolean(isUrlDownload(s.id)), boolean(isSongDownload(s.id)));
    }
    w.raw("]}");
    w.publish(QUEUE_FILE);
}

void json_make_playlist_json() {
    write_playlists(PLAYLIST_FILE, playlists_get(), playlistSongs_get());
}

void json_make_presetPlaylist_json() {
    write_playlists(PRESET_FILE, presetlists_get(), presetSongs_get());
}

void json_make_recommendPlaylist_json() {
    Writer w;
    w.add("{\"updatetime\":\"%lld\",\"playlists\":[", get_systime());
    bool first = true;
    for (const Playlist& p : recommendPlaylists_get()) {
        w.comma_unless_first(first);
        w.add("{\"id\":\"%llu\",\"name\":", id_of(p.id))
            .str(p.name)
            .add(",\"sort\":\"%u\",", p.sort);
        add_songs(w, p.songs);
    }
    w.raw("]}");
    w.publish(RECOMMEND_FILE);
}

void json_make_playmanager_info() {
    const PlayManager& pm = getOndemandPlayManager();
    Writer w;
    w.add("{\"updatetime\":\"%lld\",\"playmanager\":{\"category\":", get_systime())
        .str(strCategory(pm.category))
        .raw(",\"repeat\":")
        .str(strRepeat(pm.repeat))
        .raw(",\"where\":")
        .str(strWhereLong())
        .add(",\"playSongIndex\":\"%u\",\"playlistID\":\"%llu\",\"playSong\":{", pm.playSongIndex,
             id_of(pm.playlistID));
    add_song_head(w, pm.playSong);
    w.add(",\"isImageDL\":%s,\"rollform_type\":", boolean(isImageDownload(pm.playSong.id)))
        .str(pm.playSong.rollform_type)
        .raw("},\"nextSong\":{");
    add_song_head(w, pm.nextSong);
    w.raw(",\"rollform_type\":").str(pm.nextSong.rollform_type).raw("}}}");
    w.publish(PLAYMANAGER_FILE);
}

void json_make_init() {
    songlist_clear();
    json_make_songlist_json();
    init_qlist();
    json_make_queuelist_json();
    init_userplaylist();
    json_make_playlist_json();
    init_presetPlaylist();
    json_make_presetPlaylist_json();
    init_recmplaylist();
    json_make_recommendPlaylist_json();
    init_genrelist();
    ondemandInitManager();
    ondemandSetRepeatType(REPEAT_OFF);
    json_make_playmanager_info();
    initDialogInfo();
    json_make_dialog_json();
    json_make_status_json();
}

void json_clean() {
    std::string dir = paths::at(paths::WWW_CTRL_DIR);
    for (const char* name : {STATUS_FILE, DIALOG_FILE, SONG_FILE, QUEUE_FILE, PLAYLIST_FILE,
                             PRESET_FILE, RECOMMEND_FILE, PLAYMANAGER_FILE}) {
        fs::rm_file(dir + name);
    }
}
