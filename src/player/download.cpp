#include "player/download.h"

#include "base/debug.h"
#include "base/log.h"
#include "common/fs.h"
#include "common/str.h"
#include "net/curl.h"
#include "net/webapi.h"
#include "player/ondemandPlayer.h"
#include "request/answer.h"
#include "state/contents.h"
#include "state/dl_list.h"
#include "state/playManager.h"
#include "state/service.h"
#include "state/song_list.h"
#include "ui/dialog.h"
#include "ui/json.h"

#include <climits>
#include <cstdint>
#include <map>
#include <strings.h>

namespace {

// The songs whose files are on their way: who asked, and how many of the
// set's transfers have not answered yet.
struct FileSet {
    SongTicket ticket;
    int pending = 0;
};
std::map<uint64_t, FileSet> fetching_;

bool by_hand(const SongTicket& ticket) {
    return ticket.play == 0;
}

// The lists that show a song's download flags, in the order they are shown.
void publish_download_flags() {
    json_make_songlist_json();
    json_make_queuelist_json();
    json_make_playlist_json();
    json_make_presetPlaylist_json();
    json_make_recommendPlaylist_json();
}

void note_stale(const SongTicket& ticket, const char* what) {
    debug_printf("download: %s of song %llu for an earlier play: nothing more is done\n", what,
                 static_cast<unsigned long long>(ticket.id));
}

// An address answer that cannot be used. For the song the play manager waits
// for, the next song is left out or the play song gives way to another; a
// request by hand only shows why.
void downloadurl_failed(const SongTicket& ticket, int status, const Self* answer) {
    bool awaited = isAwaitedSong(ticket);
    if (awaited || by_hand(ticket)) {
        log_warning("song %llu failed: no download address, status %d",
                    static_cast<unsigned long long>(ticket.id), status);
    }
    if (awaited && isNextDownloadStep()) {
        skipNextSongStep();
        json_make_status_json();
        return;
    }
    if (!awaited && !by_hand(ticket)) {
        note_stale(ticket, "a failed address answer");
        request_refusal(status, false);
        return;
    }
    if (awaited) {
        playManagerDownloadError();
    }
    if (answer == nullptr) {
        json_make_dlg_error("Error", "downloadUrl");
    } else {
        report_failed_answer(status, "downloadUrl", *answer);
    }
}

// The item requests take 32-bit ids: a larger one would ask for another song.
int request_downloadurl(const SongTicket& ticket, bool gratis) {
    if (ticket.id > UINT32_MAX) {
        return -1;
    }
    auto item = static_cast<unsigned int>(ticket.id);
    RequestCallback answer = [ticket](int status, const std::string& body, void*) {
        answer_downloadurl(ticket, status, body);
    };
    void* user = curl_user_of_id(ticket.id);
    return gratis ? webapi_ondemand_gratis_downloadurl(item, answer, user)
                  : webapi_ondemand_items_downloadurl(item, answer, user);
}

// The output file of one address kind.
std::string output_for(const std::string& dir, const std::string& kind) {
    std::string path;
    if (strcasecmp(kind.c_str(), "image") == 0) {
        return dir + "/image";
    }
    if (kind == "audio") {
        return str::format(path, "%s/%s.%s", dir.c_str(), kind.c_str(), "mp3");
    }
    return str::format(path, "%s/%s", dir.c_str(), kind.c_str());
}

// Withdraws the transfers still running for the song's file set.
void cancel_files(uint64_t id) {
    if (fetching_.erase(id) == 0) {
        return;
    }
    std::string prefix = song_dir(id) + "/";
    curl_cancel([&prefix](const std::string&, const std::string& output) {
        return output.compare(0, prefix.size(), prefix) == 0;
    });
}

// One transfer of the song's set has answered.
void note_file_answered(const SongTicket& ticket) {
    auto set = fetching_.find(ticket.id);
    if (set != fetching_.end() && set->second.ticket.play == ticket.play &&
        --set->second.pending <= 0) {
        fetching_.erase(set);
    }
}

// A file that did not arrive whole (a failed status, a cut transfer, an
// archive that would not unpack) is never recorded: its partial or error
// text is no song. The image is optional; without a needed file the song
// cannot be had, so the rest of its set is not worth fetching.
void download_failed(const SongTicket& ticket, int status, const std::string& path) {
    fs::rm_file(path);
    request_refusal(status, false);
    if (isImageFile(path)) {
        return;
    }
    if (isAwaitedSong(ticket) || by_hand(ticket)) {
        std::string file = path.substr(path.rfind('/') + 1);
        if (is_success_status(status)) {
            log_warning("song %llu failed: its %s file cannot be used",
                        static_cast<unsigned long long>(ticket.id), file.c_str());
        } else {
            log_warning("song %llu failed: download of its %s file, status %d",
                        static_cast<unsigned long long>(ticket.id), file.c_str(), status);
        }
    }
    cancel_files(ticket.id);
    if (isAwaitedSong(ticket)) {
        if (isNextDownloadStep()) {
            skipNextSongStep();
        } else {
            playManagerDownloadError();
            json_make_dlg_error("Error", server_error_text(status, "download"));
        }
    } else if (by_hand(ticket)) {
        json_make_dlg_error("Error", server_error_text(status, "download"));
    } else {
        note_stale(ticket, "a failed file");
    }
    publish_download_flags();
}

// Starts the transfers of the song's registered files into its emptied
// directory. As fetch_song_files.
int start_files(const SongTicket& ticket, std::string& why) {
    uint64_t id = ticket.id;
    if (!dlListCheck_id(id)) {
        why = "Download Error ( URL is not registered. )";
        return -1;
    }
    const dlSongInfo info = getDlSong_from_id(id);
    bool music = info.urls.count("midi") != 0 || info.urls.count("zip") != 0;
    // The play manager needs music data; an image alone plays nothing.
    if (info.urls.empty() || (!by_hand(ticket) && !music)) {
        why = "Download Error ( URL is not retrieved. )";
        return 1;
    }
    auto under_way = fetching_.find(id);
    if (under_way != fetching_.end()) {
        // The set on its way serves a request by hand as well; the play
        // manager takes a set over so that its answers are awaited.
        if (by_hand(ticket)) {
            debug_printf("download: song %llu is on its way already\n",
                         static_cast<unsigned long long>(id));
            return 0;
        }
        cancel_files(id);
    }
    // A song's files are always fetched as a set, into an empty directory.
    // Its unpack, if one runs, is ended before the directory is emptied, and
    // the song counts as not downloaded until its files arrive anew.
    contents_forget(id);
    setDlInfoToSong(id, false);
    setDlInfoToSong_audio(id, false);
    std::string dir = song_dir(id);
    fs::rm_dir(dir);
    fs::mk_dir(dir);
    FileSet& set = fetching_[id];
    set.ticket = ticket;
    for (const auto& url : info.urls) {
        std::string output = output_for(dir, url.first);
        bool image = isImageFile(output);
        if (image) {
            setDlInfoToImage(id, false);
            json_make_playmanager_info();
        }
        RequestCallback answer = [ticket](int status, const std::string& path, void*) {
            answer_download(ticket, status, path);
        };
        if (webapi_ondemand_items_download(url.second, url.first, id, output, answer,
                                           curl_user_of_id(id)) == 0) {
            ++set.pending;
        } else if (image) {
            debug_printf("download: the image of song %llu cannot be fetched\n",
                         static_cast<unsigned long long>(id));
        } else {
            cancel_files(id);
            why = server_error_text(CURL_DOWNLOAD_FAILED, "download");
            return -1;
        }
    }
    if (set.pending == 0) {
        fetching_.erase(id);
    }
    return 0;
}

// What the file turned out to be: recorded, or failed.
void file_recorded(const SongTicket& ticket, int status, const std::string& path, int kind) {
    uint64_t id = ticket.id;
    // Counted once the file is recorded: the set is under way while an
    // archive of it unpacks.
    note_file_answered(ticket);
    if (kind == 1) {
        setDlInfoToImage(id, true);
        json_make_playmanager_info();
    } else if (kind == 0 && !contents_is_valid_id(id)) {
        kind = -1; // an archive without a MIDI file cannot be played
    }
    if (kind < 0) {
        download_failed(ticket, status, path);
    } else if (kind != 1) {
        if (kind == 0) {
            setDlInfoToSong(id, true);
        } else {
            setDlInfoToSong_audio(id, true);
        }
        // The song moves on when the last of its needed files has arrived.
        if (!isUrlDownload_audio(id) || (isSongDownload(id) && isSongDownload_audio(id))) {
            if (isAwaitedSong(ticket)) {
                ondemandNextStep();
            }
            publish_download_flags();
        }
    }
}

} // namespace

void do_downloadurl(uint64_t id) {
    if (get_status() != 0) {
        int sent = 0;
        if (id != 0) {
            sent = request_downloadurl(SongTicket{id, 0}, isGratisMember());
        } else {
            const SongStore& songs = songlist_get();
            for (size_t i = 0; i < songs.size(); ++i) {
                request_downloadurl(SongTicket{songs.id(i), 0}, false);
            }
        }
        if (sent != 0) {
            downloadurl_failed(SongTicket{id, 0}, -1, nullptr);
        }
    }
    json_make_status_json();
}

void do_downloadurl(const char* id) {
    unsigned long long value = 0;
    if (str::parse_number(id, UINT64_MAX, value)) {
        do_downloadurl(static_cast<uint64_t>(value));
    }
}

void callback_downloadurl(int status, const std::string& body, void* user) {
    answer_downloadurl(SongTicket{curl_id_of_user(user), 0}, status, body);
}

void answer_downloadurl(const SongTicket& ticket, int status, const std::string& body) {
    Self answer;
    if (self_parse(body, answer) != 0) {
        downloadurl_failed(ticket, status, nullptr);
        return;
    }
    if (!is_success_status(status)) {
        downloadurl_failed(ticket, status, &answer);
        return;
    }
    setDlInfoToURL(ticket.id, answer);
    publish_download_flags();
    if (isAwaitedSong(ticket)) {
        ondemandNextStep();
    }
    json_make_status_json();
}

int fetch_song_addresses(const SongTicket& ticket, std::string& why) {
    int sent = get_status() != 0 ? request_downloadurl(ticket, isGratisMember()) : -1;
    json_make_status_json();
    // A request that cannot be sent is shown as an unreadable answer is.
    why = "downloadUrl";
    return sent;
}

int fetch_song_files(const SongTicket& ticket, std::string& why) {
    int started = get_status() != 0 ? start_files(ticket, why) : -1;
    json_make_status_json();
    return started;
}

void do_download(uint64_t id) {
    if (get_status() == 0) {
        return;
    }
    std::string why;
    if (start_files(SongTicket{id, 0}, why) != 0) {
        json_make_dlg_error("Error", why);
    }
    json_make_status_json();
}

void do_download(const char* id) {
    unsigned long long value = 0;
    if (str::parse_number(id, UINT64_MAX, value)) {
        do_download(static_cast<uint64_t>(value));
        json_make_status_json();
    }
}

void callback_download(int status, const std::string& path, void* user) {
    answer_download(SongTicket{curl_id_of_user(user), 0}, status, path);
}

void answer_download(const SongTicket& ticket, int status, const std::string& path) {
    if (!is_success_status(status)) {
        file_recorded(ticket, status, path, -1);
        // The status file counts the requests under way, one fewer now.
        json_make_status_json();
        return;
    }
    // An archive is unpacked by a child of the loop: the song goes on when
    // it has ended.
    contents_set(ticket.id, path, [ticket, status, path](int kind) {
        file_recorded(ticket, status, path, kind);
        json_make_status_json();
    });
}

void forget_downloads() {
    fetching_.clear();
}
